// The real UPDATE.exe against what can go wrong around it: a game file held open by another
// program, an update killed half-way, DLLs planted beside the updater, and broken inputs. Each
// case installs a game in the test prefix (registry values under HKCU\Software\<company>\SOHYOU,
// an install folder with its SETUP.INI), builds a package around its own manifest, and runs a
// copy of the built updater through its wizard like a player.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
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
    setup.Set("CompanyName", company_).Set("DiskCheckFile1", "DISK1.CHK");
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
// member and the further keys of section UPDATE, then the members, all stamped with kMemberTime.
Bytes UpdatePackage(const Installation& game, const std::vector<PackageMemberInput>& members,
                    const std::vector<ProfileSection::Key>& moreUpdateKeys = {}) {
  ManifestFile manifest;
  manifest.setup.Set("CompanyName", game.company());
  for (const auto& key : moreUpdateKeys) manifest.update.Set(key.first, key.second);
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

// Runs a program with arguments and waits for it: its exit code, or -1.
int RunProgram(const std::string& exe, const std::string& arguments) {
  const bool quote = exe.find(' ') != std::string::npos;  // Wine runs a Unix program only unquoted
  std::string commandLine = (quote ? "\"" + exe + "\"" : exe) + " " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return -1;
  }
  CloseHandle(info.hThread);
  UniqueKernelHandle process(info.hProcess);
  if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) return -1;
  DWORD exitCode = 0;
  GetExitCodeProcess(process.get(), &exitCode);
  return static_cast<int>(exitCode);
}

// ---- A game file held open by another program

