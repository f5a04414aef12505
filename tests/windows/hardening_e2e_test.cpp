// The real UPDATE.exe against what can go wrong around it: a game file held open by another
// program, an update killed half-way, DLLs planted beside the updater, and broken inputs. Each
// case installs a game in the test prefix (registry values under HKCU\Software\<company>\SOHYOU,
// an install folder with its SETUP.INI), builds a package around its own manifest, and runs a
// copy of the built updater through its wizard like a player.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/win32_handles.h"
#include "res/resource.h"
#include "tests/support/file_holder.h"
#include "tests/support/profile_files.h"
#include "tests/support/test_files.h"
#include "tests/support/test_updater.h"
#include "tests/support/updater_process.h"
#include "tools/packer/package_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kGameDir[] = "SOHYOU";
constexpr std::uint64_t kMemberTime = 134405892000000000;  // 2026-12-01 09:00 UTC
constexpr std::uint64_t kOldTime = kMemberTime - 864000000000;  // one day earlier
constexpr char kStagedSuffix[] = ".~qwnew";

constexpr char kReadyText[] = "アップデートを実行します";
constexpr char kWriteFailed[] = "ファイルの書き込みに失敗しました";
constexpr char kInterrupted[] = "アップデートが中断されました";

Bytes Sample(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

std::uint64_t LastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
         data.ftLastWriteTime.dwLowDateTime;
}

// The size of a file, or -1 when there is none.
std::int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return std::int64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
}

