#include "config/update_section.h"

#include <windows.h>

#include "app/text_limits.h"
#include "app/updater_state.h"
#include "config/profile.h"
#include "config/profile_value.h"
#include "config/update_entry.h"

namespace {

constexpr char kSection[] = "UPDATE";

// The key's value as a number; false when the key is missing or empty.
bool ReadManifestNumber(const char* key, std::int32_t* number) {
  char value[kPathCapacity];
  if (!ReadProfileString(kSection, key, value, sizeof value)) return false;
  *number = ParseDecimalInt32(value);
  return true;
}

void ReadUpdateEntries(UpdateManifest& manifest, std::int32_t installMode) {
  char key[kTextCapacity];
  char value[kTextCapacity];
  for (int index = 0; index < kMaxListKeys; ++index) {
    wsprintfA(key, "UpdateFile%02i", index);
    if (!ReadProfileString(kSection, key, value, sizeof value)) return;
    manifest.updateKeySeen = 1;
    if (ParseUpdateEntry(value, installMode, &manifest.updateEntries[manifest.updateCount])) {
      ++manifest.updateCount;
    }
  }
}

void ReadCopyEntries(UpdateManifest& manifest, std::int32_t installMode) {
  char key[kTextCapacity];
  char value[kPathCapacity];
  for (int index = 0; index < kMaxListKeys; ++index) {
    wsprintfA(key, "CopyFile%02i", index);
    if (!ReadProfileString(kSection, key, value, sizeof value)) return;
    manifest.copyKeySeen = 1;
    if (ParseCopyEntry(value, installMode, &manifest.copyEntries[manifest.copyCount])) {
      ++manifest.copyCount;
    }
  }
}

}  // namespace

void ReadUpdateSection() {
  UpdateManifest& manifest = g_updater.manifest;
  manifest.updateCount = 0;
  manifest.copyCount = 0;
  manifest.updateKeySeen = 0;
  manifest.copyKeySeen = 0;
  manifest.overwriteOnly = 0;
  manifest.requiredDiskSpace = 0;

  std::int32_t number = 0;
  if (ReadManifestNumber("RequiredDiskSpace", &number) && number > 0) {
    manifest.requiredDiskSpace = number;
  }
  if (ReadManifestNumber("OverwriteOnly", &number) && number != 0) manifest.overwriteOnly = 1;

  const std::int32_t installMode = g_updater.installRecord.instMode;
  ReadUpdateEntries(manifest, installMode);
  ReadCopyEntries(manifest, installMode);
}