TEST(LockedTarget, ReportsTheFailedWriteAndKeepsTheOldFile) {
  Installation game("QWH-Locked");
  const Bytes old = PseudoRandomBytes(40000, 1);
  ASSERT_TRUE(WriteStamped(game.File("DATA.XP3"), old, kOldTime));
  TestUpdater updater(UpdatePackage(game, {{"DATA.XP3", PseudoRandomBytes(90000, 2), 0, false}}));
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
  const Bytes old = PseudoRandomBytes(1 << 20, 3);
  ASSERT_TRUE(WriteStamped(game.File("DATA.XP3"), old, kOldTime));
  Bytes large = PseudoRandomBytes(kLargeSize, 4);
  const Bytes small = PseudoRandomBytes(5000, 5);
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

// ---- DLLs planted beside the updater

// Names of system DLLs that the updater, the shell's copy or COM may load, or that a program
// may ask for by name; planted_dll.dll under each of them beside the updater leaves a trace
// "<name>.loaded" once any process loads it.
const char* const kPlantedNames[] = {
    "version.dll",  "dwmapi.dll",   "uxtheme.dll",   "comctl32.dll",  "shlwapi.dll",
    "propsys.dll",  "userenv.dll",  "profapi.dll",   "cryptbase.dll", "msctf.dll",
    "apphelp.dll",  "ntmarta.dll",  "oleaut32.dll",  "imm32.dll",     "winmm.dll",
    "secur32.dll",  "sspicli.dll",  "rpcrt4.dll",    "combase.dll",   "setupapi.dll",
    "cfgmgr32.dll", "shcore.dll",   "comdlg32.dll",  "msimg32.dll",   "dbghelp.dll",
    "urlmon.dll",   "wintrust.dll", "crypt32.dll",   "bcrypt.dll",    "mpr.dll",
    "netapi32.dll", "oleacc.dll",   "uiautomationcore.dll", "textinputframework.dll",
    "kernel32.dll", "kernelbase.dll", "windows.storage.dll", "clbcatq.dll", "wtsapi32.dll",
    "iertutil.dll", "linkinfo.dll", "ntshrui.dll",   "explorerframe.dll", "riched20.dll",
};

// The traces in folder: the planted names that some process has loaded.
std::vector<std::string> LoadedTraces(const std::string& folder) {
  std::vector<std::string> loaded;
  for (const char* name : kPlantedNames) {
    if (IsFile(JoinPath(folder, std::string(name) + ".loaded"))) loaded.push_back(name);
  }
  return loaded;
}

// A full update (a packed and a stored member, a folder and a file copied from the disk in P:
// through the shell) with every planted DLL beside the updater: none is loaded. The probe,
// beside the same DLLs, shows which of these names Wine takes from a program's own folder
// when nothing restricts the search, so the run could leave traces.
TEST(PlantedDlls, NoneIsLoadedDuringAFullUpdate) {
  Installation game("QWH-Planted");
  ASSERT_TRUE(WriteStamped(game.File("DATA.XP3"), PseudoRandomBytes(3000, 6), kOldTime));
  const Bytes data = PseudoRandomBytes(200000, 7), patch = PseudoRandomBytes(3000, 8);
  TestUpdater updater(UpdatePackage(
      game, {{"DATA.XP3", data, 0, false}, {"PATCH.DAT", patch, 0, true}},
      {{"CopyFile00", "1:QWMOVIE"}, {"CopyFile01", "QWGUIDE.TXT"}}));
  ASSERT_FALSE(updater.exe().empty());
  struct DiskFiles {
    ~DiskFiles() {
      RemoveTree("P:\\QWMOVIE");
      RemoveTree("P:\\QWGUIDE.TXT");
      RemoveTree("P:\\DISK1.CHK");
    }
  } disk;
  ASSERT_TRUE(WriteText("P:\\DISK1.CHK", ""));
  ASSERT_TRUE(MakeFolder("P:\\QWMOVIE"));
  ASSERT_TRUE(WriteText("P:\\QWMOVIE\\OP.MPG", "opening"));
  ASSERT_TRUE(WriteText("P:\\QWGUIDE.TXT", "guide"));

  const std::string planted = ToWindowsPath(QW_PLANTED_DLL);
  std::string names;
  for (const char* name : kPlantedNames) {
    ASSERT_TRUE(CopyFileA(planted.c_str(), updater.Join(name).c_str(), FALSE)) << name;
    names += std::string(" ") + name;
  }
  const std::string probe = updater.Join("dll_probe.exe");
  ASSERT_TRUE(CopyFileA(ToWindowsPath(QW_DLL_PROBE_EXE).c_str(), probe.c_str(), FALSE));
  ASSERT_EQ(0, RunProgram(probe, names));
  const std::vector<std::string> probed = LoadedTraces(updater.Join(""));
  EXPECT_FALSE(probed.empty()) << "Wine loaded none of the planted DLLs for the probe";
  std::cout << "[ INFO     ] Wine loads these planted names from a program's folder:"
            << Describe(probed) << "\n";
  for (const std::string& name : probed) DeleteFileA(updater.Join(name + ".loaded").c_str());

  UpdaterProcess run;
  ASSERT_TRUE(updater.Start(&run));
  ASSERT_TRUE(ToUpdatePage(run)) << run.Describe();
  EXPECT_EQ(1, FinishRun(run)) << run.Describe();
  EXPECT_TRUE(run.boxes().empty()) << run.Describe();
  EXPECT_TRUE(SameBytes(game.File("DATA.XP3"), data));
  EXPECT_TRUE(SameBytes(game.File("PATCH.DAT"), patch));
  EXPECT_TRUE(IsFile(game.File("QWMOVIE\\OP.MPG")));
  EXPECT_TRUE(IsFile(game.File("QWGUIDE.TXT")));
  EXPECT_EQ(std::vector<std::string>{}, LoadedTraces(updater.Join("")));
}

// ---- Files and links planted where the updater writes

// The Unix path of a Windows path (Wine's wine_get_unix_file_name), or empty.
std::string UnixPath(const std::string& windowsPath) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  wchar_t wide[MAX_PATH];
  if (!toUnix || !MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH)) return {};
  char* unixPath = toUnix(wide);
  if (!unixPath) return {};
  std::string result = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

// A symbolic link at linkPath naming target (Windows paths): Wine's CreateSymbolicLinkA makes
// none, but Wine runs Unix programs, so /bin/ln makes it. False when it could not be made.
bool PlantLink(const std::string& target, const std::string& linkPath) {
  const std::string unixTarget = UnixPath(target), unixLink = UnixPath(linkPath);
  if (unixTarget.empty() || unixLink.empty()) return false;
  // Wine passes on no Unix exit status, and may report the end before the program has ended:
  // the link is looked for, for up to 10 s. Wine lists no dangling link, so one is made to a
  // file of its own that is then removed.
  const bool dangling = !IsFile(target) && !IsFolder(target);
  const std::string linkTarget = dangling ? linkPath + ".target" : target;
  if (dangling && !WriteText(linkTarget, "")) return false;
  RunProgram("/bin/ln", "-s \"" + UnixPath(linkTarget) + "\" \"" + unixLink + "\"");
  bool made = false;
  for (int wait = 0; wait < 200 && !made; ++wait) {
    WIN32_FIND_DATAA found;
    UniqueFindHandle find(FindFirstFileA(linkPath.c_str(), &found));
    made = find.valid();
    if (!made) Sleep(50);
  }
  if (!made) ADD_FAILURE() << "no link made: ln -s " << unixTarget << " " << unixLink;
  if (dangling) {
    DeleteFileA(linkTarget.c_str());
    RunProgram("/bin/ln", "-sfn \"" + unixTarget + "\" \"" + unixLink + "\"");
    for (int wait = 0; wait < 200 && IsFile(linkPath); ++wait) Sleep(50);
  }
  return made;
}

