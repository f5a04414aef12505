#include "tools/qwpack/profile_file.h"

#include <cstring>

#include "config/profile_value.h"
#include "tools/qwpack/file_io.h"

namespace {

// The platform's blanks around lines, names and values; 0x1A is the old end-of-file mark.
bool IsProfileBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A; }

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsProfileBlank(text[begin])) ++begin;
  while (end > begin && IsProfileBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string StripQuotes(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

bool ProfileNameEquals(const std::string& a, const char* b) {
  const std::size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool ProfileFile::Load(const std::string& path, std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;
  Parse(std::string(bytes.begin(), bytes.end()));
  return true;
}

void ProfileFile::Parse(const std::string& text) {
  sections_.clear();
  sections_.push_back(ProfileSection{"", {}, 0});  // keys before the first header
  // A UTF-8 byte order mark opens no line (Wine reads such a file as UTF-8).
  std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int line = 0;
  while (at < text.size()) {
    std::size_t end = at;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    ++line;
    const std::string content = Trim(text.substr(at, end - at));
    at = end;
    if (at < text.size() && text[at] == '\r') ++at;
    if (at < text.size() && text[at] == '\n') ++at;
    if (content.empty()) continue;
    if (content[0] == '[') {
      const std::size_t close = content.rfind(']');
      const std::size_t nameEnd = close == std::string::npos || close == 0 ? content.size() : close;
      sections_.push_back(ProfileSection{content.substr(1, nameEnd - 1), {}, line});
      continue;
    }
    const std::size_t equals = content.find('=');
    ProfileKey key;
    key.line = line;
    if (equals == std::string::npos) {
      key.name = content;
    } else {
      key.name = Trim(content.substr(0, equals));
      key.value = StripQuotes(Trim(content.substr(equals + 1)));
    }
    sections_.back().keys.push_back(std::move(key));
  }
}

const ProfileSection* ProfileFile::FindSection(const char* name) const {
  for (const ProfileSection& section : sections_) {
    if (section.line != 0 && ProfileNameEquals(section.name, name)) return &section;
  }
  return nullptr;
}

const ProfileKey* ProfileFile::Find(const char* section, const char* key) const {
  const ProfileSection* found = FindSection(section);
  if (found == nullptr) return nullptr;
  for (const ProfileKey& entry : found->keys) {
    if (ProfileNameEquals(entry.name, key)) return &entry;
  }
  return nullptr;
}

bool ProfileFile::Read(const char* section, const char* key, char* value,
                       std::size_t capacity) const {
  std::memset(value, 0, capacity);
  const ProfileKey* found = Find(section, key);
  if (found == nullptr || found->value.empty()) return false;
  const std::size_t copied = found->value.size() < capacity ? found->value.size() : capacity - 1;
  std::memcpy(value, found->value.data(), copied);
  if (copied + 1 >= capacity) DropCutLeadByte(value);
  return true;
}
