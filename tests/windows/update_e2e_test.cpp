// The update page of the real UPDATE.exe, end to end: each case prepares an installed game in the
// test prefix (registry values under HKCU\Software\<company>\SOHYOU, the install folder with its
// SETUP.INI and game files, a save folder), builds a package around its own manifest, runs a copy
// of the built updater and drives it through the wizard like a player. P: and Q: are CD-ROM
// drives and S: a small drive of its own (scripts/test-drives); every case leaves them empty.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/win32_handles.h"
#include "res/resource.h"
#include "tests/support/profile_files.h"
#include "tests/support/test_files.h"
#include "tests/support/test_updater.h"
#include "tests/support/updater_process.h"
#include "tools/packer/package_writer.h"

namespace {

constexpr char kGameDir[] = "SOHYOU";
constexpr std::uint64_t kMemberTime = 134405892000000000;  // 2026-12-01 09:00 UTC
constexpr std::uint64_t kOlderTime = kMemberTime - 864000000000;  // one day earlier
constexpr std::uint64_t kNewerTime = kMemberTime + 1;

constexpr char kReadyText[] = "アップデートを実行します";
constexpr char kCompletedText[] = "アップデートは完了しました";
constexpr char kInterrupted[] = "アップデートが中断されました";
constexpr char kWriteFailed[] = "ファイルの書き込みに失敗しました";
constexpr char kNothingToDo[] = "アップデートする必要のあるファイルはありません";
constexpr char kDiskPrompt[] = "ＣＤ－ＲＯＭドライブに「ソ表クエスト」ディスク 1 を入れて下さい";

// ---- Files and times

std::uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return std::uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime;
}

bool WriteStamped(const std::string& path, const std::string& text, std::uint64_t time) {
  if (!WriteText(path, text)) return false;
  UniqueFile file(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME stamp{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  return file && SetFileTime(file.get(), nullptr, nullptr, &stamp);
}

std::string ReadText(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (!ReadBytes(path, &bytes)) return "<unreadable>";
  return std::string(bytes.begin(), bytes.end());
}

// Files and folders put on a test drive (a disk in a CD-ROM drive), removed when it goes.
class DriveContents {
 public:
  ~DriveContents() {
    for (auto it = paths_.rbegin(); it != paths_.rend(); ++it) RemoveTree(*it);
  }
  void Folder(const std::string& path) {
    ASSERT_TRUE(MakeFolder(path)) << path;
    paths_.push_back(path);
  }
  void File(const std::string& path, const std::string& text) {
    ASSERT_TRUE(WriteText(path, text)) << path;
    paths_.push_back(path);
  }

 private:
  std::vector<std::string> paths_;
};

// ---- The installed game

// Registry values, install folder (its SETUP.INI names the disks' check files) and save folder;
// everything is removed when it goes. company is the case's own maker folder in the registry.
class InstalledGame {
 public:
  InstalledGame(const std::string& company, const std::string& installFolder,
                const std::string& saveFolder, std::int32_t instMode = 1)
      : company_(company), installFolder_(installFolder), saveFolder_(saveFolder) {
    EXPECT_TRUE(MakeFolder(installFolder_)) << installFolder_;
    if (!saveFolder_.empty()) {
      EXPECT_TRUE(MakeFolder(saveFolder_)) << saveFolder_;
    }
    ProfileSection setup = InstalledSetupSection();
    setup.Set("CompanyName", company_)
        .Set("DiskCheckFile1", "DISK1.CHK")
        .Set("DiskCheckFile2", "DISK2.CHK");
    EXPECT_TRUE(WriteInstalledSetupIni(Install("SETUP.INI"), setup));
    WriteRegistry(instMode);
  }
  ~InstalledGame() {
    const std::string companyKey = "Software\\" + company_;
    RegDeleteKeyA(HKEY_CURRENT_USER, (companyKey + "\\" + kGameDir).c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, companyKey.c_str());
    RemoveTree(installFolder_);
    if (!saveFolder_.empty()) RemoveTree(saveFolder_);
  }

  const std::string& company() const { return company_; }
  std::string Install(const std::string& name) const { return JoinPath(installFolder_, name); }
  std::string Save(const std::string& name) const { return JoinPath(saveFolder_, name); }

 private:
  void WriteRegistry(std::int32_t instMode) {
    UniqueRegKey key;
    const std::string path = "Software\\" + company_ + "\\" + kGameDir;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, key.put(), nullptr));
    auto setString = [&](const char* name, const std::string& value) {
      RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
    };
    setString("InstPath", installFolder_);
    if (!saveFolder_.empty()) setString("DataPath", saveFolder_);
    const DWORD mode = static_cast<DWORD>(instMode);
    RegSetValueExA(key.get(), "InstMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode),
                   sizeof mode);
  }

  std::string company_;
  std::string installFolder_;
  std::string saveFolder_;
};

