#pragma once
#include <cstdint>

#include "app/win32_handles.h"

// The whole contents of the file at path in a new fixed block owned by the caller, or an empty
// owner when the file cannot be opened for reading, sized or read in full. *size (when given)
// receives the byte count on success only. An empty file gives a block (of one byte) and 0.
UniqueGlobal ReadWholeFile(const char* path, std::uint32_t* size);
