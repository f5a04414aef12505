#include "tools/qwpack/cp932_text.h"

#include <cstdio>

#include "app/cp932.h"

namespace {

bool IsTrailByte(unsigned char byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

bool IsInvalidSingle(unsigned char byte) { return byte == 0x80 || byte == 0xA0 || byte >= 0xFD; }

}  // namespace

std::size_t FindInvalidCp932(const std::string& text) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (IsCp932LeadByte(byte)) {
      if (at + 1 == text.size() || !IsTrailByte(static_cast<unsigned char>(text[at + 1]))) {
        return at;
      }
      ++at;
    } else if (IsInvalidSingle(byte)) {
      return at;
    }
  }
  return std::string::npos;
}

bool LooksLikeUtf8(const std::string& text) {
  bool sawMultibyte = false;
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      ++at;
      continue;
    }
    std::size_t length = byte >= 0xF0 && byte <= 0xF4  ? 4
                         : byte >= 0xE0                ? 3
                         : byte >= 0xC2 && byte < 0xE0 ? 2
                                                       : 0;
    if (byte > 0xF4) length = 0;
    if (length == 0 || at + length > text.size()) return false;
    for (std::size_t i = 1; i < length; ++i) {
      if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
    }
    sawMultibyte = true;
    at += length;
  }
  return sawMultibyte;
}

std::string DescribeCp932Problem(const std::string& text) {
  if (LooksLikeUtf8(text)) return "text is UTF-8, not code page 932: the updater shows it garbled";
  const std::size_t bad = FindInvalidCp932(text);
  if (bad == std::string::npos) return {};
  char reason[96];
  std::snprintf(reason, sizeof reason, "not valid code page 932 text: byte 0x%02X at offset %zu",
                static_cast<unsigned char>(text[bad]), bad);
  return reason;
}