// ---- The update

struct Member {
  std::string name;
  std::string text;
};

// The package: the manifest (section SETUP naming the game, with setupKeys added; section
// UPDATE as given) first, then the members, all stamped with kMemberTime and stored as they are.
std::vector<std::uint8_t> MakePackage(const InstalledGame& game,
                                      const std::vector<ProfileSection::Key>& updateKeys,
                                      const std::vector<Member>& members,
                                      const std::vector<ProfileSection::Key>& setupKeys = {}) {
  ManifestFile manifest;
  manifest.setup.Set("CompanyName", game.company());
  for (const auto& key : setupKeys) manifest.setup.Set(key.first, key.second);
  for (const auto& key : updateKeys) manifest.update.Set(key.first, key.second);
  std::string manifestText;
  for (const ProfileSection& section : {manifest.setup, manifest.update}) {
    for (const std::string& line : section.Lines()) manifestText += line + "\r\n";
  }
  std::vector<PackageMemberInput> inputs = {{"UPDATE.INI", ToBytes(manifestText), kMemberTime}};
  for (const Member& member : members) {
    inputs.push_back({member.name, ToBytes(member.text), kMemberTime});
  }
  std::vector<std::uint8_t> package;
  std::string error;
  EXPECT_TRUE(BuildPackage(inputs, false, &package, &error)) << error;
  return package;
}

// How a run ended.
struct RunResult {
  bool completed = false;  // the update page showed the completion page and 完了 ended it
  HWND wizard = nullptr;   // the owner the page's boxes must have
  int exitCode = -2;
  std::vector<CapturedBox> boxes;
  std::string describe;
};

std::vector<std::string> BoxTexts(const RunResult& result) {
  std::vector<std::string> texts;
  for (const CapturedBox& box : result.boxes) texts.push_back(box.text);
  return texts;
}

// One run of the updater in a folder of its own (a scratch folder, or the folder given, which
// the caller owns): start, then drive the wizard.
class UpdateRun {
 public:
  explicit UpdateRun(const std::vector<std::uint8_t>& package, const std::string& folder = {})
      : folder_(folder.empty() ? scratch_.path() : folder) {
    EXPECT_TRUE(MakeFolder(TempFolder()));
    exe_ = MakeTestUpdater(folder_, package);
  }

  UpdaterProcess& process() { return process_; }
  std::string TempFolder() const { return JoinPath(folder_, "temp"); }
  std::string Folder() const { return folder_; }

  bool Start() {
    if (exe_.empty()) return false;
    RunOptions options;
    options.tempFolder = TempFolder();
    return process_.Start(exe_, options);
  }

  // Welcome page, Next; ready page, Next: true once the update page is running.
  bool ToUpdatePage() {
    wizard_ = process_.WaitForWizard();
    if (!wizard_) return false;
    process_.Click(IDC_NEXT);
    if (!WaitForInfo(kReadyText)) return false;
    process_.Click(IDC_NEXT);
    return true;
  }

  bool WaitForInfo(const std::string& text) {
    return process_.WaitUntil([&] { return process_.ControlText(IDC_INFO) == text; },
                              text.c_str());
  }

  // From the running update page to the end: presses 完了 when the completion page comes.
  RunResult Finish() {
    RunResult result;
    const bool done = process_.WaitUntil(
        [&] { return process_.ControlText(IDC_NEXT) == "完了"; }, "the completion page");
    if (done) {
      EXPECT_EQ(kCompletedText, process_.ControlText(IDC_INFO));
      EXPECT_TRUE(process_.IsEnabled(IDC_NEXT));
      EXPECT_FALSE(process_.IsEnabled(IDC_BACK));
      EXPECT_FALSE(process_.IsEnabled(IDC_CANCEL));
      process_.Click(IDC_NEXT);
    }
    result.exitCode = process_.WaitForExit();
    result.completed = done;
    result.wizard = wizard_;
    result.boxes = process_.boxes();
    result.describe = process_.Describe();
    return result;
  }

