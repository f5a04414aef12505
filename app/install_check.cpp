#include "app/install_check.h"

#include <cstdint>

#include "app/append_path.h"
#include "app/cp932.h"
#include "app/updater_messages.h"
#include "app/updater_state.h"
#include "app/win32_handles.h"
#include "config/profile.h"
#include "config/setup_config_loader.h"
#include "package/package_reader.h"
#include "res/resource.h"
#include "ui/wizard.h"

namespace {

constexpr char kSetupSection[] = "SETUP";
// The platform's dialog box class, as its atom: the class of another updater's wizard.
constexpr ATOM kDialogClassAtom = 0x8002;

UpdateManifest& Manifest() { return g_updater.manifest; }

// The four identity keys; the first one missing stops the run after the reader's message.
bool ReadRequiredKeys() {
  UpdateManifest& m = Manifest();
  return ReadProfileString(kSetupSection, "CompanyName", m.companyName, sizeof m.companyName) &&
         ReadProfileString(kSetupSection, "GameTitle", m.gameTitle, sizeof m.gameTitle) &&
         ReadProfileString(kSetupSection, "GameClass", m.gameClass, sizeof m.gameClass) &&
         ReadProfileString(kSetupSection, "GameDir", m.gameDir, sizeof m.gameDir);
}

// Each optional key is read into its cleared field; absent or empty leaves it empty.
void ReadOptionalKeys() {
  UpdateManifest& m = Manifest();
  ReadProfileString(kSetupSection, "GameTitleA", m.gameTitleA, sizeof m.gameTitleA);
  ReadProfileString(kSetupSection, "UpdaterVersion", m.updaterVersion, sizeof m.updaterVersion);
  ReadProfileString(kSetupSection, "UpdaterTitle", m.updaterTitle, sizeof m.updaterTitle);
  ReadProfileString(kSetupSection, "DataFolder", m.dataFolder, sizeof m.dataFolder);
  ReadProfileString(kSetupSection, "UpdateMessage", m.updateMessage, sizeof m.updateMessage);
}

// The package member named by key, copied into a zero-filled block with two NULs behind it.
// An absent or empty key leaves *text null and succeeds. A decoded copy that FindPackageMember
// hands out is released once its bytes have been copied.
bool LoadMemberText(const char* key, char* memberName, char** text, char* messageText) {
  *text = nullptr;
  if (!ReadProfileString(kSetupSection, key, memberName, kPathCapacity)) return true;
  UniqueGlobal decoded;
  std::uint32_t size = 0;
  const std::uint8_t* member = FindPackageMember(memberName, &size, &decoded);
  if (!member) {
    wsprintfA(messageText, "'%s' not found at UPDATE.QW3", memberName);
    ShowUpdaterError(messageText);
    return false;
  }
  UniqueGlobal block;
  if (size <= SIZE_MAX - 2) block = AllocateFixed(SIZE_T{size} + 2, GMEM_ZEROINIT);
  if (!block) {
    ShowUpdaterError("Can't Allocate Memory !!");
    return false;
  }
  CopyMemory(block.get(), member, size);
  *text = static_cast<char*>(block.release());
  return true;
}

bool ReadManifestSetup(char* messageText) {
  if (!ReadRequiredKeys()) return false;
  g_updater.silentMissingKeys = 1;
  ReadOptionalKeys();
  UpdateManifest& m = Manifest();
  return LoadMemberText("AgreementText", m.agreementTextMember, &g_updater.agreementText,
                        messageText) &&
         LoadMemberText("AgreementTitle", m.agreementTitleMember, &g_updater.welcomeText,
                        messageText);
}

// A registry value as raw bytes into a zero-filled buffer of capacity bytes. A value larger
// than the buffer fails; so does a string that fills it without a terminating NUL, which would
// otherwise run into whatever follows the buffer.
bool ReadRegistryText(HKEY key, const char* name, char* buffer, DWORD capacity) {
  ZeroMemory(buffer, capacity);
  DWORD size = capacity;
  const LONG status =
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  if (status != ERROR_SUCCESS || (size == capacity && buffer[capacity - 1] != '\0')) {
    ZeroMemory(buffer, capacity);
    return false;
  }
  return true;
}

bool ReadRegistryNumber(HKEY key, const char* name, std::int32_t* value) {
  DWORD size = sizeof *value;
  return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
         ERROR_SUCCESS;
}

// InstPath and InstMode are required; DataPath stays empty when it is absent or does not fit.
bool ReadInstallRecord(const char* keyPath) {
  UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  InstallRecord& record = g_updater.installRecord;
  if (!ReadRegistryText(key.get(), "InstPath", record.instPath, sizeof record.instPath)) {
    return false;
  }
  ReadRegistryText(key.get(), "DataPath", record.dataPath, sizeof record.dataPath);
  return ReadRegistryNumber(key.get(), "InstMode", &record.instMode);
}

// "\n" (backslash, lower-case n) becomes one carriage return. The second byte of a double-byte
// character is never taken for a backslash. The result is never longer than the source.
void TranslateLineBreaks(const char* source, char* destination) {
  while (*source != '\0') {
    const char* next = NextCp932Char(source);
    if (next - source == 1 && source[0] == '\\' && source[1] == 'n') {
      *destination++ = '\r';
      source += 2;
      continue;
    }
    while (source < next) *destination++ = *source++;
  }
  *destination = '\0';
}

// The installed SETUP.INI must exist (as a file or a folder) at instPath\SETUP.INI. A path that
// does not fit its buffer cannot name it either.
bool FindInstalledSetupIni() {
  lstrcpynA(g_updater.setupIniPath, g_updater.installRecord.instPath,
            sizeof g_updater.setupIniPath);
  if (AppendPath(g_updater.setupIniPath, sizeof g_updater.setupIniPath, "SETUP.INI") &&
      GetFileAttributesA(g_updater.setupIniPath) != INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  ShowUpdaterError("インストール先に \"SETUP.INI\" ファイルが見つかりません");
  return false;
}

void FormCaption() {
  const UpdateManifest& m = Manifest();
  if (m.updaterTitle[0] != '\0') {
    wsprintfA(g_updater.captionText, "%s", m.updaterTitle);
  } else {
    wsprintfA(g_updater.captionText, "%s アップデータ %s", m.gameTitle, m.updaterVersion);
  }
}

void BringToFront(HWND window) {
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
}

// Another updater's wizard (or one of its message boxes) under the same caption.
bool AnotherUpdaterRuns() {
  HWND other = FindWindowA(MAKEINTATOM(kDialogClassAtom), g_updater.captionText);
  if (!other) return false;
  BringToFront(other);
  return true;
}

// Asks for as long as a game window with this title exists and the answer is OK. False when
// the user chose to stop: the game's window is brought to the front.
bool WaitWhileGameRuns(const char* title, char* messageText) {
  for (;;) {
    HWND game = FindWindowA(Manifest().gameClass, title);
    if (!game) return true;
    wsprintfA(messageText,
              "「%s」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
              "を、アップデートを中止する場合は [キャンセル] を押して下さい",
              title);
    if (MessageBoxA(nullptr, messageText, g_updater.captionText, MB_OKCANCEL) != IDOK) {
      BringToFront(game);
      return false;
    }
  }
}

bool CheckInstallation(char* messageText) {
  const UpdateManifest& m = Manifest();
  wsprintfA(messageText, "Software\\%s\\%s", m.companyName, m.gameDir);
  if (!ReadInstallRecord(messageText)) {
    wsprintfA(messageText, "「%s」がインストールされていません", m.gameTitle);
    ShowUpdaterError(messageText);
    return false;
  }
  if (m.updateMessage[0] != '\0') {
    TranslateLineBreaks(m.updateMessage, messageText);
    ShowUpdaterError(messageText);
  }
  if (!FindInstalledSetupIni() || !LoadSetupConfig()) return false;
  FormCaption();
  if (AnotherUpdaterRuns()) return false;
  if (!WaitWhileGameRuns(m.gameTitle, messageText)) return false;
  if (m.gameTitleA[0] != '\0' && !WaitWhileGameRuns(m.gameTitleA, messageText)) return false;
  return true;
}

// 1 when the wizard completed the update; any other result is reported as an interruption.
int RunWizard(HINSTANCE instance) {
  const int templateId = g_updater.agreementText ? IDD_WIZARD_AGREEMENT : IDD_WIZARD;
  const INT_PTR result =
      DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, WizardProc, 0);
  g_updater.mainWindow = nullptr;
  if (result == 0) return 1;
  ShowUpdaterError("アップデートが中断されました");
  return 0;
}

}  // namespace

int RunInstallCheckAndWizard(HINSTANCE instance) {
  char messageText[kTextCapacity];
  if (!ReadManifestSetup(messageText)) return 0;
  if (!CheckInstallation(messageText)) return 0;
  return RunWizard(instance);
}
