#pragma once
// Rules for the text of one profile value, the same on every build.
#include <cstddef>
#include <cstdint>

// A signed decimal: leading white space, an optional sign, then digits up to the first other
// character. Text without leading digits gives 0. Values beyond 32 bits stop at INT32_MIN or
// INT32_MAX.
std::int32_t ParseDecimalInt32(const char* text);

// An unsigned decimal: leading white space, an optional "+", then digits up to the first other
// character. Text without leading digits (a "-" included: a size is never negative) gives 0.
// Values beyond 64 bits stop at UINT64_MAX.
std::uint64_t ParseDecimalUint64(const char* text);

// Length of the longest start of text[0, length) that holds whole code page 932 characters and
// has at most limit bytes. A lead byte at the very end of the text counts as a character.
std::size_t WholeCharactersWithin(const char* text, std::size_t length, std::size_t limit);

// Copies text into buffer (capacity bytes, at least 1), cut to the whole characters that fit.
void CopyWholeCharacters(char* buffer, std::size_t capacity, const char* text);

// A value cut to fit its buffer may end in the lead byte of a double-byte character whose trail
// byte did not fit: that lone byte is replaced by NUL, so the value holds whole characters only.
void DropCutLeadByte(char* value);
