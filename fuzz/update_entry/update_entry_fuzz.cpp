// ParseUpdateEntry and ParseCopyEntry over an arbitrary value and install mode: an accepted
// entry's paths are NUL-terminated within their buffers, baseNameOffset lies within the
// relative path, and a refused value leaves the entry untouched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/update_entry.h"

namespace {

template <typename Record>
bool Untouched(const Record& record) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
  for (std::size_t i = 0; i < sizeof record; ++i) {
    if (bytes[i] != 0xA5) return false;
  }
  return true;
}

bool Terminated(const char* text, std::size_t capacity) {
  return std::memchr(text, '\0', capacity) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::int32_t installMode = data[0] % 12;  // 0 to 9, and two that no digit names
  std::vector<char> value(data + 1, data + size);
  value.push_back('\0');

  UpdateEntry update;
  std::memset(&update, 0xA5, sizeof update);
  if (ParseUpdateEntry(value.data(), installMode, &update)) {
    if (!Terminated(update.relativePath, sizeof update.relativePath)) std::abort();
    const std::size_t length = std::strlen(update.relativePath);
    if (update.baseNameOffset < 0 || static_cast<std::size_t>(update.baseNameOffset) > length) {
      std::abort();
    }
  } else if (!Untouched(update)) {
    std::abort();
  }

  CopyEntry copy;
  std::memset(&copy, 0xA5, sizeof copy);
  if (ParseCopyEntry(value.data(), installMode, &copy)) {
    if (!Terminated(copy.sourcePath, sizeof copy.sourcePath)) std::abort();
    if (copy.diskNumber < 0 || copy.diskNumber > 9) std::abort();
  } else if (!Untouched(copy)) {
    std::abort();
  }
  return 0;
}