struct Victim {
  std::string path;
  Bytes bytes;
  std::uint64_t time;
};

// A file outside everything the updater may write, with known contents and time.
Victim MakeVictim(const std::string& path, unsigned seed) {
  Victim victim{path, PseudoRandomBytes(3000, seed), kOldTime};
  EXPECT_TRUE(WriteStamped(path, victim.bytes, victim.time)) << path;
  return victim;
}

void ExpectUntouched(const Victim& victim) {
  EXPECT_TRUE(SameBytes(victim.path, victim.bytes)) << victim.path;
  EXPECT_EQ(victim.time, LastWriteTime(victim.path)) << victim.path;
}

// Links planted beside a game file under its staged name, to a file elsewhere and dangling:
// the update removes the link, never writes through it, and replaces the game file.
TEST(PlantedLinks, AStagedNameThatIsALinkIsNotFollowed) {
  Installation game("QWH-StagedLink");
  ScratchFolder elsewhere{"qwvictim"};
  const Victim victim = MakeVictim(elsewhere.Join("victim.dat"), 20);
  const Bytes data = PseudoRandomBytes(70000, 21), voice = PseudoRandomBytes(9000, 22);
  ASSERT_TRUE(WriteStamped(game.File("DATA.XP3"), PseudoRandomBytes(100, 23), kOldTime));
  ASSERT_TRUE(PlantLink(victim.path, game.File(std::string("DATA.XP3") + kStagedSuffix)));
  ASSERT_TRUE(PlantLink(elsewhere.Join("missing.dat"),
                        game.File(std::string("VOICE.XP3") + kStagedSuffix)));
  TestUpdater updater(
      UpdatePackage(game, {{"DATA.XP3", data, 0, false}, {"VOICE.XP3", voice, 0, true}}));
  UpdaterProcess run;
  ASSERT_TRUE(updater.Start(&run));
  ASSERT_TRUE(ToUpdatePage(run)) << run.Describe();
  EXPECT_EQ(1, FinishRun(run)) << run.Describe();
  EXPECT_TRUE(SameBytes(game.File("DATA.XP3"), data));
  EXPECT_TRUE(SameBytes(game.File("VOICE.XP3"), voice));
  EXPECT_EQ((std::vector<std::string>{"DATA.XP3", "SETUP.INI", "VOICE.XP3"}),
            ListTree(game.folder()));
  ExpectUntouched(victim);
  EXPECT_EQ(std::vector<std::string>{"victim.dat"}, ListTree(elsewhere.path()));
}

