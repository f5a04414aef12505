// The installation check and launch, in process: each case writes its own manifest, builds a
// package, writes real registry values under HKCU\Software\<company of its own>\SOHYOU and an
// installed SETUP.INI, opens the other processes' windows it needs (window_host.exe), and calls
// RunInstallCheckAndWizard with the wizard templates of this program. Every message box is
// captured and answered; the wizard is driven from inside its modal loop.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/install_check.h"
#include "app/updater_state.h"
#include "app/win32_handles.h"
#include "package/package_reader.h"
#include "res/resource.h"
#include "tests/support/message_box_capture.h"
#include "tests/support/profile_files.h"
#include "tests/support/test_files.h"
#include "tests/windows/hosted_window.h"
#include "tests/windows/wizard_script.h"
#include "tools/packer/package_writer.h"

namespace {

constexpr char kGameDir[] = "SOHYOU";
constexpr char kGameClass[] = "SohyouWindow";
constexpr char kTitle[] = "ソ表クエスト";
constexpr char kCaption[] = "ソ表クエスト アップデータ 1.01";
constexpr char kWelcome[] = "「ソ表クエスト」のアップデートを開始します";
constexpr char kInterrupted[] = "アップデートが中断されました";
constexpr char kNoSetupIni[] = "インストール先に \"SETUP.INI\" ファイルが見つかりません";
constexpr char kAgreement[] = "第1条 同意して下さい\r\n第2条 100% %s\r\n";
constexpr char kWelcomeMember[] = "ようこそ 100% %s\r\n二行目";
constexpr char kReadme[] = "readme 2\r\n";

std::string NotInstalled(const std::string& title) {
  return "「" + title + "」がインストールされていません";
}
std::string Running(const std::string& title) {
  return "「" + title +
         "」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
         "を、アップデートを中止する場合は [キャンセル] を押して下さい";
}

// The registry values a case writes.
enum class Registry {
  kComplete,            // InstPath, DataPath (REG_SZ), InstMode (REG_DWORD 1)
  kNoKey,
  kNoInstPath,
  kNoInstMode,
  kNoDataPath,
  kLongInstMode,        // InstMode of 8 bytes
  kLongInstPath,        // InstPath of 261 bytes with its NUL
  kFullInstPath,        // InstPath: 260 bytes, no NUL
  kInstPathWithoutRoom, // InstPath: 259 bytes without NUL: no room for \SETUP.INI
  kLongDataPath,        // DataPath of 300 bytes
  kFullDataPath,        // DataPath: 260 bytes, no NUL
};

enum class SetupIni { kFile, kMissing, kFolder };

enum class Drive {
  kNotShown,       // the wizard must not open
  kComplete,       // (accept the agreement,) Next, Next, 完了
  kCancelWelcome,  // Cancel on the welcome page
  kCancelReady,    // Next, then Cancel on the ready page
};

struct Host {
  const char* className;  // "#32770": the dialog box class
  const char* title;
  bool hidden;
};

struct Box {
  std::string caption;
  std::string text;
  bool okCancel;
  bool icon;
};

using Key = std::pair<const char*, const char*>;  // value null: the key is removed

struct Context;  // what the extra check of a case can look at

struct InstallCase {
  const char* name;
  std::vector<Key> manifest;
  Registry registry;
  SetupIni setupIni;
  std::vector<Key> installed;
  std::vector<Host> hosts;
  std::vector<int> answers;  // for the boxes, in order; IDOK once they run out
  int closeHostAtBox;        // index of the box at whose appearance host 0 is closed; -1 none
  Drive drive;
  std::vector<Box> boxes;
  int exitCode;
  const char* caption;  // the wizard's title
  const char* welcome;  // the wizard's Info text on its first page
  bool agreement;       // template 101
  std::function<void(const Context&)> check;
  bool withoutTemplates = false;  // the instance has no dialog templates: the wizard cannot open
};

struct Context {
  std::string installFolder;
  std::string saveFolder;
  std::vector<HWND> hostWindows;
};

Box Updater(const std::string& text) { return {"UPDATE", text, false, true}; }
Box Setup(const std::string& text) { return {"INSTCMMN", text, false, true}; }
Box AfterCaption(const std::string& text) { return {kCaption, text, false, true}; }
Box GameRunning(const std::string& title, const char* caption = kCaption) {
  return {caption, Running(title), true, false};
}

// ---- Fixtures

std::vector<std::uint8_t> MakePackage() {
  std::vector<PackageMemberInput> members = {
      {"README.TXT", ToBytes(kReadme), 0, false},
      {"AGREE.TXT", ToBytes(kAgreement), 0, false},
      {"AGREE10.TXT", ToBytes("0123456789"), 0, true},
      {"EMPTY.TXT", {}, 0, false},
      {"WELCOME.TXT", ToBytes(kWelcomeMember), 0, true},
  };
  std::vector<std::uint8_t> package;
  std::string error;
  EXPECT_TRUE(BuildPackage(members, true, &package, &error)) << error;
  return package;
}

void ApplyKeys(ProfileSection* section, const std::vector<Key>& keys) {
  for (const Key& key : keys) {
    if (key.second) {
      section->Set(key.first, key.second);
    } else {
      section->Remove(key.first);
    }
  }
}

void SetValue(HKEY key, const char* name, DWORD type, const std::string& bytes) {
  RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                 static_cast<DWORD>(bytes.size()));
}

