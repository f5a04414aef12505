#pragma once
// What the updater would find at a path it forms (backslash-separated, code page 932), read
// from the file system now. On Windows the path is used as it is; elsewhere each backslash that
// is a separator becomes a slash and every component is matched without regard to ASCII letter
// case, as Windows and Wine match them.
#include <cstdint>
#include <string>

struct TargetState {
  bool exists = false;
  bool isDirectory = false;
  bool readable = false;            // a file that opens for reading
  std::uint64_t lastWriteTime = 0;  // FILETIME, for files
};

TargetState ProbeTarget(const std::string& path);

// The folder that holds path (everything before its last separator), or empty.
std::string ParentOf(const std::string& path);

// Bytes free to the caller on the file system of path; false when that cannot be asked.
bool FreeBytesAt(const std::string& path, std::uint64_t* freeBytes);

// The path as the local file system spells it (see above).
std::string LocalPath(const std::string& path);
