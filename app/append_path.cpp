#include "app/append_path.h"

#include <cstring>

#include "app/cp932.h"

bool AppendPath(char* buffer, std::size_t capacity, const char* name) {
  const std::size_t pathLength = std::strlen(buffer);
  const std::size_t nameLength = std::strlen(name);

  bool needsSeparator = false;
  if (pathLength > 0) {
    const std::size_t last = LastCp932CharOffset(buffer, pathLength);
    const bool singleByte = last == pathLength - 1;
    const char c = buffer[last];
    needsSeparator = !(singleByte && (c == '\\' || c == '/'));
  }

  const std::size_t joinedLength = pathLength + (needsSeparator ? 1 : 0) + nameLength;
  if (joinedLength + 2 > capacity) return false;

  char* out = buffer + pathLength;
  if (needsSeparator) *out++ = '\\';
  std::memcpy(out, name, nameLength);
  out[nameLength] = '\0';
  out[nameLength + 1] = '\0';
  return true;
}
