#include "config/update_entry.h"

#include <cstring>

#include "app/cp932.h"
#include "config/list_field.h"
#include "config/profile_value.h"

namespace {

constexpr int kEntryFields = 3;  // digit, letter, path: a fourth field is never looked at

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsModeFilter(const char* field) { return IsDigit(field[0]) && field[1] == '\0'; }

// The mode a one-letter field selects; false for any other field.
bool ModeLetter(const char* field, UpdateMode* mode) {
  if (field[0] == '\0' || field[1] != '\0') return false;
  switch (field[0]) {
    case 'd':
    case 'D':
      *mode = modeData;
      return true;
    case 'u':
    case 'U':
      *mode = modeNewer;
      return true;
    case 'o':
    case 'O':
      *mode = modeExisting;
      return true;
    default:
      return false;
  }
}

std::int32_t BaseNameOffset(const char* path) {
  std::int32_t offset = 0;
  for (const char* at = path; *at != '\0'; at = NextCp932Char(at)) {
    if (*at == '\\') offset = static_cast<std::int32_t>(at - path) + 1;
  }
  return offset;
}

}  // namespace

bool ParseUpdateEntry(const char* value, std::int32_t installMode, UpdateEntry* entry) {
  // Split until the first call that finds no field; that field and the later ones stay empty.
  char fields[kEntryFields][kPathCapacity] = {};
  std::int32_t diskNumber = 0;  // a prefix only strips its two bytes here
  const char* cursor = value;
  for (int i = 0; i < kEntryFields; ++i) {
    if (!NextListField(fields[i], kPathCapacity, &cursor, &diskNumber)) break;
  }

  int next = 0;
  if (IsModeFilter(fields[0])) {
    if (installMode != fields[0][0] - '0') return false;
    next = 1;
  }
  UpdateMode mode = modePlain;
  if (ModeLetter(fields[next], &mode)) ++next;
  const char* path = fields[next];  // next is at most 2

  std::memset(entry, 0, sizeof *entry);
  entry->mode = mode;
  std::memcpy(entry->relativePath, path, std::strlen(path) + 1);
  entry->baseNameOffset = BaseNameOffset(entry->relativePath);
  return true;
}

bool ParseCopyEntry(const char* value, std::int32_t installMode, CopyEntry* entry) {
  const char* rest = value;
  if (rest[0] != '\0' && rest[1] == ',') {
    if (installMode != rest[0] - '0') return false;
    rest += 2;
  }
  std::int32_t diskNumber = 0;
  if (IsDigit(rest[0]) && rest[1] == ':') {
    diskNumber = rest[0] - '0';
    rest += 2;
  }

  std::memset(entry, 0, sizeof *entry);
  entry->diskNumber = diskNumber;
  CopyWholeCharacters(entry->sourcePath, sizeof entry->sourcePath, rest);
  return true;
}
