#include "config/profile.h"

#include <windows.h>

#include <cstring>

#include "app/text_limits.h"
#include "app/updater_state.h"
#include "config/profile_value.h"

namespace {

// Reads key of section from file into value, cleared whole first. A value that fills the
// buffer has been cut by the platform: it counts as found and keeps whole characters only.
bool ReadProfileValue(const char* file, const char* section, const char* key, char* value,
                      std::size_t capacity) {
  std::memset(value, 0, capacity);
  const DWORD copied =
      GetPrivateProfileStringA(section, key, "", value, static_cast<DWORD>(capacity), file);
  if (copied == 0) return false;
  if (copied + 1 >= capacity) DropCutLeadByte(value);
  return true;
}

}  // namespace

bool ReadSetupString(const char* key, char* value, std::size_t capacity) {
  if (ReadProfileValue(g_updater.setupIniPath, "SETUP", key, value, capacity)) return true;
  if (!g_updater.silentMissingKeys) {
    char message[kTextCapacity];
    wsprintfA(message, "SETUP.INI : %s キーが存在しません", key);
    ShowSetupError(message);
  }
  return false;
}

bool ReadProfileString(const char* section, const char* key, char* value, std::size_t capacity) {
  if (ReadProfileValue(g_updater.tempManifestPath, section, key, value, capacity)) return true;
  if (!g_updater.silentMissingKeys) {
    char message[kTextCapacity];
    wsprintfA(message, "%s : %s キーが存在しません", section, key);
    ShowSetupError(message);
  }
  return false;
}

bool ReadSetupInt(const char* key, std::int32_t* out) {
  char number[kNumberCapacity];
  if (!ReadSetupString(key, number, sizeof number)) return false;
  *out = ParseDecimalInt32(number);
  return true;
}

void ShowSetupError(const char* text) {
  MessageBoxA(g_updater.mainWindow, text, "INSTCMMN", MB_OK | MB_ICONERROR);
}
