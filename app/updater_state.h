#pragma once
// The one process-wide record. Every field starts zero or empty except captionText ("UPDATE").
#include <windows.h>

#include <cstdint>

#include "app/install_record.h"
#include "app/text_limits.h"
#include "config/setup_config.h"
#include "config/update_manifest.h"
#include "package/package_format.h"

using GetDiskFreeSpaceExFn = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                           PULARGE_INTEGER);

struct UpdaterState {
  // Package: the locked resource, never copied or released, and its loaded index.
  const std::uint8_t* packageData;
  std::uint32_t packageSize;
  PackageIndex* packageIndex;  // GlobalAlloc block; released by RemoveTempManifest

  char tempManifestPath[kPathCapacity];
  // The folder of this process's own that holds tempManifestPath: created new under the temp
  // folder, removed by RemoveTempManifest; empty while none exists.
  char tempManifestFolder[kPathCapacity];
  char captionText[kTextCapacity];
  HWND mainWindow;  // owner of the message boxes: the wizard while it exists, else none

  std::int32_t silentMissingKeys;  // only ever set: from then on missing keys are not reported
  std::int32_t listDiskNumber;     // disk number of the last list-field prefix

  UpdateManifest manifest;
  char* agreementText;  // GlobalAlloc block: member bytes + two NULs, or null; never released
  char* welcomeText;    // likewise, for the welcome page
  InstallRecord installRecord;
  char setupIniPath[kPathCapacity];
  SetupConfig setupConfig;

  std::int32_t wizardPage;  // 0 welcome, 1 ready, 2 update page done
  std::int32_t wizardBusy;  // non-zero while a page step runs

  GetDiskFreeSpaceExFn getDiskFreeSpaceEx;  // resolved on first use, then kept
};

extern UpdaterState g_updater;

// Puts every field back to its start value (used at start and by tests).
void ResetUpdaterState();
