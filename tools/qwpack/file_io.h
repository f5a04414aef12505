#pragma once
// Whole-file reads and writes for qwpack, the same on Linux and Windows.
#include <cstdint>
#include <string>
#include <vector>

// The file's bytes, or false with a one-line reason in *error.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error);

// The file's last-write time as a FILETIME (100 ns ticks since 1601-01-01 UTC).
bool ReadLastWriteTime(const std::string& path, std::uint64_t* fileTime, std::string* error);

// Writes bytes to a new file beside path, then renames it over path: path ends up either
// complete or as it was, and no partial file is left behind.
bool ReplaceWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                      std::string* error);

// The last path component: the default member name for a FILE argument.
std::string BaseName(const std::string& path);
