#pragma once
// Real files and folders for the end-to-end tests. Paths are Windows paths in code page 932.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A Unix path (/tmp/b/UPDATE.exe, as CMake knows it) as the Windows path of Wine's root drive
// Z: (Z:\tmp\b\UPDATE.exe); any other path is returned unchanged.
std::string ToWindowsPath(const std::string& path);

std::string JoinPath(const std::string& folder, const std::string& name);

// The test process's temp folder (GetTempPathA), which a child inherits unless
// RunOptions::tempFolder gives it another: the prefix's %TEMP% in a plain ctest run.
std::string ProcessTempFolder();

// A new, empty folder of its own under the test process's temp folder, removed with everything
// in it when the owner goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* label = "qwtest");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string Join(const std::string& name) const { return JoinPath(path_, name); }

 private:
  std::string path_;
};

// Makes a folder (its parent must exist); true when it exists afterwards as a folder.
bool MakeFolder(const std::string& path);
// Removes a file or a folder with everything in it, read-only entries included.
void RemoveTree(const std::string& path);

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool WriteText(const std::string& path, const std::string& text);
// False when the file cannot be opened or read.
bool ReadBytes(const std::string& path, std::vector<std::uint8_t>* bytes);
std::vector<std::uint8_t> ToBytes(const std::string& text);

// INVALID_FILE_ATTRIBUTES when the path does not exist.
DWORD Attributes(const std::string& path);
// The last-write time as a FILETIME value, or 0 when the path cannot be queried.
std::uint64_t LastWriteTime(const std::string& path);
// The size of a file in bytes, or -1 when there is none.
std::int64_t FileSize(const std::string& path);
// size bytes that do not pack (like archives of already compressed data), the same for a seed.
std::vector<std::uint8_t> PseudoRandomBytes(std::size_t size, unsigned seed);
bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);

// Everything below folder, as paths relative to it, sorted; folders end with a backslash.
std::vector<std::string> ListTree(const std::string& folder);
// The list for assertion messages.
std::string Describe(const std::vector<std::string>& names);