// Links planted where the temporary manifest goes: at the fixed name UPDATE.INI in the temp
// folder, and, found while the updater stands at its CreateDirectoryA, at the very name of the
// folder it is about to make (to a folder holding UPDATE.INI elsewhere). The updater takes a
// folder of its own, completes, and neither the links nor what they name are touched.
TEST(PlantedLinks, NoLinkRedirectsTheTemporaryManifest) {
  Installation game("QWH-TempLink");
  ScratchFolder elsewhere{"qwvictim"};
  const Victim victim = MakeVictim(elsewhere.Join("victim.ini"), 24);
  ASSERT_TRUE(MakeFolder(elsewhere.Join("folder")));
  const Victim inFolder = MakeVictim(elsewhere.Join("folder\\UPDATE.INI"), 25);
  TestUpdater updater(UpdatePackage(game, {{"DATA.XP3", PseudoRandomBytes(5000, 26), 0, false}}));
  ASSERT_TRUE(PlantLink(victim.path, JoinPath(updater.temp(), "UPDATE.INI")));

  RunOptions options;
  options.tempFolder = updater.temp();
  options.timeoutMs = 60000;
  options.pauseAt = {"CreateDirectoryA"};
  UpdaterProcess run;
  ASSERT_TRUE(run.Start(updater.exe(), options));
  ASSERT_EQ("CreateDirectoryA", run.WaitForPause()) << run.Describe();
  const std::string folder = run.PausedStringArgument(0);
  ASSERT_EQ(JoinPath(updater.temp(), ""), folder.substr(0, updater.temp().size() + 1)) << folder;
  const std::string folderName = folder.substr(updater.temp().size() + 1);
  ASSERT_TRUE(PlantLink(elsewhere.Join("folder"), folder));
  run.Resume();
  ASSERT_TRUE(ToUpdatePage(run)) << run.Describe();
  EXPECT_EQ(1, FinishRun(run)) << run.Describe();

  std::vector<std::string> links = {"UPDATE.INI", folderName + "\\", folderName + "\\UPDATE.INI"};
  std::sort(links.begin(), links.end());
  EXPECT_EQ(links, ListTree(updater.temp())) << "only the two links remain";
  ExpectUntouched(victim);
  ExpectUntouched(inFolder);
  EXPECT_EQ((std::vector<std::string>{"folder\\", "folder\\UPDATE.INI", "victim.ini"}),
            ListTree(elsewhere.path()));
  DeleteFileA(JoinPath(updater.temp(), "UPDATE.INI").c_str());
  RunProgram("/bin/rm", "\"" + UnixPath(folder) + "\"");
}

// ---- Broken inputs

// What one case feeds the updater: the manifest's bytes, the installed SETUP.INI's bytes, the
// registry values, and a change to the finished package.
struct BrokenInputs {
  std::string manifest;
  std::string setupIni;
  void (*registry)(HKEY key) = nullptr;  // rewrites values of the game's key
  void (*package)(Bytes* package) = nullptr;
};

struct BrokenCase {
  const char* label;
  void (*edit)(BrokenInputs* inputs);
  // 1 where the value is cut or read as the code defines and the update goes through.
  int exitCode = 0;
};

std::uint32_t Get32(const Bytes& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | bytes[at + i];
  return value;
}

void Put32(Bytes* bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Offsets in the package that BrokenPackage builds: UPDATE.INI is entry 0, DATA.BIN entry 1.
std::size_t IndexOffset(const Bytes& package) { return Get32(package, 8); }
std::size_t EntryField(const Bytes& package, std::size_t entry, std::size_t offset) {
  return IndexOffset(package) + entry * 280 + offset;
}

void SetString(HKEY key, const char* name, const std::string& value) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                 static_cast<DWORD>(value.size() + 1));
}

std::string Garbage(std::size_t size, unsigned seed) {
  const Bytes bytes = PseudoRandomBytes(size, seed);
  return std::string(bytes.begin(), bytes.end());
}

