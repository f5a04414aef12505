#pragma once
// Little-endian fields of a byte image, read and written only inside the image: every accessor
// takes the offset of its field and reports whether the field lies within the bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// True when [offset, offset + length) lies within a sequence of size bytes.
inline bool SpanFits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

inline bool Read16(const Bytes& bytes, std::uint64_t offset, std::uint16_t* value) {
  if (!SpanFits(offset, 2, bytes.size())) return false;
  *value = static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
  return true;
}

inline bool Read32(const Bytes& bytes, std::uint64_t offset, std::uint32_t* value) {
  if (!SpanFits(offset, 4, bytes.size())) return false;
  *value = std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
           std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24;
  return true;
}

// Writers for offsets the caller has already checked.
inline void Write16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void Write32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// value brought up to the next multiple of alignment (a power of two); 64 bits so nothing wraps.
inline std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}