bool WriteStamped(const std::string& path, const Bytes& bytes, std::uint64_t time) {
  if (!WriteBytes(path, bytes)) return false;
  UniqueFile file(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  const FILETIME stamp{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  return file && SetFileTime(file.get(), nullptr, nullptr, &stamp);
}

bool SameBytes(const std::string& path, const Bytes& expected) {
  Bytes bytes;
  return ReadBytes(path, &bytes) && bytes == expected;
}

// An installed game: registry values and an install folder holding SETUP.INI; removed when it
// goes. company names the case's own maker key in the registry.
class Installation {
 public:
  explicit Installation(const std::string& company) : company_(company) {
    EXPECT_TRUE(MakeFolder(folder_)) << folder_;
    ProfileSection setup = InstalledSetupSection();
    setup.Set("CompanyName", company_);
    EXPECT_TRUE(WriteInstalledSetupIni(File("SETUP.INI"), setup));
    UniqueRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath().c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, key.put(), nullptr));
    RegSetValueExA(key.get(), "InstPath", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(folder_.c_str()),
                   static_cast<DWORD>(folder_.size() + 1));
    const DWORD mode = 1;
    RegSetValueExA(key.get(), "InstMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode),
                   sizeof mode);
  }
  ~Installation() {
    RegDeleteKeyA(HKEY_CURRENT_USER, KeyPath().c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\" + company_).c_str());
  }

  const std::string& company() const { return company_; }
  const std::string& folder() const { return folder_; }
  std::string File(const std::string& name) const { return JoinPath(folder_, name); }
  std::string KeyPath() const { return "Software\\" + company_ + "\\" + kGameDir; }

 private:
  std::string company_;
  ScratchFolder scratch_{"qwharden"};
  std::string folder_ = scratch_.Join("Game");
};

// The package: a manifest naming the installation's game, with one UpdateFileXX entry per
// member, then the members, all stamped with kMemberTime.
Bytes UpdatePackage(const Installation& game, const std::vector<PackageMemberInput>& members) {
  ManifestFile manifest;
  manifest.setup.Set("CompanyName", game.company());
  std::vector<PackageMemberInput> inputs(1);
  for (std::size_t i = 0; i < members.size(); ++i) {
    char key[16];
    wsprintfA(key, "UpdateFile%02u", static_cast<unsigned>(i));
    manifest.update.Set(key, members[i].name);
    inputs.push_back(members[i]);
    inputs.back().lastWriteTime = kMemberTime;
  }
  std::string text;
  for (const ProfileSection& section : {manifest.setup, manifest.update}) {
    for (const std::string& line : section.Lines()) text += line + "\r\n";
  }
  inputs[0] = {"UPDATE.INI", ToBytes(text), kMemberTime, false};
  Bytes package;
  std::string error;
  EXPECT_TRUE(BuildPackage(inputs, false, &package, &error)) << error;
  return package;
}

// A copy of the updater in a folder of its own, with a temp folder of its own.
class TestUpdater {
 public:
  explicit TestUpdater(const Bytes& package) {
    EXPECT_TRUE(MakeFolder(temp_));
    exe_ = MakeTestUpdater(folder_.path(), package);
  }
  const std::string& exe() const { return exe_; }
  std::string Join(const std::string& name) const { return folder_.Join(name); }
  const std::string& temp() const { return temp_; }

  bool Start(UpdaterProcess* run) const {
    if (exe_.empty()) return false;
    RunOptions options;
    options.tempFolder = temp_;
    options.timeoutMs = 60000;
    return run->Start(exe_, options);
  }

 private:
  ScratchFolder folder_{"qwupdater"};
  std::string temp_ = folder_.Join("temp");
  std::string exe_;
};

// Welcome page, Next; ready page, Next: true once the update page runs.
bool ToUpdatePage(UpdaterProcess& run) {
  if (!run.WaitForWizard()) return false;
  run.Click(IDC_NEXT);
  if (!run.WaitUntil([&] { return run.ControlText(IDC_INFO) == kReadyText; }, kReadyText)) {
    return false;
  }
  run.Click(IDC_NEXT);
  return true;
}

// From the update page to the exit, pressing 完了 when the completion page comes: the exit code.
int FinishRun(UpdaterProcess& run) {
  if (run.WaitUntil([&] { return run.ControlText(IDC_NEXT) == "完了"; }, "the completion page")) {
    run.Click(IDC_NEXT);
  }
  return run.WaitForExit();
}

std::vector<std::string> BoxTexts(UpdaterProcess& run) {
  std::vector<std::string> texts;
  for (const CapturedBox& box : run.boxes()) texts.push_back(box.text);
  return texts;
}

// ---- A game file held open by another program

TEST(LockedTarget, ReportsTheFailedWriteAndKeepsTheOldFile) {
  Installation game("QWH-Locked");
  const Bytes old = Sample(40000, 1);
  ASSERT_TRUE(WriteStamped(game.File("DATA.XP3"), old, kOldTime));
  TestUpdater updater(UpdatePackage(game, {{"DATA.XP3", Sample(90000, 2), 0, false}}));
  FileHolder holder;
  ASSERT_TRUE(holder.Hold(game.File("DATA.XP3")));

  UpdaterProcess run;
  ASSERT_TRUE(updater.Start(&run));
  ASSERT_TRUE(ToUpdatePage(run)) << run.Describe();
  EXPECT_EQ(0, run.WaitForExit()) << run.Describe();
  EXPECT_EQ((std::vector<std::string>{kWriteFailed, kInterrupted}), BoxTexts(run))
      << run.Describe();
  holder.Release();
  EXPECT_TRUE(SameBytes(game.File("DATA.XP3"), old));
  EXPECT_EQ(kOldTime, LastWriteTime(game.File("DATA.XP3")));
  EXPECT_EQ((std::vector<std::string>{"DATA.XP3", "SETUP.INI"}), ListTree(game.folder()));
  EXPECT_EQ(std::vector<std::string>{}, ListTree(updater.temp()));
}

// ---- An update killed while it extracts

// The updater is killed while the staged file beside a large game file grows; the game file is
// still the old one, and a second run completes the update and leaves nothing else behind.
TEST(InterruptedUpdate, LeavesTheOldFileWholeAndASecondRunCompletesIt) {
  constexpr std::size_t kLargeSize = 120u << 20;
  Installation game("QWH-Killed");
  const Bytes old = Sample(1 << 20, 3);
  ASSERT_TRUE(WriteStamped(game.File("DATA.XP3"), old, kOldTime));
  Bytes large = Sample(kLargeSize, 4);
  const Bytes small = Sample(5000, 5);
  TestUpdater updater(UpdatePackage(game, {{"DATA.XP3", large, 0, false},
                                           {"SMALL.DAT", small, 0, true}}));
  const std::string staged = game.File(std::string("DATA.XP3") + kStagedSuffix);

  {
    UpdaterProcess run;
    ASSERT_TRUE(updater.Start(&run));
    ASSERT_TRUE(ToUpdatePage(run)) << run.Describe();
    // Polled closely, without the harness's 15 ms steps: the write takes a fraction of a second.
    const DWORD start = GetTickCount();
    std::int64_t seenSize = -1;
    while (seenSize <= 0 && GetTickCount() - start < 60000 && run.running()) {
      seenSize = FileSize(staged);
    }
    ASSERT_GT(seenSize, 0) << "the staged file never grew: " << run.Describe();
    UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, run.processId()));
    ASSERT_TRUE(process && TerminateProcess(process.get(), 9));
    EXPECT_EQ(9, run.WaitForExit());
    const std::int64_t leftSize = FileSize(staged);
    EXPECT_GT(leftSize, 0);
    EXPECT_LT(leftSize, static_cast<std::int64_t>(kLargeSize)) << "killed before the write ended";
  }
  EXPECT_TRUE(SameBytes(game.File("DATA.XP3"), old)) << "the game file is the old one";
  EXPECT_EQ(kOldTime, LastWriteTime(game.File("DATA.XP3")));

  UpdaterProcess rerun;
  ASSERT_TRUE(updater.Start(&rerun));
  ASSERT_TRUE(ToUpdatePage(rerun)) << rerun.Describe();
  EXPECT_EQ(1, FinishRun(rerun)) << rerun.Describe();
  EXPECT_TRUE(rerun.boxes().empty()) << rerun.Describe();
  EXPECT_TRUE(SameBytes(game.File("DATA.XP3"), large));
  EXPECT_EQ(kMemberTime, LastWriteTime(game.File("DATA.XP3")));
  EXPECT_TRUE(SameBytes(game.File("SMALL.DAT"), small));
  EXPECT_EQ((std::vector<std::string>{"DATA.XP3", "SETUP.INI", "SMALL.DAT"}),
            ListTree(game.folder()));
}

}  // namespace
