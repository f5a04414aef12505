#pragma once
// Whether bytes are sound code page 932 (Shift_JIS) text.
#include <cstddef>
#include <string>

// Offset of the first byte that is no character of code page 932 (a lone 0x80, 0xA0 or
// 0xFD..0xFF, a lead byte without a trail byte 0x40..0x7E or 0x80..0xFC), or npos.
std::size_t FindInvalidCp932(const std::string& text);

// True when the text holds non-ASCII bytes and all of them form UTF-8 sequences: text saved
// in the wrong encoding, which the updater would show garbled.
bool LooksLikeUtf8(const std::string& text);

// A reason for text that is not sound code page 932, or empty when it is.
std::string DescribeCp932Problem(const std::string& text);