  // The whole run: start, welcome, ready, update page, outcome.
  RunResult Through() {
    if (!Start() || !ToUpdatePage()) {
      RunResult failed;
      failed.describe = process_.Describe();
      ADD_FAILURE() << "the wizard did not reach the update page: " << failed.describe;
      return failed;
    }
    return Finish();
  }

 private:
  ScratchFolder scratch_{"qwupdate"};
  std::string folder_;
  std::string exe_;
  UpdaterProcess process_;
  HWND wizard_ = nullptr;
};

// A completed update: exit 1, no message box.
void ExpectCompleted(const RunResult& result) {
  EXPECT_TRUE(result.completed) << result.describe;
  EXPECT_EQ(1, result.exitCode) << result.describe;
}

// An update ended by the page with -1: these boxes, then the interruption message, exit 0.
void ExpectInterrupted(const RunResult& result, std::vector<std::string> boxes) {
  boxes.push_back(kInterrupted);
  EXPECT_FALSE(result.completed) << result.describe;
  EXPECT_EQ(0, result.exitCode) << result.describe;
  EXPECT_EQ(boxes, BoxTexts(result)) << result.describe;
}

class UpdateE2E : public ::testing::Test {
 protected:
  std::string Folder(const std::string& name) { return scratch_.Join(name); }
  ScratchFolder scratch_{"qwgame"};
};

// ---- The typical run

TEST_F(UpdateE2E, TypicalRunExtractsFourPlainMembersOverTheInstalledFiles) {
  InstalledGame game("QWU-Typical", Folder("ソ表 Game"), Folder("Save"));
  const std::string large(1 << 20, 'x');
  const std::vector<Member> members = {
      {"SETUP.INI", ReadText(game.Install("SETUP.INI")) + "UpdatedBy=1.01\r\n"},
      {"DATA.XP3", "data " + large},
      {"VOICE.XP3", "voice " + large},
      {"BGM.XP3", "bgm " + large},
  };
  for (const Member& member : members) {
    if (member.name != "SETUP.INI") {
      ASSERT_TRUE(WriteStamped(game.Install(member.name), "old", kOlderTime));
    }
  }
  UpdateRun run(MakePackage(game,
                            {{"UpdateFile00", "SETUP.INI"},
                             {"UpdateFile01", "DATA.XP3"},
                             {"UpdateFile02", "VOICE.XP3"},
                             {"UpdateFile03", "BGM.XP3"}},
                            members));
  const RunResult result = run.Through();
  ExpectCompleted(result);
  EXPECT_TRUE(result.boxes.empty()) << result.describe;
  for (size_t i = 0; i < members.size(); ++i) {
    EXPECT_TRUE(ReadText(game.Install(members[i].name)) == members[i].text) << "member " << i;
    EXPECT_EQ(kMemberTime, LastWriteTime(game.Install(members[i].name))) << "member " << i;
  }
  EXPECT_EQ(std::vector<std::string>{}, ListTree(run.TempFolder())) << "temporary manifest";
}

// ---- Modes

enum class Before { missing, older, newer, folder };

struct ModeCase {
  const char* value;  // UpdateFileXX, its member named by the part after the last backslash
  const char* target;  // below the install folder (or the save folder, "save:")
  Before before;
  bool replaced;  // the target holds the member afterwards (else it is as before)
};

