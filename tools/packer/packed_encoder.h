#pragma once
// Greedy packer for the packed stream format: at each position the longest match (2 to 282
// bytes, at most 8192 back), the nearest among equally long ones; a 2-byte match only within
// 2303 bytes; otherwise a literal. The stream ends with the end marker, and the bits left in the
// last control word after it are one 1 bit followed by 0 bits.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Called now and then with the input bytes consumed so far; may be empty.
using EncodeProgress = std::function<void(std::size_t done)>;

std::vector<std::uint8_t> EncodePacked(const std::uint8_t* data, std::size_t size,
                                       const EncodeProgress& progress = {});
