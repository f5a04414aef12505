#include "app/read_whole_file.h"

UniqueGlobal ReadWholeFile(const char* path, std::uint32_t* size) {
  UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};

  // The size must fit the 32-bit count that the block and the out-argument carry.
  DWORD sizeHigh = 0;
  const DWORD fileSize = GetFileSize(file.get(), &sizeHigh);
  if (fileSize == INVALID_FILE_SIZE || sizeHigh != 0) return {};

  // A zero-byte request is not a distinct block everywhere: ask for one byte, so that an empty
  // file reads as an empty file rather than as a failure.
  UniqueGlobal block = AllocateFixed(fileSize != 0 ? fileSize : 1);
  if (!block) return {};

  DWORD bytesRead = 0;
  if (!ReadFile(file.get(), block.get(), fileSize, &bytesRead, nullptr) || bytesRead != fileSize) {
    return {};
  }
  if (size) *size = fileSize;
  return block;
}