// Every mode with an existing and a missing target, in one run, below DataFolder "DATA": the
// folder is created (one level) in the install and in the save folder.
TEST_F(UpdateE2E, EachModeWritesByItsRule) {
  const ModeCase cases[] = {
      {"PLAIN1.TXT", "PLAIN1.TXT", Before::newer, true},
      {"PLAIN2.TXT", "PLAIN2.TXT", Before::missing, true},
      {"u,NEWER1.TXT", "NEWER1.TXT", Before::older, true},
      {"U,NEWER2.TXT", "NEWER2.TXT", Before::newer, false},
      {"u,NEWER3.TXT", "NEWER3.TXT", Before::missing, true},
      {"d,SAVE1.SAV", "save:SAVE1.SAV", Before::missing, true},
      {"o,ONLY1.TXT", "ONLY1.TXT", Before::older, true},
      {"o,ONLY2.TXT", "ONLY2.TXT", Before::missing, false},
      {"o,ONLY3.TXT", "ONLY3.TXT", Before::folder, false},
      {"1,u,FILTERED.TXT", "FILTERED.TXT", Before::older, true},  // install mode 1 matches
      {"2,FOREIGN.TXT", "FOREIGN.TXT", Before::older, false},     // another install mode
  };
  InstalledGame game("QWU-Modes", Folder("Game"), Folder("Save"));
  std::vector<ProfileSection::Key> keys;
  std::vector<Member> members;
  ASSERT_TRUE(MakeFolder(game.Install("DATA")));
  ASSERT_TRUE(MakeFolder(game.Save("DATA")));
  auto targetOf = [&](const ModeCase& c) {
    const std::string target = c.target;
    return target.rfind("save:", 0) == 0 ? game.Save("DATA\\" + target.substr(5))
                                          : game.Install("DATA\\" + target);
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const ModeCase& c = cases[i];
    char key[16];
    wsprintfA(key, "UpdateFile%02i", static_cast<int>(i));
    keys.emplace_back(key, c.value);
    const std::string value = c.value;
    members.push_back({value.substr(value.rfind(',') + 1), "member " + std::to_string(i)});
    const std::string target = targetOf(c);
    bool prepared = true;
    if (c.before == Before::older) prepared = WriteStamped(target, "before", kOlderTime);
    if (c.before == Before::newer) prepared = WriteStamped(target, "before", kNewerTime);
    if (c.before == Before::folder) prepared = MakeFolder(target);
    ASSERT_TRUE(prepared) << "case " << i;
  }
  // The DataFolder level is created by the page itself.
  RemoveTree(game.Save("DATA"));
  UpdateRun run(MakePackage(game, keys, members, {{"DataFolder", "DATA"}}));
  const RunResult result = run.Through();
  ExpectCompleted(result);
  EXPECT_TRUE(result.boxes.empty()) << result.describe;

  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const ModeCase& c = cases[i];
    const std::string target = targetOf(c);
    if (c.replaced) {
      EXPECT_EQ(members[i].text, ReadText(target)) << "case " << i << ": " << c.value;
      EXPECT_EQ(kMemberTime, LastWriteTime(target)) << "case " << i << ": " << c.value;
    } else if (c.before == Before::missing) {
      EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(target)) << "case " << i << ": " << c.value;
    } else if (c.before == Before::folder) {
      EXPECT_TRUE(IsFolder(target)) << "case " << i << ": " << c.value;
    } else {
      EXPECT_EQ("before", ReadText(target)) << "case " << i << ": " << c.value;
    }
  }
}

// OverwriteOnly: every entry, whatever its mode, only where its target already is a file.
TEST_F(UpdateE2E, OverwriteOnlyWritesOnlyOverExistingFiles) {
  InstalledGame game("QWU-OverwriteOnly", Folder("Game"), Folder("Save"));
  ASSERT_TRUE(WriteStamped(game.Install("HERE.TXT"), "before", kOlderTime));
  ASSERT_TRUE(MakeFolder(game.Install("DIR.TXT")));
  UpdateRun run(MakePackage(game,
                            {{"OverwriteOnly", "1"},
                             {"UpdateFile00", "HERE.TXT"},
                             {"UpdateFile01", "AWAY.TXT"},
                             {"UpdateFile02", "u,AWAY2.TXT"},
                             {"UpdateFile03", "DIR.TXT"}},
                            {{"HERE.TXT", "new"}, {"AWAY.TXT", "new"}, {"AWAY2.TXT", "new"},
                             {"DIR.TXT", "new"}}));
  const RunResult result = run.Through();
  ExpectCompleted(result);
  EXPECT_TRUE(result.boxes.empty()) << result.describe;
  EXPECT_EQ("new", ReadText(game.Install("HERE.TXT")));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(game.Install("AWAY.TXT")));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(game.Install("AWAY2.TXT")));
  EXPECT_TRUE(IsFolder(game.Install("DIR.TXT")));
}

