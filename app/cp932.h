#pragma once
// Code page 932 (Shift_JIS) character rules, the same on every build.
#include <cstddef>

// Lead bytes of double-byte characters: 0x81..0x9F and 0xE0..0xFC.
constexpr bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Start of the character after the one at text. Stays put on the terminating NUL; a lead byte
// directly before the NUL is a character of its own, so the NUL is never stepped over.
inline const char* NextCp932Char(const char* text) {
  if (*text == '\0') return text;
  if (IsCp932LeadByte(static_cast<unsigned char>(text[0])) && text[1] != '\0') return text + 2;
  return text + 1;
}

// Offset of the first byte of the last character of text[0, length), or length when empty.
inline std::size_t LastCp932CharOffset(const char* text, std::size_t length) {
  std::size_t last = length;
  for (std::size_t at = 0; at < length;) {
    last = at;
    const std::size_t step =
        (IsCp932LeadByte(static_cast<unsigned char>(text[at])) && at + 1 < length) ? 2 : 1;
    at += step;
  }
  return last;
}
