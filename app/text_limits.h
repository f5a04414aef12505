#pragma once
// Capacities of the fixed text buffers, in bytes, the terminating NUL included.
#include <cstddef>

constexpr std::size_t kPathCapacity = 260;    // names and paths (the platform's MAX_PATH)
constexpr std::size_t kTextCapacity = 1024;   // lists, message texts and the caption
constexpr std::size_t kNumberCapacity = 20;   // integers read as text
