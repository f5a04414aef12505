// NextListField over an arbitrary value, at every field capacity from 1 to a little over the
// system's path capacity: the field is never written past its capacity, always NUL-terminated
// when written, the cursor only moves forward within the value, and the list ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/list_field.h"

namespace {
constexpr std::size_t kCanary = 8;
constexpr unsigned char kFill = 0xA5;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the capacity; the rest, NUL-terminated, is the value.
  const std::size_t capacity = 1 + data[0] % 270;
  std::vector<char> value(data + 1, data + size);
  value.push_back('\0');
  const char* const end = value.data() + std::strlen(value.data());

  std::vector<char> field(capacity + kCanary);
  const char* cursor = value.data();
  std::int32_t diskNumber = -1;
  for (std::size_t calls = 0;; ++calls) {
    if (calls > value.size()) std::abort();  // every call that succeeds consumes a byte
    std::memset(field.data(), kFill, field.size());
    const char* before = cursor;
    const bool more = NextListField(field.data(), capacity, &cursor, &diskNumber);
    for (std::size_t i = capacity; i < field.size(); ++i) {
      if (static_cast<unsigned char>(field[i]) != kFill) std::abort();
    }
    if (cursor < before || cursor > end) std::abort();
    if (diskNumber < -1 || diskNumber > 9) std::abort();
    if (!more) {
      if (static_cast<unsigned char>(field[0]) != kFill) std::abort();  // not written
      break;
    }
    if (std::memchr(field.data(), '\0', capacity) == nullptr) std::abort();
    if (cursor == before) std::abort();
  }
  return 0;
}