// ---- The player's save data

struct SaveCase {
  const char* name;
  const char* before;  // contents of the existing save; null: none
  bool readOnly;
  bool heldOpen;  // held open by the test process, sharing nothing
};

// An existing save keeps its exact contents (an empty one too) and gets a new last-write time;
// nothing can truncate it, not even a save that is read-only or held open by another process.
// A missing save is extracted from the package.
TEST_F(UpdateE2E, SaveDataKeepsItsContentsAndGetsANewTime) {
  const SaveCase cases[] = {
      {"PLAIN.SAV", "player's progress \x82\xBB\x82\xCC 1", false, false},
      {"EMPTY.SAV", "", false, false},
      {"LOCKED.SAV", "held by the game", false, true},
      {"RO.SAV", "read-only progress", true, false},
      {"NEW.SAV", nullptr, false, false},
  };
  constexpr size_t kCount = sizeof cases / sizeof cases[0];
  InstalledGame game("QWU-SaveData", Folder("Game"), Folder("Save"));
  std::vector<ProfileSection::Key> keys;
  std::vector<Member> members;
  std::vector<UniqueFile> holders;
  for (size_t i = 0; i < kCount; ++i) {
    keys.emplace_back("UpdateFile0" + std::to_string(i), std::string("d,") + cases[i].name);
    members.push_back({cases[i].name, "initial save " + std::to_string(i)});
    if (!cases[i].before) continue;
    const std::string path = game.Save(cases[i].name);
    ASSERT_TRUE(WriteStamped(path, cases[i].before, kOlderTime)) << "case " << i;
    if (cases[i].readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    if (cases[i].heldOpen) {
      holders.emplace_back(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(holders.back()) << "case " << i;
    }
  }
  const std::uint64_t start = Now();
  UpdateRun run(MakePackage(game, keys, members));
  const RunResult result = run.Through();
  holders.clear();
  ExpectCompleted(result);
  EXPECT_TRUE(result.boxes.empty()) << result.describe;
  for (size_t i = 0; i < kCount; ++i) {
    const std::string path = game.Save(cases[i].name);
    if (!cases[i].before) {
      EXPECT_EQ(members[i].text, ReadText(path)) << "case " << i;
      EXPECT_EQ(kMemberTime, LastWriteTime(path)) << "case " << i;
      continue;
    }
    EXPECT_EQ(cases[i].before, ReadText(path)) << "case " << i;
    EXPECT_GE(LastWriteTime(path), start) << "case " << i;
    EXPECT_EQ(cases[i].readOnly, (Attributes(path) & FILE_ATTRIBUTE_READONLY) != 0)
        << "case " << i;
  }
}

// ---- Nothing to do, and failures of the update list

TEST_F(UpdateE2E, EntriesOfAnotherInstallModeLeaveNothingToDo) {
  InstalledGame game("QWU-Filter", Folder("Game"), Folder("Save"), /*instMode=*/2);
  UpdateRun run(MakePackage(game, {{"UpdateFile00", "1,A.TXT"}, {"UpdateFile01", "3,u,B.TXT"}},
                            {{"A.TXT", "a"}, {"B.TXT", "b"}}));
  const RunResult result = run.Through();
  ExpectCompleted(result);
  EXPECT_EQ(std::vector<std::string>{kNothingToDo}, BoxTexts(result)) << result.describe;
  EXPECT_EQ(std::vector<std::string>{"SETUP.INI"}, ListTree(game.Install("")));
}

struct FailureCase {
  const char* label;
  std::vector<ProfileSection::Key> keys;
  std::vector<std::string> boxes;  // before the interruption message
};

// Each failure ends the wizard with -1 after its messages; what was written before stays.
TEST_F(UpdateE2E, FailuresOfTheUpdateListEndTheRun) {
  const FailureCase cases[] = {
      {"no list keys", {{"RequiredDiskSpace", "1"}}, {"No 'UpdateFileXX' and 'CopyFileXX'"}},
      {"missing member",
       {{"UpdateFile00", "FIRST.TXT"}, {"UpdateFile01", "ABSENT.TXT"}},
       {"Can't Find File in Resource !!", kWriteFailed}},
      {"target is a folder",
       {{"UpdateFile00", "FIRST.TXT"}, {"UpdateFile01", "FOLDER.TXT"}},
       {kWriteFailed}},
      {"subfolder that does not exist",
       {{"UpdateFile00", "FIRST.TXT"}, {"UpdateFile01", "NOSUCH\\DEEP\\FOLDER.TXT"}},
       {kWriteFailed}},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SCOPED_TRACE(std::string("case ") + std::to_string(i) + ": " + cases[i].label);
    InstalledGame game("QWU-Failure" + std::to_string(i), Folder("Game"), Folder("Save"));
    ASSERT_TRUE(MakeFolder(game.Install("FOLDER.TXT")));
    UpdateRun run(MakePackage(game, cases[i].keys,
                              {{"FIRST.TXT", "first"}, {"FOLDER.TXT", "folder"}}));
    ExpectInterrupted(run.Through(), cases[i].boxes);
    const bool firstListed = cases[i].keys.front().first == "UpdateFile00";
    EXPECT_EQ(firstListed, ReadText(game.Install("FIRST.TXT")) == "first");
    EXPECT_TRUE(IsFolder(game.Install("FOLDER.TXT")));
  }
}

// ---- Free space

// S: is a small drive of its own, so its free space stays put while nothing writes to it.
TEST_F(UpdateE2E, FreeSpaceShortfallOffersBackAndTheRerunReadsTheManifestAnew) {
  ULARGE_INTEGER total{};
  if (!GetDiskFreeSpaceExA("S:\\", nullptr, &total, nullptr) || total.QuadPart > (64u << 20)) {
    GTEST_SKIP() << "no small drive S: (scripts/test-drives mounts a tmpfs there as root)";
  }
  InstalledGame game("QWU-Space", "S:\\QWU-Space", Folder("Save"));
  ULARGE_INTEGER free{};
  ASSERT_TRUE(GetDiskFreeSpaceExA("S:\\", &free, nullptr, nullptr));
  const std::string needed = std::to_string(free.QuadPart + 1);
  UpdateRun run(MakePackage(game, {{"RequiredDiskSpace", needed}, {"UpdateFile00", "A.TXT"}},
                            {{"A.TXT", "a"}}));
  ASSERT_TRUE(run.Start());
  ASSERT_TRUE(run.ToUpdatePage());
  UpdaterProcess& process = run.process();
  ASSERT_TRUE(run.WaitForInfo("ディスク容量が足りません。\rS: ドライブに 1 バイトの空き容量が必要です"));
  EXPECT_TRUE(process.IsEnabled(IDC_BACK));
  EXPECT_FALSE(process.IsEnabled(IDC_NEXT));
  EXPECT_TRUE(process.IsEnabled(IDC_CANCEL));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(game.Install("A.TXT")));

  process.Click(IDC_BACK);
  ASSERT_TRUE(run.WaitForInfo(kReadyText));
  // Exactly the free space passes: the rerun reads section UPDATE again.
  std::string manifest;
  for (const std::string& name : ListTree(run.TempFolder())) {
    if (name.size() > 11 && name.compare(name.size() - 11, 11, "\\UPDATE.INI") == 0) {
      manifest = JoinPath(run.TempFolder(), name);
    }
  }
  ASSERT_TRUE(IsFile(manifest)) << Describe(ListTree(run.TempFolder()));
  ASSERT_TRUE(WritePrivateProfileStringA("UPDATE", "RequiredDiskSpace",
                                         std::to_string(free.QuadPart).c_str(), manifest.c_str()));
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, manifest.c_str());  // flush
  process.Click(IDC_NEXT);
  const RunResult result = run.Finish();
  ExpectCompleted(result);
  EXPECT_TRUE(result.boxes.empty()) << result.describe;
  EXPECT_EQ("a", ReadText(game.Install("A.TXT")));
}

