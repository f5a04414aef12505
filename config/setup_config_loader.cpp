#include "config/setup_config_loader.h"

#include <windows.h>

#include <cstring>

#include "app/text_limits.h"
#include "app/updater_state.h"
#include "config/list_field.h"
#include "config/profile.h"
#include "config/profile_value.h"

namespace {

constexpr std::uint32_t kDirectXCore = 0x10000;      // DSETUP_DXCORE
constexpr std::uint32_t kDirectXDrawDriver = 0x8;    // DSETUP_DDRAWDRV
constexpr std::uint32_t kDirectXSoundDriver = 0x10;  // DSETUP_DSOUNDDRV

// Working buffers of one load.
struct LoadBuffers {
  char list[kTextCapacity];
  char key[kTextCapacity];
  char message[kTextCapacity];
};

bool NextField(char (&field)[kPathCapacity], const char** cursor) {
  return NextListField(field, sizeof field, cursor, &g_updater.listDiskNumber);
}

// Shows "SETUP.INI : <key> エラー".
bool FailKey(LoadBuffers& buffers, const char* key) {
  wsprintfA(buffers.message, "SETUP.INI : %s エラー", key);
  ShowSetupError(buffers.message);
  return false;
}

bool Fail(const char* message) {
  ShowSetupError(message);
  return false;
}

bool ReadRequiredTexts(UpdateManifest& manifest, SetupConfig& config) {
  return ReadSetupString("CompanyName", manifest.companyName, sizeof manifest.companyName) &&
         ReadSetupString("GameTitle", manifest.gameTitle, sizeof manifest.gameTitle) &&
         ReadSetupString("GameDir", manifest.gameDir, sizeof manifest.gameDir) &&
         ReadSetupString("GameExe", config.gameExe, sizeof config.gameExe) &&
         ReadSetupString("UninstExe", config.uninstExe, sizeof config.uninstExe);
}

bool ReadSetupBmps(LoadBuffers& buffers, SetupConfig& config) {
  if (!ReadSetupString("SetupBmp", buffers.list, sizeof buffers.list)) return false;
  const char* cursor = buffers.list;
  int count = 0;
  while (count < kMaxSetupBmps && NextField(config.setupBmps[count], &cursor)) ++count;
  if (count == 0) return Fail("SETUP.INI : SetupBmps エラー");
  if (count < kMaxSetupBmps) std::memset(config.setupBmps[count], 0, kPathCapacity);
  config.setupBmpLast = count - 1;
  return true;
}

bool ReadInstallSelection(LoadBuffers& buffers, SetupConfig& config, int n) {
  wsprintfA(buffers.key, "InstallTitle%i", n);
  if (!ReadSetupString(buffers.key, config.installTitles[n], kPathCapacity)) return false;
  wsprintfA(buffers.key, "InstallFiles%i", n);
  if (!ReadSetupString(buffers.key, buffers.list, sizeof buffers.list)) return false;

  config.installUsesDisks[n] = 0;
  g_updater.listDiskNumber = 0;
  const char* cursor = buffers.list;
  int count = 0;
  while (count < kMaxInstallFiles && NextField(config.installFiles[n][count], &cursor)) {
    config.installDisks[n][count] = g_updater.listDiskNumber;
    if (g_updater.listDiskNumber != 0) config.installUsesDisks[n] = 1;
    ++count;
  }
  if (count == 0) return FailKey(buffers, buffers.key);
  if (count < kMaxInstallFiles) std::memset(config.installFiles[n][count], 0, kPathCapacity);
  return true;
}

bool ReadInstallSelections(LoadBuffers& buffers, SetupConfig& config) {
  if (!ReadSetupInt("InstallSelects", &config.installSelects)) return false;
  if (config.installSelects > kMaxInstallSelects) {
    return Fail("SETUP.INI : InstallSelect オーバー");
  }
  for (int n = 0; n < config.installSelects; ++n) {
    if (!ReadInstallSelection(buffers, config, n)) return false;
  }
  return true;
}

bool ReadShortcuts(LoadBuffers& buffers, SetupConfig& config) {
  if (!ReadSetupInt("Shortcuts", &config.shortcutCount)) return false;
  if (config.shortcutCount > kMaxShortcuts) return Fail("SETUP.INI : Shortcuts オーバー");
  for (int n = 0; n < config.shortcutCount; ++n) {
    wsprintfA(buffers.key, "Shortcut%i", n);
    if (!ReadSetupString(buffers.key, buffers.list, kPathCapacity)) return false;
    char(&fields)[kShortcutFields][kPathCapacity] = config.shortcuts[n];
    std::memset(fields[2], 0, kPathCapacity);
    const char* cursor = buffers.list;
    if (!NextField(fields[0], &cursor) || !NextField(fields[1], &cursor)) {
      return FailKey(buffers, buffers.key);
    }
    NextField(fields[2], &cursor);
  }
  return true;
}

// A number key that is 1 when present with a non-zero value, else 0.
std::int32_t ReadFlag(const char* key) {
  std::int32_t value = 0;
  return ReadSetupInt(key, &value) && value != 0 ? 1 : 0;
}

void ReadText(const char* key, char* value, std::size_t capacity, const char* fallback) {
  if (!ReadSetupString(key, value, capacity)) {
    lstrcpynA(value, fallback, static_cast<int>(capacity));
  }
}

void ReadGameClass(UpdateManifest& manifest, SetupConfig& config) {
  ReadText("GameClass", manifest.gameClass, sizeof manifest.gameClass, manifest.gameTitle);
  // Byte for byte: a locale-aware comparison would ignore a hyphen or an apostrophe.
  if (std::strcmp(manifest.gameClass, "TTVPWindowForm") == 0) config.tvpWindowForm = 1;
}

void ReadInstallSizes(LoadBuffers& buffers, SetupConfig& config) {
  for (int n = 0; n < config.installSelects; ++n) {
    char number[kNumberCapacity];
    wsprintfA(buffers.key, "InstallSize%i", n);
    config.installSizes[n] =
        ReadSetupString(buffers.key, number, sizeof number) ? ParseDecimalUint64(number) : 0;
  }
}

void ReadDiskCheckFiles(LoadBuffers& buffers, SetupConfig& config) {
  for (int n = 0; n < kDiskCheckFileCount; ++n) {
    wsprintfA(buffers.key, "DiskCheckFile%i", n);
    ReadSetupString(buffers.key, config.diskCheckFiles[n], kPathCapacity);
  }
}

bool ReadExecApp(LoadBuffers& buffers, SetupConfig& config) {
  if (!ReadSetupString("ExecApp", buffers.list, kPathCapacity)) {
    config.execApp[0][0] = '\0';
    return true;
  }
  const char* cursor = buffers.list;
  if (!NextField(config.execApp[0], &cursor) || !NextField(config.execApp[1], &cursor)) {
    return FailKey(buffers, "ExecApp");
  }
  return true;
}

std::uint32_t ReadDirectXFlags() {
  std::int32_t choice = 0;
  if (!ReadSetupInt("InstallDirectX", &choice)) return 0;
  std::uint32_t flags = kDirectXCore;
  if (choice & 1) flags |= kDirectXDrawDriver;
  if (choice & 2) flags |= kDirectXSoundDriver;
  return flags;
}

}  // namespace

