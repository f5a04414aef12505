#include "tools/qwpack/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include "app/cp932.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// FILETIME of the Unix epoch: seconds from 1601 to 1970, in 100 ns ticks.
constexpr std::uint64_t kUnixEpochFileTime = 11644473600ull * 10000000ull;

std::string Reason(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool RenameOver(const std::string& from, const std::string& to) {
#ifdef _WIN32
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

std::string TemporaryPathBeside(const std::string& path) {
#ifdef _WIN32
  const unsigned long process = GetCurrentProcessId();
#else
  const unsigned long process = static_cast<unsigned long>(getpid());
#endif
  return path + ".qwpack-" + std::to_string(process) + ".tmp";
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = Reason("cannot open", path);
    return false;
  }
  std::vector<std::uint8_t> contents;
  std::uint8_t chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    contents.insert(contents.end(), chunk, chunk + got);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    *error = Reason("cannot read", path);
    return false;
  }
  *bytes = std::move(contents);
  return true;
}

bool ReadLastWriteTime(const std::string& path, std::uint64_t* fileTime, std::string* error) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    *error = "cannot read the time of " + path;
    return false;
  }
  *fileTime = std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
              data.ftLastWriteTime.dwLowDateTime;
#else
  struct stat status;
  if (stat(path.c_str(), &status) != 0) {
    *error = Reason("cannot read the time of", path);
    return false;
  }
  if (status.st_mtim.tv_sec < -11644473600LL) {
    *error = "file time before 1601: " + path;
    return false;
  }
  *fileTime = static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 10000000ull + kUnixEpochFileTime +
              static_cast<std::uint64_t>(status.st_mtim.tv_nsec) / 100;
#endif
  return true;
}

bool ReplaceWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                      std::string* error) {
  const std::string temporary = TemporaryPathBeside(path);
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) {
    *error = Reason("cannot create", temporary);
    return false;
  }
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    *error = Reason("cannot write", temporary);
    std::remove(temporary.c_str());
    return false;
  }
  if (!RenameOver(temporary, path)) {
    *error = Reason("cannot replace", path);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

std::string BaseName(const std::string& path) {
  std::size_t start = 0;
#ifdef _WIN32
  // Windows paths are code page 932: a trail byte 0x5C is no separator.
  for (const char* at = path.c_str(); *at != '\0';) {
    const char* next = NextCp932Char(at);
    if (next == at + 1 && (*at == '\\' || *at == '/' || *at == ':')) start = next - path.c_str();
    at = next;
  }
#else
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos) start = slash + 1;
#endif
  return path.substr(start);
}
