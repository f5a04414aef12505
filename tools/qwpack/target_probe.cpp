#include "tools/qwpack/target_probe.h"

#include <cstring>

#include "app/cp932.h"
#include "tools/qwpack/cp932_text.h"
#include "tools/qwpack/file_io.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace {

bool IsSeparatorAt(const char* at, const char* next) {
  return next == at + 1 && (*at == '\\' || *at == '/');
}

#ifndef _WIN32
bool SameIgnoringAsciiCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return *a == *b;
}

// A component as the file system names it: Wine and Linux keep names in UTF-8, the manifest
// writes them in code page 932. A component that is already UTF-8 (typed on the command line)
// stays as it is.
std::string ToFileSystemName(const std::string& component) {
  bool ascii = true;
  for (char c : component) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii || LooksLikeUtf8(component)) return component;
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) return component;
  std::string input = component;
  std::string output(component.size() * 3 + 1, '\0');
  char* in = &input[0];
  char* out = &output[0];
  std::size_t inLeft = input.size(), outLeft = output.size();
  const bool converted =
      iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(converter);
  if (!converted) return component;
  output.resize(output.size() - outLeft);
  return output;
}

// folder/component, spelled as it exists when only the letter case differs.
std::string JoinMatching(const std::string& folder, const std::string& component) {
  const std::string prefix = folder.empty() ? "" : folder == "/" ? "/" : folder + "/";
  const std::string exact = prefix + component;
  struct stat status;
  if (component.empty() || component == "." || component == ".." ||
      lstat(exact.c_str(), &status) == 0) {
    return exact;
  }
  DIR* directory = opendir(folder.empty() ? "." : folder.c_str());
  if (directory == nullptr) return exact;
  std::string match = exact;
  while (const dirent* entry = readdir(directory)) {
    if (SameIgnoringAsciiCase(entry->d_name, component.c_str())) {
      match = prefix + entry->d_name;
      break;
    }
  }
  closedir(directory);
  return match;
}
#endif

}  // namespace

std::string LocalPath(const std::string& path) {
#ifdef _WIN32
  return path;
#else
  std::string result;
  std::string component;
  const char* start = path.c_str();
  if (IsSeparatorAt(start, NextCp932Char(start))) result = "/";
  for (const char* at = start;;) {
    const char* next = NextCp932Char(at);
    if (*at == '\0' || IsSeparatorAt(at, next)) {
      if (!component.empty()) result = JoinMatching(result, ToFileSystemName(component));
      component.clear();
      if (*at == '\0') break;
    } else {
      component.append(at, next);
    }
    at = next;
  }
  return result;
#endif
}

TargetState ProbeTarget(const std::string& path) {
  TargetState state;
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return state;
  state.exists = true;
  state.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (state.isDirectory) return state;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    state.readable = true;
    FILETIME time;
    if (GetFileTime(file, nullptr, nullptr, &time)) {
      state.lastWriteTime = std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
    }
    CloseHandle(file);
  }
#else
  const std::string local = LocalPath(path);
  struct stat status;
  if (stat(local.c_str(), &status) != 0) return state;
  state.exists = true;
  state.isDirectory = S_ISDIR(status.st_mode);
  if (state.isDirectory) return state;
  state.readable = access(local.c_str(), R_OK) == 0;
  std::string error;
  ReadLastWriteTime(local, &state.lastWriteTime, &error);
#endif
  return state;
}

std::string ParentOf(const std::string& path) {
  std::size_t last = std::string::npos;
  for (const char* at = path.c_str(); *at != '\0';) {
    const char* next = NextCp932Char(at);
    if (IsSeparatorAt(at, next)) last = static_cast<std::size_t>(at - path.c_str());
    at = next;
  }
  return last == std::string::npos ? std::string() : path.substr(0, last);
}

bool FreeBytesAt(const std::string& path, std::uint64_t* freeBytes) {
#ifdef _WIN32
  ULARGE_INTEGER available, total, totalFree;
  if (!GetDiskFreeSpaceExA(path.c_str(), &available, &total, &totalFree)) return false;
  *freeBytes = available.QuadPart;
#else
  struct statvfs status;
  if (statvfs(LocalPath(path).c_str(), &status) != 0) return false;
  *freeBytes = static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
#endif
  return true;
}