bool LoadSetupConfig() {
  UpdateManifest& manifest = g_updater.manifest;
  SetupConfig& config = g_updater.setupConfig;
  LoadBuffers buffers = {};

  if (!ReadRequiredTexts(manifest, config)) return false;
  if (!ReadSetupBmps(buffers, config)) return false;
  if (!ReadInstallSelections(buffers, config)) return false;
  if (!ReadShortcuts(buffers, config)) return false;

  g_updater.silentMissingKeys = 1;
  ReadGameClass(manifest, config);
  config.defaultSelect = 0;
  ReadSetupInt("DefaultSelect", &config.defaultSelect);
  ReadInstallSizes(buffers, config);
  ReadDiskCheckFiles(buffers, config);
  if (!ReadExecApp(buffers, config)) return false;
  config.directXFlags = ReadDirectXFlags();
  ReadText("InstallDXMessage", config.installDXMessage, sizeof config.installDXMessage,
           "ＤｉｒｅｃｔＸをインストールする");
  ReadText("SelectSetupMessage", config.selectSetupMessage, sizeof config.selectSetupMessage,
           "インストール方法を選択して下さい");
  config.useCompanyNameForShortcutGroup = ReadFlag("UseCompanyNameForShortcutGroup");
  config.chooseSaveDataFolder = ReadFlag("ChooseSaveDataFolder");
  ReadText("SaveDataFolderName", config.saveDataFolderName, sizeof config.saveDataFolderName,
           manifest.gameDir);
  config.cancelSaveData = ReadFlag("CancelSaveData");
  return true;
}
