#pragma once
// The installed game's installer configuration: section SETUP of "SETUP.INI" in the install
// folder. The updater itself uses diskCheckFiles; everything else is loaded and validated.
#include <cstdint>

#include "app/text_limits.h"

constexpr int kMaxSetupBmps = 20;
constexpr int kMaxInstallSelects = 3;
constexpr int kMaxInstallFiles = 40;
constexpr int kMaxShortcuts = 10;
constexpr int kShortcutFields = 3;
constexpr int kDiskCheckFileCount = 10;  // disk numbers 0..9

struct SetupConfig {
  char gameExe[kPathCapacity];
  char uninstExe[kPathCapacity];
  char setupBmps[kMaxSetupBmps][kPathCapacity];
  std::int32_t setupBmpLast;
  std::int32_t installSelects;
  char installTitles[kMaxInstallSelects][kPathCapacity];
  char installFiles[kMaxInstallSelects][kMaxInstallFiles][kPathCapacity];
  std::int32_t installDisks[kMaxInstallSelects][kMaxInstallFiles];
  std::int32_t installUsesDisks[kMaxInstallSelects];
  std::int32_t shortcutCount;
  char shortcuts[kMaxShortcuts][kShortcutFields][kPathCapacity];
  std::int32_t tvpWindowForm;
  std::int32_t defaultSelect;
  std::uint64_t installSizes[kMaxInstallSelects];
  char diskCheckFiles[kDiskCheckFileCount][kPathCapacity];
  char execApp[2][kPathCapacity];
  std::uint32_t directXFlags;
  char installDXMessage[kTextCapacity];
  char selectSetupMessage[kTextCapacity];
  std::int32_t useCompanyNameForShortcutGroup;
  std::int32_t chooseSaveDataFolder;
  char saveDataFolderName[kPathCapacity];
  std::int32_t cancelSaveData;
};
