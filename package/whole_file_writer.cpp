// WriteWholeFile: all or nothing. The bytes go to a staged file beside the target (the target's
// path followed by kStagedSuffix, so it lies in the same folder and on the same drive), made
// anew with CREATE_NEW so that nothing standing at that name is opened or followed; once it is
// written and stamped, one rename puts it in the target's place. Until that rename the target
// is untouched, and every failure removes the staged file, so a locked target, a full disk or
// a killed process never leaves the target empty or cut short.
//
// Whatever already stands at the staged name (a file left by an interrupted run, or a link) is
// never opened or deleted, since deleting can follow a link on some platforms: the bytes then
// go to a file of a free name beside it, which is renamed onto the staged name first. A rename
// replaces a name itself, never what a link names, and so disposes of the leftover.
#include <cstring>

#include "app/text_limits.h"
#include "package/package_reader.h"

namespace {

// Appended to the target's path to name its staged file. A staged file left behind by an
// interrupted run is removed by the next write of the same target.
constexpr char kStagedSuffix[] = ".~qwnew";

// Files of free names tried beside a taken staged name: the staged name followed by 1 to 9.
constexpr int kSpareNames = 9;

// targetPath + kStagedSuffix in staged, with room for one more character; false when that does
// not fit a path buffer.
bool StagedPathFor(const char* targetPath, char (&staged)[kPathCapacity]) {
  const std::size_t length = std::strlen(targetPath);
  if (length + sizeof kStagedSuffix + 1 > sizeof staged) return false;
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

// Writes the bytes to a new file at path or, when that name is taken, at the first free spare
// name (path followed by a digit), which then replaces path by a rename. False, with no new
// file left, when neither can be made, written or renamed.
bool WriteStagedFile(const char* path, const void* data, std::uint32_t size,
                     const FILETIME* times) {
  char spare[kPathCapacity];
  const std::size_t length = std::strlen(path);
  std::memcpy(spare, path, length + 1);
  for (int attempt = 0; attempt <= kSpareNames; ++attempt) {
    if (attempt > 0) {
      spare[length] = static_cast<char>('0' + attempt);
      spare[length + 1] = '\0';
    }
    bool created = false;
    if (CreateAndWrite(spare, CREATE_NEW, data, size, times, &created)) {
      if (attempt == 0) return true;
      if (MoveFileExA(spare, path, MOVEFILE_REPLACE_EXISTING)) return true;
      DeleteFileA(spare);
      return false;
    }
    if (created) {  // made but not written in full: it is this call's own file
      DeleteFileA(spare);
      return false;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

}  // namespace

bool WriteWholeFile(const char* targetPath, const void* data, std::uint32_t size,
                    const FILETIME* times) {
  char staged[kPathCapacity];
  if (!StagedPathFor(targetPath, staged)) {
    // No name beside a target this long fits a path: it is written in place, as far as it gets.
    bool created = false;
    return CreateAndWrite(targetPath, CREATE_ALWAYS, data, size, times, &created);
  }
  if (!WriteStagedFile(staged, data, size, times)) return false;
  // The rename keeps the staged file's contents, attributes and times. It fails, leaving the
  // target as it was, where the target is a folder or open in another program.
  if (!MoveFileExA(staged, targetPath, MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(staged);
    return false;
  }
  return true;
}
