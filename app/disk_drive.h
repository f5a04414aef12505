#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// A drive designation: a letter and a colon, such as "Q:", with its NUL.
constexpr std::size_t kDriveDesignationCapacity = 3;

// Finds the CD-ROM drive holding disk diskNumber (1 to 9): the first drive from A: to Z: that
// the platform reports as a CD-ROM and whose root holds the disk's check file
// (g_updater.setupConfig.diskCheckFiles). While none does, asks the user to insert the disk
// (OK searches again). False when the user refuses, or for a disk number outside 0 to 9;
// designation is written only on success.
bool FindDiskDrive(HWND wizard, std::int32_t diskNumber,
                   char (&designation)[kDriveDesignationCapacity]);