std::string WithNul(const std::string& text) { return text + std::string(1, '\0'); }

void WriteRegistry(const std::string& keyPath, Registry registry, const Context& context) {
  if (registry == Registry::kNoKey) return;
  UniqueRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, key.put(), nullptr));
  std::string instPath = WithNul(context.installFolder);
  std::string dataPath = WithNul(context.saveFolder);
  DWORD instPathType = REG_SZ;
  DWORD dataPathType = REG_SZ;
  std::string instMode("\x01\x00\x00\x00", 4);
  switch (registry) {
    case Registry::kLongInstMode: instMode = std::string("\x01\x00\x00\x00\x00\x00\x00\x00", 8); break;
    case Registry::kLongInstPath: instPath = WithNul("C:\\" + std::string(257, 'L')); break;
    case Registry::kFullInstPath: instPath = std::string(260, 'F'), instPathType = REG_BINARY; break;
    case Registry::kInstPathWithoutRoom:
      instPath = "C:\\" + std::string(256, 'R');
      instPathType = REG_BINARY;
      break;
    case Registry::kLongDataPath: dataPath = WithNul("C:\\" + std::string(296, 'D')); break;
    case Registry::kFullDataPath: dataPath = std::string(260, 'D'), dataPathType = REG_BINARY; break;
    default: break;
  }
  if (registry != Registry::kNoInstPath) SetValue(key.get(), "InstPath", instPathType, instPath);
  if (registry != Registry::kNoDataPath) SetValue(key.get(), "DataPath", dataPathType, dataPath);
  if (registry != Registry::kNoInstMode) {
    SetValue(key.get(), "InstMode",
             registry == Registry::kLongInstMode ? REG_BINARY : REG_DWORD, instMode);
  }
}

void DeleteRegistry(const std::string& company) {
  const std::string companyKey = "Software\\" + company;
  RegDeleteKeyA(HKEY_CURRENT_USER, (companyKey + "\\" + kGameDir).c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, companyKey.c_str());
}

bool IsMessageBox(HWND window) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  return lstrcmpA(className, "#32770") == 0 && GetDlgItem(window, 0xFFFF) != nullptr;
}

// Calls back as each message box appears, before the capture (installed earlier) answers it.
class BoxWatcher {
 public:
  explicit BoxWatcher(std::function<void(int index)> onBox) : onBox_(std::move(onBox)) {
    active_ = this;
    hook_.reset(SetWindowsHookExA(WH_CBT, &BoxWatcher::HookProc, nullptr, GetCurrentThreadId()));
  }
  ~BoxWatcher() { active_ = nullptr; }

 private:
  static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && active_ && IsMessageBox(reinterpret_cast<HWND>(wParam))) {
      active_->onBox_(active_->count_++);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  std::function<void(int)> onBox_;
  int count_ = 0;
  UniqueHook hook_;
  static BoxWatcher* active_;
};
BoxWatcher* BoxWatcher::active_ = nullptr;

struct WizardSeen {
  bool shown = false;
  std::string caption;
  std::string welcome;
  bool agreement = false;
  std::string agreementText;
};

