#include "config/list_field.h"

#include <cstring>

#include "config/profile_value.h"

namespace {

bool EndsField(char c) { return c == '\0' || c == '\r' || c == '\n' || c == ','; }

}  // namespace

bool NextListField(char* field, std::size_t fieldCapacity, const char** cursor,
                   std::int32_t* diskNumber) {
  const char* at = *cursor;
  while (*at == ' ') ++at;
  if (EndsField(*at)) {
    *cursor = at;
    return false;
  }

  if (at[1] == ':') {
    *diskNumber = (at[0] >= '0' && at[0] <= '9') ? at[0] - '0' : 0;
    at += 2;
  }

  const char* end = at;
  while (!EndsField(*end)) ++end;
  const std::size_t length = static_cast<std::size_t>(end - at);
  const std::size_t kept =
      length < fieldCapacity ? length : WholeCharactersWithin(at, length, fieldCapacity - 1);
  std::memcpy(field, at, kept);
  field[kept] = '\0';

  *cursor = *end == '\0' ? end : end + 1;
  return true;
}
