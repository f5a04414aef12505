#pragma once
// Operations on the package embedded in the executable (g_updater.packageData, packageSize,
// packageIndex). Every size, position and decoded length is checked against the package and
// against the block it is decoded into; a package that would reach outside fails the operation.
#include <windows.h>

#include <cstdint>

#include "app/win32_handles.h"
#include "package/package_format.h"

// Loads the index (decoding it when indexCompressed is set) into a new GlobalAlloc block owned
// by the caller; null on any failure, with no message.
PackageIndex* OpenPackage();

// The contents of the first member named memberName (without regard to case), or null after a
// message. A compressed member is decoded into a new block that *decodedBlock receives; a stored
// member points into the package and leaves *decodedBlock empty. *size receives memberSize on
// success and is not written on failure.
const std::uint8_t* FindPackageMember(const char* memberName, std::uint32_t* size,
                                      UniqueGlobal* decodedBlock);

// Writes the member to targetPath after the free-space check; with newerOnly, an existing file
// whose last-write time is later than the member's is kept (and counts as success).
bool ExtractPackageMember(const char* targetPath, const char* memberName, bool newerOnly);

// Free space of the drive rootPath (such as "C:"); outputs untouched on failure.
bool QueryFreeSpace(const char* rootPath, std::uint64_t* freeBytesAvailable,
                    std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes);

// Replaces or creates targetPath with data, stamping all three times with *times if given, all
// or nothing: on failure an existing file is left as it was and nothing new remains. The file
// ends with FILE_ATTRIBUTE_NORMAL.
bool WriteWholeFile(const char* targetPath, const void* data, std::uint32_t size,
                    const FILETIME* times);
