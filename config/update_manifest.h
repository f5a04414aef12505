#pragma once
// The update manifest "UPDATE.INI": section SETUP (the game's identity and the updater's texts)
// and section UPDATE (the files to write and to copy).
#include <cstdint>

#include "app/text_limits.h"

constexpr int kMaxListKeys = 16;  // UpdateFile00..15, CopyFile00..15

enum UpdateMode : std::int32_t {
  modePlain = 0,     // no letter: extracted over whatever is there, into the install folder
  modeNewer = 1,     // "u": kept where the existing file is newer than the member
  modeData = 2,      // "d": save-data folder; an existing readable file is kept
  modeExisting = 3,  // "o": written only over an existing file
};

struct UpdateEntry {
  UpdateMode mode;
  char relativePath[kPathCapacity];  // below the target folder, as written in the manifest
  std::int32_t baseNameOffset;       // first byte after the last backslash: the member name
};

struct CopyEntry {
  std::int32_t diskNumber;         // CD-ROM disk 1..9; 0: the value named no disk
  char sourcePath[kPathCapacity];  // below the root of the CD-ROM drive
};

struct UpdateManifest {
  // Section SETUP.
  char companyName[kPathCapacity];
  char gameTitle[kPathCapacity];
  char gameClass[kPathCapacity];
  char gameDir[kPathCapacity];
  char gameTitleA[kPathCapacity];
  char updaterVersion[kPathCapacity];
  char updaterTitle[kPathCapacity];
  char dataFolder[kPathCapacity];
  char updateMessage[kTextCapacity];
  char agreementTextMember[kPathCapacity];
  char agreementTitleMember[kPathCapacity];

  // Section UPDATE, rebuilt by every ReadUpdateSection.
  std::int32_t requiredDiskSpace;
  std::int32_t overwriteOnly;
  UpdateEntry updateEntries[kMaxListKeys];
  std::int32_t updateCount;
  std::int32_t updateKeySeen;
  CopyEntry copyEntries[kMaxListKeys];
  std::int32_t copyCount;
  std::int32_t copyKeySeen;
};