const BrokenCase kBrokenCases[] = {
    {"manifest of binary garbage", [](BrokenInputs* in) { in->manifest = Garbage(6000, 11); }},
    {"manifest: garbage after the section names",
     [](BrokenInputs* in) {
       in->manifest = "[SETUP]\r\n" + Garbage(3000, 12) + "\r\n[UPDATE]\r\n" + Garbage(3000, 13);
     }},
    {"manifest: lines far longer than every buffer",
     [](BrokenInputs* in) {
       in->manifest += "[SETUP]\r\nGameTitle=" + std::string(70000, 'T') + "\r\n" +
                       "[UPDATE]\r\nUpdateFile00=" + std::string(5000, 'U') + "\r\n" +
                       "CopyFile00=1:" + std::string(5000, 'C') + "\r\nRequiredDiskSpace=" +
                       std::string(3000, '9') + "\r\n";
     }},
    {"manifest: a lead byte at the very end of values",
     [](BrokenInputs* in) {
       in->manifest += "[UPDATE]\r\nUpdateFile00=DATA.BIN\x81\r\nUpdateFile01=u,\x83\r\n"
                       "CopyFile00=1:\x9F\r\n";
     }},
    {"manifest: values made only of separators",
     [](BrokenInputs* in) {
       in->manifest += "[UPDATE]\r\nUpdateFile00=,,,,\r\nUpdateFile01=\\\\\\\r\n"
                       "UpdateFile02=1,u,\r\nCopyFile00=::::\r\nCopyFile01=1,\r\n";
     }},
    {"SETUP.INI of binary garbage", [](BrokenInputs* in) { in->setupIni = Garbage(5000, 14); }},
    {"SETUP.INI: lines far longer than every buffer",
     [](BrokenInputs* in) {
       in->setupIni += "InstallFiles0=" + std::string(60000, 'F') + "\r\nGameExe=" +
                       std::string(3000, 'E') + "\r\nDiskCheckFile1=" + std::string(3000, 'D') +
                       "\x81\r\nInstallSelects=" + std::string(500, '7') + "\r\n";
     }, 1},
    {"SETUP.INI: values made only of separators and lead bytes",
     [](BrokenInputs* in) {
       in->setupIni += "InstallFiles0=,,,\r\nShortcut0=,\r\nSetupBmp=\x81\r\nGameClass=\x83\r\n";
     }, 1},
    {"InstPath of type REG_DWORD",
     [](BrokenInputs* in) {
       in->registry = [](HKEY key) {
         const DWORD value = 0x41414141;
         RegSetValueExA(key, "InstPath", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
       };
     }},
    {"InstPath of 2000 binary bytes without a NUL",
     [](BrokenInputs* in) {
       in->registry = [](HKEY key) {
         const std::string value(2000, 'P');
         RegSetValueExA(key, "InstPath", 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(value.data()),
                        static_cast<DWORD>(value.size()));
       };
     }},
    {"InstPath of 600 characters, ending with a lead byte",
     [](BrokenInputs* in) {
       in->registry = [](HKEY key) { SetString(key, "InstPath", std::string(599, 'p') + "\x81"); };
     }},
    {"InstMode as a string, DataPath as a DWORD",
     [](BrokenInputs* in) {
       in->registry = [](HKEY key) {
         SetString(key, "InstMode", "one");
         const DWORD value = 7;
         RegSetValueExA(key, "DataPath", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
       };
     }, 1},
    {"InstMode of one byte", [](BrokenInputs* in) {
       in->registry = [](HKEY key) {
         const BYTE value = 1;
         RegSetValueExA(key, "InstMode", 0, REG_BINARY, &value, 1);
       };
     }, 1},
    {"package of one byte", [](BrokenInputs* in) { in->package = [](Bytes* p) { p->resize(1); }; }},
    {"package cut inside the header",
     [](BrokenInputs* in) { in->package = [](Bytes* p) { p->resize(15); }; }},
    {"package of the header alone",
     [](BrokenInputs* in) { in->package = [](Bytes* p) { p->resize(16); }; }},
    {"package cut inside the first member",
     [](BrokenInputs* in) { in->package = [](Bytes* p) { p->resize(40); }; }},
    {"package cut where the index starts",
     [](BrokenInputs* in) { in->package = [](Bytes* p) { p->resize(IndexOffset(*p)); }; }},
    {"package cut inside the first entry",
     [](BrokenInputs* in) { in->package = [](Bytes* p) { p->resize(IndexOffset(*p) + 100); }; }},
    {"package cut after the first entry",
     [](BrokenInputs* in) { in->package = [](Bytes* p) { p->resize(IndexOffset(*p) + 280); }; }},
    {"package cut by its last byte", [](BrokenInputs* in) { in->package = [](Bytes* p) { p->pop_back(); }; }},
    {"index claiming one entry more",
     [](BrokenInputs* in) { in->package = [](Bytes* p) { Put32(p, 12, Get32(*p, 12) + 1); }; }},
    {"index claiming 0xFFFFFFFF entries",
     [](BrokenInputs* in) { in->package = [](Bytes* p) { Put32(p, 12, 0xFFFFFFFFu); }; }},
    {"index offset past the package",
     [](BrokenInputs* in) { in->package = [](Bytes* p) { Put32(p, 8, 0xFFFFFF00u); }; }},
    {"manifest member whose size points past the package",
     [](BrokenInputs* in) {
       in->package = [](Bytes* p) {
         Put32(p, EntryField(*p, 0, 272), 0x7FFFFFF0u);
         Put32(p, EntryField(*p, 0, 276), 0x7FFFFFF0u);
       };
     }},
    {"data member whose size points past the package",
     [](BrokenInputs* in) {
       in->package = [](Bytes* p) {
         Put32(p, EntryField(*p, 1, 272), 0xFFFFFFF0u);
         Put32(p, EntryField(*p, 1, 276), 0xFFFFFFF0u);
       };
     }},
    {"manifest member's stored size past the package, its own size small",
     [](BrokenInputs* in) { in->package = [](Bytes* p) { Put32(p, EntryField(*p, 0, 276), 0x80000000u); }; }},
    {"data member packed, claiming 4 GiB",
     [](BrokenInputs* in) {
       in->package = [](Bytes* p) {
         Put32(p, EntryField(*p, 1, 260), 2);
         Put32(p, EntryField(*p, 1, 272), 0xFFFFFFF0u);
       };
     }},
};

// Drives a run whatever it shows: message boxes get OK; on the wizard, every half second, the
// completion page's button is pressed, else Next twice (welcome and ready page), else Cancel.
// The exit code, or -1 after a timeout.
int DriveToTheEnd(UpdaterProcess& run) {
  int nextClicks = 0;
  DWORD lastAction = GetTickCount();
  run.WaitUntil(
      [&] {
        if (!run.wizard() || GetTickCount() - lastAction < 500) return false;
        lastAction = GetTickCount();
        if (run.ControlText(IDC_NEXT) == "完了") {
          run.Click(IDC_NEXT);
        } else if (nextClicks < 2 && run.IsEnabled(IDC_NEXT)) {
          run.Click(IDC_NEXT);
          ++nextClicks;
        } else if (run.IsEnabled(IDC_CANCEL)) {
          run.Click(IDC_CANCEL);
        }
        return false;
      },
      "the end of the run", 60000);
  return run.WaitForExit(60000);
}

// Each broken input, run through the real updater: it ends (no crash, no hang) with the case's
// exit code, each box it shows carries a text, and it leaves nothing behind: the temp folder is empty,
// the updater's folder holds only the updater and that temp folder, and the install folder
// holds nothing but the game's files and the package's data member.
TEST(BrokenInput, EveryCaseEndsCleanly) {
  for (std::size_t i = 0; i < sizeof kBrokenCases / sizeof kBrokenCases[0]; ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << kBrokenCases[i].label);
    const std::string company = "QWH-Broken" + std::to_string(i);
    Installation game(company);
    BrokenInputs inputs;
    {
      ManifestFile manifest;
      manifest.setup.Set("CompanyName", company);
      manifest.update.Set("UpdateFile00", "DATA.BIN");
      for (const ProfileSection& section : {manifest.setup}) {
        for (const std::string& line : section.Lines()) inputs.manifest += line + "\r\n";
      }
      ProfileSection setup = InstalledSetupSection();
      setup.Set("CompanyName", company).Set("DiskCheckFile1", "DISK1.CHK");
      for (const std::string& line : setup.Lines()) inputs.setupIni += line + "\r\n";
    }
    const std::string defaultManifest = inputs.manifest;
    kBrokenCases[i].edit(&inputs);
    if (inputs.manifest == defaultManifest) inputs.manifest += "[UPDATE]\r\nUpdateFile00=DATA.BIN\r\n";
    ASSERT_TRUE(WriteBytes(game.File("SETUP.INI"), ToBytes(inputs.setupIni)));
    if (inputs.registry) {
      UniqueRegKey key;
      ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, game.KeyPath().c_str(), 0,
                                             KEY_SET_VALUE, key.put()));
      inputs.registry(key.get());
    }
    Bytes package;
    std::string error;
    ASSERT_TRUE(BuildPackage({{"UPDATE.INI", ToBytes(inputs.manifest), kMemberTime, false},
                              {"DATA.BIN", PseudoRandomBytes(5000, 15), kMemberTime, false}},
                             false, &package, &error))
        << error;
    if (inputs.package) inputs.package(&package);
    TestUpdater updater(package);
    ASSERT_FALSE(updater.exe().empty());

    UpdaterProcess run;
    ASSERT_TRUE(updater.Start(&run));
    EXPECT_EQ(kBrokenCases[i].exitCode, DriveToTheEnd(run)) << run.Describe();
    for (const CapturedBox& box : run.boxes()) EXPECT_FALSE(box.text.empty()) << run.Describe();
    EXPECT_EQ(std::vector<std::string>{}, ListTree(updater.temp()));
    EXPECT_EQ((std::vector<std::string>{"UPDATE.exe", "temp\\"}), ListTree(updater.Join("")));
    for (const std::string& name : ListTree(game.folder())) {
      EXPECT_TRUE(name == "SETUP.INI" || name == "DATA.BIN") << name;
    }
  }
}

}  // namespace