void DriveWizard(HWND wizard, Drive drive, WizardSeen* seen) {
  seen->shown = true;
  seen->caption = WindowText(wizard);
  seen->welcome = WindowText(GetDlgItem(wizard, IDC_INFO));
  seen->agreement = GetDlgItem(wizard, IDC_AGREE) != nullptr;
  seen->agreementText = WindowText(GetDlgItem(wizard, IDC_AGREEMENT_TEXT));
  switch (drive) {
    case Drive::kNotShown:
    case Drive::kCancelWelcome:
      ClickItem(wizard, IDC_CANCEL);
      break;
    case Drive::kComplete:
      if (seen->agreement) ClickItem(wizard, IDC_AGREE);
      ClickItem(wizard, IDC_NEXT);
      ClickItem(wizard, IDC_NEXT);
      EXPECT_EQ("完了", WindowText(GetDlgItem(wizard, IDC_NEXT)));
      ClickItem(wizard, IDC_NEXT);
      break;
    case Drive::kCancelReady:
      ClickItem(wizard, IDC_NEXT);
      ClickItem(wizard, IDC_CANCEL);
      break;
  }
}

void ExpectBoxes(const std::vector<Box>& expected, const std::vector<CapturedBox>& boxes) {
  ASSERT_EQ(expected.size(), boxes.size()) << Describe(boxes);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("box " + std::to_string(i));
    EXPECT_EQ(expected[i].caption, boxes[i].caption);
    EXPECT_EQ(expected[i].text, boxes[i].text);
    EXPECT_EQ(expected[i].okCancel, boxes[i].hasCancel);
    EXPECT_EQ(expected[i].icon, boxes[i].hasIcon);
    EXPECT_EQ(nullptr, boxes[i].owner) << "no owner window";
  }
}

void ReleaseState() {
  if (g_updater.packageIndex) GlobalFree(g_updater.packageIndex);
  if (g_updater.agreementText) GlobalFree(g_updater.agreementText);
  if (g_updater.welcomeText) GlobalFree(g_updater.welcomeText);
  ResetUpdaterState();
}

void RunCase(std::size_t index, const InstallCase& c) {
  SCOPED_TRACE("install case " + std::to_string(index) + ": " + c.name);
  ScratchFolder work("qwinst");
  Context context;
  context.installFolder = work.Join("game");
  context.saveFolder = work.Join("save");
  ASSERT_TRUE(MakeFolder(context.installFolder));
  ASSERT_TRUE(MakeFolder(context.saveFolder));
  const std::string company = "QwInstallCheck" + std::to_string(index);

  ResetUpdaterState();
  ManifestFile manifest;
  manifest.setup.Set("CompanyName", company);
  ApplyKeys(&manifest.setup, c.manifest);
  manifest.update.Set("UpdateFile00", "README.TXT");
  const std::string manifestPath = work.Join("UPDATE.INI");
  ASSERT_TRUE(manifest.Write(manifestPath));
  lstrcpynA(g_updater.tempManifestPath, manifestPath.c_str(), sizeof g_updater.tempManifestPath);

  const std::vector<std::uint8_t> package = MakePackage();
  g_updater.packageData = package.data();
  g_updater.packageSize = static_cast<std::uint32_t>(package.size());
  g_updater.packageIndex = OpenPackage();
  ASSERT_NE(nullptr, g_updater.packageIndex);

  WriteRegistry("Software\\" + company + "\\" + kGameDir, c.registry, context);
  const std::string setupIni = JoinPath(context.installFolder, "SETUP.INI");
  if (c.setupIni == SetupIni::kFile) {
    ProfileSection installed = InstalledSetupSection();
    installed.Set("CompanyName", company);
    ApplyKeys(&installed, c.installed);
    ASSERT_TRUE(WriteInstalledSetupIni(setupIni, installed));
  } else if (c.setupIni == SetupIni::kFolder) {
    ASSERT_TRUE(MakeFolder(setupIni));
  }

  std::vector<std::unique_ptr<HostedWindow>> hosts;
  for (const Host& host : c.hosts) {
    hosts.push_back(std::make_unique<HostedWindow>());
    ASSERT_TRUE(hosts.back()->Open(host.className, host.title, host.hidden));
    context.hostWindows.push_back(hosts.back()->window());
  }

  // A window of this process in front, so that a window of another process comes to the front
  // only when it is brought there.
  struct Decoy {
    HWND window = CreateWindowExA(0, "STATIC", "decoy", WS_POPUP | WS_CAPTION | WS_VISIBLE, 300,
                                  300, 120, 60, nullptr, nullptr, nullptr, nullptr);
    ~Decoy() { DestroyWindow(window); }
  } decoy;
  SetForegroundWindow(decoy.window);

  int exitCode = -1;
  WizardSeen seen;
  std::vector<CapturedBox> boxes;
  {
    MessageBoxCapture capture;
    for (int answer : c.answers) capture.QueueAnswer(answer);
    BoxWatcher watcher([&](int box) {
      if (box == c.closeHostAtBox) hosts.at(0)->Close();
    });
    WizardScript driver([&](HWND wizard) { DriveWizard(wizard, c.drive, &seen); });
    exitCode = RunInstallCheckAndWizard(
        GetModuleHandleA(c.withoutTemplates ? "kernel32.dll" : nullptr));
    boxes = capture.boxes();
  }

  EXPECT_EQ(c.exitCode, exitCode);
  ExpectBoxes(c.boxes, boxes);
  EXPECT_EQ(c.drive != Drive::kNotShown, seen.shown) << "wizard shown";
  if (seen.shown) {
    EXPECT_EQ(c.caption ? c.caption : kCaption, seen.caption);
    EXPECT_EQ(c.welcome ? c.welcome : kWelcome, seen.welcome);
    EXPECT_EQ(c.agreement, seen.agreement) << "template 101";
  }
  EXPECT_EQ(nullptr, g_updater.mainWindow) << "mainWindow after the wizard";
  if (c.check) c.check(context);

  ReleaseState();
  DeleteRegistry(company);
}

