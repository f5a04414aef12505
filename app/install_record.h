#pragma once
// The installed game's registry values under HKEY_CURRENT_USER\Software\<company>\<game dir>.
#include <cstdint>

#include "app/text_limits.h"

struct InstallRecord {
  char instPath[kPathCapacity];  // "InstPath": install folder, folder of the installed SETUP.INI
  char dataPath[kPathCapacity];  // "DataPath": save-data folder; empty when absent
  std::int32_t instMode;         // "InstMode": install mode the entry filters compare with
};