// A drive whose free space cannot be queried does not stop the update. Here the install folder
// is relative (its first two characters name no drive) and the updater runs on the small drive
// S:, so a query that reached S: after all would show the shortfall.
TEST_F(UpdateE2E, UnqueryableInstallDriveLetsTheUpdateGoOn) {
  ULARGE_INTEGER total{};
  if (!GetDiskFreeSpaceExA("S:\\", nullptr, &total, nullptr) || total.QuadPart > (64u << 20)) {
    GTEST_SKIP() << "no small drive S: (scripts/test-drives mounts a tmpfs there as root)";
  }
  const std::string runFolder = "S:\\QWU-Relative";
  RemoveTree(runFolder);
  ASSERT_TRUE(MakeFolder(runFolder));
  {
    InstalledGame game("QWU-Relative", JoinPath(runFolder, "inst"), Folder("Save"));
    UpdateRun run(MakePackage(game,
                              {{"RequiredDiskSpace", "2147483647"}, {"UpdateFile00", "A.TXT"}},
                              {{"A.TXT", "a"}}),
                  runFolder);
    // The updater's current folder is its own: the registry names the install folder from there.
    const std::string relative = "inst";
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QWU-Relative\\SOHYOU", 0,
                                           KEY_WRITE, key.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "InstPath", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(relative.c_str()),
                                            static_cast<DWORD>(relative.size() + 1)));
    const RunResult result = run.Through();
    ExpectCompleted(result);
    EXPECT_TRUE(result.boxes.empty()) << result.describe;
    EXPECT_EQ("a", ReadText(game.Install("A.TXT")));
  }
  RemoveTree(runFolder);
}