// ---- The cases

std::string FileText(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (!ReadBytes(path, &bytes)) return "(unreadable)";
  return std::string(bytes.begin(), bytes.end());
}

void ExpectUpdated(const Context& context) {
  EXPECT_EQ(kReadme, FileText(JoinPath(context.installFolder, "README.TXT")));
}

void ExpectHostInFront(const Context& context) {
  HWND host = context.hostWindows.at(0);
  EXPECT_TRUE(IsWindowVisible(host)) << "shown";
  // Activation of another process's window completes in that process: give it a moment.
  for (int waited = 0; waited < 2000 && GetForegroundWindow() != host; waited += 20) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  EXPECT_EQ(host, GetForegroundWindow()) << "in front";
}

void ExpectBlock(const char* block, const std::string& bytes) {
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(bytes.size() + 2, GlobalSize(const_cast<char*>(block)));
  EXPECT_EQ(bytes + std::string(2, '\0'), std::string(block, bytes.size() + 2));
}

const InstallCase kCases[] = {
    {"a plain run to the wizard's end", {}, Registry::kComplete, SetupIni::kFile, {}, {}, {}, -1,
     Drive::kComplete, {}, 1, nullptr, nullptr, false,
     [](const Context& context) {
       ExpectUpdated(context);
       EXPECT_EQ(context.saveFolder, g_updater.installRecord.dataPath);
       EXPECT_EQ(1, g_updater.installRecord.instMode);
       EXPECT_EQ(JoinPath(context.installFolder, "SETUP.INI"), g_updater.setupIniPath);
     }},
    {"GameClass missing: one message, GameDir not read", {{"GameClass", nullptr}},
     Registry::kComplete, SetupIni::kFile, {}, {}, {}, -1, Drive::kNotShown,
     {Setup("SETUP : GameClass キーが存在しません")}, 0, nullptr, nullptr, false,
     [](const Context&) { EXPECT_STREQ("", g_updater.manifest.gameDir); }},
    {"CompanyName empty", {{"CompanyName", ""}}, Registry::kComplete, SetupIni::kFile, {}, {},
     {}, -1, Drive::kNotShown, {Setup("SETUP : CompanyName キーが存在しません")}, 0, nullptr,
     nullptr, false, nullptr},
    {"no optional key: no message, empty fields, trailing blank in the caption",
     {{"UpdaterVersion", nullptr}}, Registry::kComplete, SetupIni::kFile, {}, {}, {}, -1,
     Drive::kComplete, {}, 1, "ソ表クエスト アップデータ ", nullptr, false,
     [](const Context&) {
       const UpdateManifest& m = g_updater.manifest;
       EXPECT_STREQ("", m.gameTitleA);
       EXPECT_STREQ("", m.updaterTitle);
       EXPECT_STREQ("", m.dataFolder);
       EXPECT_STREQ("", m.updateMessage);
       EXPECT_EQ(nullptr, g_updater.agreementText);
       EXPECT_EQ(nullptr, g_updater.welcomeText);
       EXPECT_EQ(1, g_updater.silentMissingKeys);
     }},
    {"AgreementText empty counts as absent", {{"AgreementText", ""}, {"AgreementTitle", ""}},
     Registry::kComplete, SetupIni::kFile, {}, {}, {}, -1, Drive::kComplete, {}, 1, nullptr,
     nullptr, false, nullptr},
    {"AgreementText names no member", {{"AgreementText", "NOPE.TXT"}}, Registry::kComplete,
     SetupIni::kFile, {}, {}, {}, -1, Drive::kNotShown,
     {Updater("Can't Find File in Resource !!"), Updater("'NOPE.TXT' not found at UPDATE.QW3")},
     0, nullptr, nullptr, false, nullptr},
    {"AgreementTitle names no member", {{"AgreementTitle", "HELLO.TXT"}}, Registry::kComplete,
     SetupIni::kFile, {}, {}, {}, -1, Drive::kNotShown,
     {Updater("Can't Find File in Resource !!"), Updater("'HELLO.TXT' not found at UPDATE.QW3")},
     0, nullptr, nullptr, false, nullptr},
    {"agreement text accepted, welcome text from its member",
     {{"AgreementText", "agree.txt"}, {"AgreementTitle", "WELCOME.TXT"}}, Registry::kComplete,
     SetupIni::kFile, {}, {}, {}, -1, Drive::kComplete, {}, 1, nullptr, kWelcomeMember, true,
     [](const Context& context) {
       ExpectUpdated(context);
       ExpectBlock(g_updater.agreementText, kAgreement);
       ExpectBlock(g_updater.welcomeText, kWelcomeMember);
     }},
    {"a compressed 10-byte member as agreement: a 12-byte block",
     {{"AgreementText", "AGREE10.TXT"}}, Registry::kComplete, SetupIni::kFile, {}, {}, {}, -1,
     Drive::kComplete, {}, 1, nullptr, nullptr, true,
     [](const Context&) { ExpectBlock(g_updater.agreementText, "0123456789"); }},
    {"an empty stored member as agreement still counts as present",
     {{"AgreementText", "EMPTY.TXT"}}, Registry::kComplete, SetupIni::kFile, {}, {}, {}, -1,
     Drive::kComplete, {}, 1, nullptr, nullptr, true,
     [](const Context&) { ExpectBlock(g_updater.agreementText, ""); }},
    {"agreement refused by cancelling", {{"AgreementText", "AGREE.TXT"}}, Registry::kComplete,
     SetupIni::kFile, {}, {}, {}, -1, Drive::kCancelWelcome, {AfterCaption(kInterrupted)}, 0,
     nullptr, nullptr, true, nullptr},
    {"no registry key: the manifest's title", {{"GameTitle", "マニフェスト題"}}, Registry::kNoKey,
     SetupIni::kFile, {}, {}, {}, -1, Drive::kNotShown, {Updater(NotInstalled("マニフェスト題"))},
     0, nullptr, nullptr, false, nullptr},
    {"InstPath absent", {}, Registry::kNoInstPath, SetupIni::kFile, {}, {}, {}, -1,
     Drive::kNotShown, {Updater(NotInstalled(kTitle))}, 0, nullptr, nullptr, false, nullptr},
    {"InstMode absent", {}, Registry::kNoInstMode, SetupIni::kFile, {}, {}, {}, -1,
     Drive::kNotShown, {Updater(NotInstalled(kTitle))}, 0, nullptr, nullptr, false, nullptr},
    {"InstMode of 8 bytes", {}, Registry::kLongInstMode, SetupIni::kFile, {}, {}, {}, -1,
     Drive::kNotShown, {Updater(NotInstalled(kTitle))}, 0, nullptr, nullptr, false, nullptr},
    {"InstPath longer than its buffer", {}, Registry::kLongInstPath, SetupIni::kFile, {}, {}, {},
     -1, Drive::kNotShown, {Updater(NotInstalled(kTitle))}, 0, nullptr, nullptr, false, nullptr},
    {"InstPath filling its buffer without a NUL counts as absent", {}, Registry::kFullInstPath,
     SetupIni::kFile, {}, {}, {}, -1, Drive::kNotShown, {Updater(NotInstalled(kTitle))}, 0,
     nullptr, nullptr, false, nullptr},
    {"InstPath without room for SETUP.INI", {}, Registry::kInstPathWithoutRoom, SetupIni::kFile,
     {}, {}, {}, -1, Drive::kNotShown, {Updater(kNoSetupIni)}, 0, nullptr, nullptr, false,
     [](const Context&) {
       EXPECT_EQ("C:\\" + std::string(256, 'R'), g_updater.installRecord.instPath);
     }},
    {"DataPath absent: no message, empty", {}, Registry::kNoDataPath, SetupIni::kFile, {}, {}, {},
     -1, Drive::kComplete, {}, 1, nullptr, nullptr, false,
     [](const Context&) { EXPECT_STREQ("", g_updater.installRecord.dataPath); }},
    {"DataPath longer than its buffer: empty", {}, Registry::kLongDataPath, SetupIni::kFile, {},
     {}, {}, -1, Drive::kComplete, {}, 1, nullptr, nullptr, false,
     [](const Context&) { EXPECT_STREQ("", g_updater.installRecord.dataPath); }},
    {"DataPath filling its buffer without a NUL: empty", {}, Registry::kFullDataPath,
     SetupIni::kFile, {}, {}, {}, -1, Drive::kComplete, {}, 1, nullptr, nullptr, false,
     [](const Context&) {
       EXPECT_STREQ("", g_updater.installRecord.dataPath);
       EXPECT_EQ(1, g_updater.installRecord.instMode);
     }},
    {"update message with a line break", {{"UpdateMessage", "Line1\\nLine2"}},
     Registry::kComplete, SetupIni::kFile, {}, {}, {}, -1, Drive::kComplete,
     {Updater("Line1\rLine2")}, 1, nullptr, nullptr, false, nullptr},
    {"update message: doubled and trailing backslashes, N, ソn and 表\\n",
     {{"UpdateMessage", "a\\\\nb \\N ソn 表\\n c\\"}}, Registry::kComplete, SetupIni::kFile, {}, {},
     {}, -1, Drive::kComplete, {Updater("a\\\rb \\N ソn 表\r c\\")}, 1, nullptr, nullptr, false,
     nullptr},
    {"no SETUP.INI in the install folder", {}, Registry::kComplete, SetupIni::kMissing, {}, {},
     {}, -1, Drive::kNotShown, {Updater(kNoSetupIni)}, 0, nullptr, nullptr, false, nullptr},
    {"SETUP.INI as a folder: LoadSetupConfig fails silently", {}, Registry::kComplete,
     SetupIni::kFolder, {}, {}, {}, -1, Drive::kNotShown, {}, 0, nullptr, nullptr, false,
     nullptr},
    {"SETUP.INI without GameExe: silent", {}, Registry::kComplete, SetupIni::kFile,
     {{"GameExe", nullptr}}, {}, {}, -1, Drive::kNotShown, {}, 0, nullptr, nullptr, false,
     nullptr},
    {"SETUP.INI with a bad value", {}, Registry::kComplete, SetupIni::kFile,
     {{"InstallSelects", "4"}}, {}, {}, -1, Drive::kNotShown,
     {Setup("SETUP.INI : InstallSelect オーバー")}, 0, nullptr, nullptr, false, nullptr},
    {"UpdaterTitle is the caption, percent signs and all", {{"UpdaterTitle", "100% 更新 %s"}},
     Registry::kComplete, SetupIni::kFile, {}, {}, {}, -1, Drive::kCancelReady,
     {{"100% 更新 %s", kInterrupted, false, true}}, 0, "100% 更新 %s", nullptr, false, nullptr},
    {"the installed title and class replace the manifest's", {{"GameTitle", "旧題"}},
     Registry::kComplete, SetupIni::kFile, {{"GameTitle", "新題"}, {"GameClass", "NewClass"}},
     {{"NewClass", "新題", false}}, {IDCANCEL}, -1, Drive::kNotShown,
     {GameRunning("新題", "新題 アップデータ 1.01")}, 0, nullptr, nullptr, false, nullptr},
    {"another updater's wizard: brought to the front, no message", {}, Registry::kComplete,
     SetupIni::kFile, {}, {{"#32770", kCaption, true}}, {}, -1, Drive::kNotShown, {}, 0, nullptr,
     nullptr, false, ExpectHostInFront},
    {"a dialog under another title is no updater", {}, Registry::kComplete, SetupIni::kFile, {},
     {{"#32770", "ソ表クエスト アップデータ 1.00", false}}, {}, -1, Drive::kComplete, {}, 1,
     nullptr, nullptr, false, nullptr},
    {"a window of another class under the caption is no updater", {}, Registry::kComplete,
     SetupIni::kFile, {}, {{"OtherClass", kCaption, false}}, {}, -1, Drive::kComplete, {}, 1,
     nullptr, nullptr, false, nullptr},
    {"game running, Cancel: its window in front, no interruption message", {},
     Registry::kComplete, SetupIni::kFile, {}, {{kGameClass, kTitle, false}}, {IDCANCEL}, -1,
     Drive::kNotShown, {GameRunning(kTitle)}, 0, nullptr, nullptr, false, ExpectHostInFront},
    {"game running, OK twice: asked again, then closed before the second OK", {},
     Registry::kComplete, SetupIni::kFile, {}, {{kGameClass, kTitle, false}}, {IDOK, IDOK}, 1,
     Drive::kComplete, {GameRunning(kTitle), GameRunning(kTitle)}, 1, nullptr, nullptr, false,
     ExpectUpdated},
    {"a window of the title under another class is no game", {}, Registry::kComplete,
     SetupIni::kFile, {}, {{"OtherClass", kTitle, false}}, {}, -1, Drive::kComplete, {}, 1,
     nullptr, nullptr, false, nullptr},
    {"game under its second title", {{"GameTitleA", "ソ表 体験版"}}, Registry::kComplete,
     SetupIni::kFile, {}, {{kGameClass, "ソ表 体験版", false}}, {IDCANCEL}, -1, Drive::kNotShown,
     {GameRunning("ソ表 体験版")}, 0, nullptr, nullptr, false, ExpectHostInFront},
    {"second title not looked for while GameTitleA is empty", {}, Registry::kComplete,
     SetupIni::kFile, {}, {{kGameClass, "ソ表 体験版", false}}, {}, -1, Drive::kComplete, {}, 1,
     nullptr, nullptr, false, nullptr},
    {"both titles: the first closed at its OK, the second reported", {{"GameTitleA", "ソ表 体験版"}},
     Registry::kComplete, SetupIni::kFile, {},
     {{kGameClass, kTitle, false}, {kGameClass, "ソ表 体験版", false}}, {IDOK, IDCANCEL}, 0,
     Drive::kNotShown, {GameRunning(kTitle), GameRunning("ソ表 体験版")}, 0, nullptr, nullptr,
     false, nullptr},
    {"wizard cancelled on the welcome page", {}, Registry::kComplete, SetupIni::kFile, {}, {}, {},
     -1, Drive::kCancelWelcome, {AfterCaption(kInterrupted)}, 0, nullptr, nullptr, false,
     nullptr},
    {"wizard cancelled on the ready page", {}, Registry::kComplete, SetupIni::kFile, {}, {}, {},
     -1, Drive::kCancelReady, {AfterCaption(kInterrupted)}, 0, nullptr, nullptr, false,
     nullptr},
    {"a wizard that cannot be created counts as interrupted", {}, Registry::kComplete,
     SetupIni::kFile, {}, {}, {}, -1, Drive::kNotShown, {AfterCaption(kInterrupted)}, 0, nullptr,
     nullptr, false, nullptr, true},
};

TEST(InstallCheck, EveryStepInOrder) {
  for (std::size_t i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) RunCase(i, kCases[i]);
}

}  // namespace
