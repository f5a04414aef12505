// WriteWholeFile: all or nothing. The bytes go to a staged file beside the target (the target's
// path followed by kStagedSuffix, so it lies in the same folder and on the same drive), made
// anew with CREATE_NEW so that nothing standing at that name is opened or followed; once it is
// written and stamped, one rename puts it in the target's place. Until that rename the target
// is untouched, and every failure removes the staged file, so a locked target, a full disk or
// a killed process never leaves the target empty or cut short.
#include <cstring>

#include "app/text_limits.h"
#include "package/package_reader.h"

namespace {

// Appended to the target's path to name its staged file. A staged file left behind by an
// interrupted run is removed by the next write of the same target.
constexpr char kStagedSuffix[] = ".~qwnew";

// targetPath + kStagedSuffix in staged; false when the result does not fit a path buffer.
bool StagedPathFor(const char* targetPath, char (&staged)[kPathCapacity]) {
  const std::size_t length = std::strlen(targetPath);
  if (length + sizeof kStagedSuffix > sizeof staged) return false;
  std::memcpy(staged, targetPath, length);
  std::memcpy(staged + length, kStagedSuffix, sizeof kStagedSuffix);
  return true;
}

// The size bytes in one WriteFile call, then all three times when given.
bool WriteContents(HANDLE file, const void* data, std::uint32_t size, const FILETIME* times) {
  DWORD written = 0;
  if (!WriteFile(file, data, size, &written, nullptr) || written != size) return false;
  return !times || SetFileTime(file, times, times, times);
}

// Creates path with the given disposition and writes it; false when it cannot be created or
// written in full. The file stays as far as it got: the caller decides what to remove.
bool CreateAndWrite(const char* path, DWORD disposition, const void* data, std::uint32_t size,
                    const FILETIME* times, bool* created) {
  UniqueFile file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  *created = file.valid();
  return file && WriteContents(file.get(), data, size, times);
}

}  // namespace

bool WriteWholeFile(const char* targetPath, const void* data, std::uint32_t size,
                    const FILETIME* times) {
  bool created = false;
  char staged[kPathCapacity];
  if (!StagedPathFor(targetPath, staged)) {
    // No name beside a target this long fits a path: it is written in place, as far as it gets.
    return CreateAndWrite(targetPath, CREATE_ALWAYS, data, size, times, &created);
  }
  // A leftover of an interrupted run. DeleteFileA removes a link itself, never what it names;
  // whatever cannot be removed makes CREATE_NEW fail below.
  DeleteFileA(staged);
  if (!CreateAndWrite(staged, CREATE_NEW, data, size, times, &created)) {
    if (created) DeleteFileA(staged);
    return false;
  }
  // The rename keeps the staged file's contents, attributes and times. It fails, leaving the
  // target as it was, where the target is a folder or open in another program.
  if (!MoveFileExA(staged, targetPath, MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(staged);
    return false;
  }
  return true;
}
