#include "config/profile_value.h"

#include <cstring>
#include <limits>

#include "app/cp932.h"

namespace {

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipWhiteSpace(const char* text) {
  while (IsWhiteSpace(*text)) ++text;
  return text;
}

// Digits from text on, as a magnitude that stops at limit.
std::uint64_t ParseMagnitude(const char* text, std::uint64_t limit) {
  std::uint64_t value = 0;
  for (; IsDigit(*text); ++text) {
    const unsigned digit = static_cast<unsigned>(*text - '0');
    if (value > (limit - digit) / 10) return limit;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::int32_t ParseDecimalInt32(const char* text) {
  text = SkipWhiteSpace(text);
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int32_t>::max();
  const std::uint64_t magnitude = ParseMagnitude(text, negative ? kMaxPositive + 1 : kMaxPositive);
  if (negative) return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
  return static_cast<std::int32_t>(magnitude);
}

std::uint64_t ParseDecimalUint64(const char* text) {
  text = SkipWhiteSpace(text);
  if (*text == '+') ++text;
  return ParseMagnitude(text, std::numeric_limits<std::uint64_t>::max());
}

std::size_t WholeCharactersWithin(const char* text, std::size_t length, std::size_t limit) {
  std::size_t at = 0;
  while (at < length) {
    const std::size_t step =
        (IsCp932LeadByte(static_cast<unsigned char>(text[at])) && at + 1 < length) ? 2 : 1;
    if (at + step > limit) break;
    at += step;
  }
  return at;
}

void CopyWholeCharacters(char* buffer, std::size_t capacity, const char* text) {
  const std::size_t length = std::strlen(text);
  const std::size_t kept =
      length < capacity ? length : WholeCharactersWithin(text, length, capacity - 1);
  std::memcpy(buffer, text, kept);
  buffer[kept] = '\0';
}

void DropCutLeadByte(char* value) {
  const std::size_t length = std::strlen(value);
  const std::size_t last = LastCp932CharOffset(value, length);
  if (last + 1 == length && IsCp932LeadByte(static_cast<unsigned char>(value[last]))) {
    value[last] = '\0';
  }
}