// ---- The CD-ROM copy list

// Folder and file copies from the CD-ROM drives: disk 1 is in both P: and Q: (P: wins), disk 2
// only in Q:; an entry without a disk number takes the drive of the latest entry with one.
TEST_F(UpdateE2E, CopiesFoldersAndFilesFromTheDisksDrives) {
  InstalledGame game("QWU-Copy", Folder("Game"), Folder("Save"));
  DriveContents disks;
  for (const char* drive : {"P:", "Q:"}) {
    const std::string root = std::string(drive) + "\\";
    disks.File(root + "DISK1.CHK", "");
    disks.Folder(root + "MOVIE");
    disks.Folder(root + "MOVIE\\EVENT");
    disks.File(root + "MOVIE\\OP.MPG", std::string("opening from ") + drive);
    disks.File(root + "MOVIE\\EVENT\\ED.MPG", std::string("ending from ") + drive);
    disks.Folder(root + "MANUAL");
    disks.File(root + "MANUAL\\GUIDE.TXT", std::string("guide from ") + drive);
    SetFileAttributesA((root + "MANUAL\\GUIDE.TXT").c_str(), FILE_ATTRIBUTE_READONLY);
  }
  disks.File("Q:\\DISK2.CHK", "");
  disks.File("Q:\\BONUS.TXT", "bonus from Q:");
  // The whole update list comes first: the copied folder then replaces the extracted OP.MPG.
  ASSERT_TRUE(MakeFolder(game.Install("MOVIE")));
  UpdateRun run(MakePackage(game,
                            {{"UpdateFile00", "MOVIE\\OP.MPG"},
                             {"CopyFile00", "1:MOVIE"},
                             {"CopyFile01", "MANUAL\\GUIDE.TXT"},
                             {"CopyFile02", "2:BONUS.TXT"},
                             {"CopyFile03", "MANUAL\\GUIDE.TXT"}},
                            {{"OP.MPG", "extracted"}}));
  const RunResult result = run.Through();
  ExpectCompleted(result);
  EXPECT_TRUE(result.boxes.empty()) << result.describe;
  EXPECT_EQ("opening from P:", ReadText(game.Install("MOVIE\\OP.MPG")));
  EXPECT_EQ("ending from P:", ReadText(game.Install("MOVIE\\EVENT\\ED.MPG")));
  // The last copy of the guide came from Q:, where disk 2 was found; read-only is cleared.
  EXPECT_EQ("guide from Q:", ReadText(game.Install("MANUAL\\GUIDE.TXT")));
  EXPECT_EQ(0u, Attributes(game.Install("MANUAL\\GUIDE.TXT")) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ("bonus from Q:", ReadText(game.Install("BONUS.TXT")));
}

struct PromptCase {
  const char* label;
  std::vector<int> answers;   // to the disk prompts, in order
  bool insertOnFirstPrompt;   // the player puts the disk into Q: before answering the first
  bool completed;
};

// The disk prompt: OK searches again (and finds the disk once it is in), Cancel ends the run
// without a further message.
TEST_F(UpdateE2E, DiskPromptSearchesAgainOnOkAndRefusesOnCancel) {
  const PromptCase cases[] = {
      {"OK, then Cancel", {IDOK, IDCANCEL}, false, false},
      {"disk inserted, then OK", {IDOK}, true, true},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SCOPED_TRACE(std::string("case ") + std::to_string(i) + ": " + cases[i].label);
    InstalledGame game("QWU-Prompt" + std::to_string(i), Folder("Game"), Folder("Save"));
    DriveContents disks;
    UpdateRun run(MakePackage(game, {{"CopyFile00", "1:OP.MPG"}}, {}));
    size_t prompts = 0;
    run.process().SetAnswerer([&](const CapturedBox& box, UpdaterProcess&) {
      if (box.text != kDiskPrompt) return IDOK;
      if (prompts == 0 && cases[i].insertOnFirstPrompt) {
        disks.File("Q:\\DISK1.CHK", "");
        disks.File("Q:\\OP.MPG", "opening");
      }
      const int answer = prompts < cases[i].answers.size() ? cases[i].answers[prompts] : IDCANCEL;
      ++prompts;
      return answer;
    });
    const RunResult result = run.Through();
    std::vector<std::string> prompted(cases[i].answers.size(), kDiskPrompt);
    if (cases[i].completed) {
      ExpectCompleted(result);
      EXPECT_EQ(prompted, BoxTexts(result)) << result.describe;
      EXPECT_EQ("opening", ReadText(game.Install("OP.MPG")));
    } else {
      ExpectInterrupted(result, prompted);
    }
    for (size_t k = 0; k < prompted.size() && k < result.boxes.size(); ++k) {
      EXPECT_TRUE(result.boxes[k].hasCancel) << "prompt " << k;
      EXPECT_FALSE(result.boxes[k].hasIcon) << "prompt " << k;
      EXPECT_EQ("ソ表クエスト アップデータ 1.01", result.boxes[k].caption) << "prompt " << k;
      EXPECT_EQ(result.wizard, result.boxes[k].owner) << "prompt " << k;
    }
  }
}

struct CopyFailureCase {
  const char* label;
  const char* value;  // CopyFile00
  const char* source;  // as the message quotes it
};

// A copy that cannot be made shows the copy failure message (error icon) and ends the run.
TEST_F(UpdateE2E, CopyFailuresShowTheCopyFailureMessage) {
  const std::string longName = "LONG\\" + std::string(150, 'F') + ".TXT";
  const CopyFailureCase cases[] = {
      {"source does not exist", "1:NOSUCH", "NOSUCH"},
      {"no disk number before any drive was found", "MOVIE", "MOVIE"},
      {"destination does not fit its buffer", nullptr, nullptr},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SCOPED_TRACE(std::string("case ") + std::to_string(i) + ": " + cases[i].label);
    const std::string source = cases[i].source ? cases[i].source : longName;
    const std::string value = cases[i].value ? cases[i].value : "1:" + longName;
    // A deep install folder: with the long source name, the destination passes 264 bytes.
    const std::string install = Folder("Game\\" + std::string(100, 'I'));
    ASSERT_TRUE(MakeFolder(Folder("Game")));
    InstalledGame game("QWU-CopyFailure" + std::to_string(i), install, Folder("Save"));
    DriveContents disks;
    disks.File("Q:\\DISK1.CHK", "");
    disks.Folder("Q:\\MOVIE");
    disks.Folder("Q:\\LONG");
    disks.File("Q:\\" + longName, "long");
    UpdateRun run(MakePackage(game, {{"CopyFile00", value}}, {}));
    const RunResult result = run.Through();
    ExpectInterrupted(result, {"SETUP.INI : \"" + source + "\" のコピーに失敗しました"});
    EXPECT_TRUE(!result.boxes.empty() && result.boxes[0].hasIcon) << result.describe;
    EXPECT_TRUE(!result.boxes.empty() && result.boxes[0].owner == result.wizard);
    EXPECT_EQ(std::vector<std::string>{"SETUP.INI"}, ListTree(game.Install("")));
    RemoveTree(Folder("Game"));
  }
}

}  // namespace
