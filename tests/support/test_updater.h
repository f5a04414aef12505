#pragma once
// Test copies of the real UPDATE.exe, each carrying the package a test gives it.
#include <cstdint>
#include <string>
#include <vector>

// The UPDATE.exe of this build (the compile definition QW_UPDATER_EXE, set by CMake), as a
// Windows path.
std::string BuiltUpdaterPath();

// Copies the built UPDATE.exe to folder\UPDATE.exe and makes package its only resource
// "UPDATE"/102. Returns the copy's path, or an empty string after a test failure.
std::string MakeTestUpdater(const std::string& folder, const std::vector<std::uint8_t>& package);

// The same copy without the resource "UPDATE"/102.
std::string MakeTestUpdaterWithoutPackage(const std::string& folder);

// Reads the resource "UPDATE"/102 of an executable file, loaded as a data file.
bool ReadPackageResource(const std::string& exePath, std::vector<std::uint8_t>* package);

// The package of the built UPDATE.exe (the demo package in a default build); a test failure
// when it cannot be read.
std::vector<std::uint8_t> BuiltPackage();

// A member of a package, as the updater would write it: its decoded bytes and its time.
struct PackageMemberCopy {
  std::vector<std::uint8_t> bytes;
  std::uint64_t lastWriteTime;  // FILETIME
};
// The first member named name (without regard to case); false when the package has none or
// cannot be read.
bool ReadPackageMember(const std::vector<std::uint8_t>& package, const char* name,
                       PackageMemberCopy* member);
