#include "app/disk_drive.h"

#include "app/append_path.h"
#include "app/updater_state.h"

namespace {

// The disk's check file in the root of drive (such as "Q:"): true when it exists.
bool DriveHoldsCheckFile(const char* drive, const char* checkFile) {
  char probe[kPathCapacity];
  lstrcpynA(probe, drive, sizeof probe);
  if (!AppendPath(probe, sizeof probe, checkFile)) return false;
  return GetFileAttributesA(probe) != INVALID_FILE_ATTRIBUTES;
}

bool ScanDrives(const char* checkFile, char (&designation)[kDriveDesignationCapacity]) {
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const char drive[kDriveDesignationCapacity] = {letter, ':', '\0'};
    if (GetDriveTypeA(drive) == DRIVE_CDROM && DriveHoldsCheckFile(drive, checkFile)) {
      lstrcpynA(designation, drive, kDriveDesignationCapacity);
      return true;
    }
  }
  return false;
}

// "Insert disk N of the game into a CD-ROM drive"; true when the user answers OK.
bool AskForDisk(HWND wizard, std::int32_t diskNumber) {
  char text[kTextCapacity];
  wsprintfA(text, "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい",
            g_updater.manifest.gameTitle, diskNumber);
  return MessageBoxA(wizard, text, g_updater.captionText, MB_OKCANCEL) == IDOK;
}

}  // namespace

bool FindDiskDrive(HWND wizard, std::int32_t diskNumber,
                   char (&designation)[kDriveDesignationCapacity]) {
  if (diskNumber < 0 || diskNumber >= kDiskCheckFileCount) return false;
  const char* checkFile = g_updater.setupConfig.diskCheckFiles[diskNumber];
  for (;;) {
    if (ScanDrives(checkFile, designation)) return true;
    if (!AskForDisk(wizard, diskNumber)) return false;
  }
}
