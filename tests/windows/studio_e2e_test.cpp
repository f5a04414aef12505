// The studio commands of the real qwpack.exe (QW_QWPACK_EXE) against the real built UPDATE.exe:
// an updater made by make-updater loads, keeps every resource but its package, and runs a full
// update under Wine; plan predicts what that updater then does to each file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <sstream>
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

constexpr std::uint64_t kMemberTime = 134405892000000000;         // 2026-12-01 09:00 UTC
constexpr std::uint64_t kOlderTime = kMemberTime - 864000000000;  // one day earlier
constexpr std::uint64_t kNewerTime = kMemberTime + 864000000000;
constexpr char kGameDir[] = "SOHYOU";
constexpr char kReadyText[] = "アップデートを実行します";

std::string QwpackPath() { return ToWindowsPath(QW_QWPACK_EXE); }

// ---- Running qwpack.exe

struct ToolRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;  // stdout and stderr
};

ToolRun RunQwpack(const ScratchFolder& work, const std::string& arguments) {
  ToolRun run;
  const std::string outputPath = work.Join("qwpack-output.txt");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueFile output(CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output) {
    ADD_FAILURE() << "cannot create " << outputPath;
    return run;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  std::string command = "\"" + QwpackPath() + "\" " + arguments;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start " << command << ": error " << GetLastError();
    return run;
  }
  UniqueKernelHandle processHandle(process.hProcess);
  UniqueKernelHandle threadHandle(process.hThread);
  if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    ADD_FAILURE() << "qwpack did not end: " << command;
  }
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  output.reset();
  std::vector<std::uint8_t> bytes;
  ReadBytes(outputPath, &bytes);
  run.output.assign(bytes.begin(), bytes.end());
  return run;
}

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

// ---- Resources of an image

using ResourceMap = std::map<std::string, std::vector<std::uint8_t>>;  // "type/name/language"

std::string KeyPart(LPCSTR key) {
  return IS_INTRESOURCE(key) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(key)) : key;
}

struct ResourceWalk {
  ResourceMap* resources;
  std::string type;
  std::string name;
};

BOOL CALLBACK OnLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language,
                         LONG_PTR context) {
  ResourceWalk* walk = reinterpret_cast<ResourceWalk*>(context);
  HRSRC found = FindResourceExA(module, type, name, language);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const auto* data = loaded ? static_cast<const std::uint8_t*>(LockResource(loaded)) : nullptr;
  std::vector<std::uint8_t>& bytes =
      (*walk->resources)[walk->type + "/" + walk->name + "/" + std::to_string(language)];
  if (data != nullptr) bytes.assign(data, data + SizeofResource(module, found));
  return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR context) {
  reinterpret_cast<ResourceWalk*>(context)->name = KeyPart(name);
  return EnumResourceLanguagesA(module, type, name, &OnLanguage, context) || TRUE;
}

BOOL CALLBACK OnType(HMODULE module, LPSTR type, LONG_PTR context) {
  reinterpret_cast<ResourceWalk*>(context)->type = KeyPart(type);
  return EnumResourceNamesA(module, type, &OnName, context) || TRUE;
}

// Every resource of the image file, loaded as a data file; false when it does not load.
bool ReadResources(const std::string& path, ResourceMap* resources) {
  UniqueLibrary module(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return false;
  ResourceWalk walk{resources, {}, {}};
  EnumResourceTypesA(module.get(), &OnType, reinterpret_cast<LONG_PTR>(&walk));
  return true;
}

bool IsPackageKey(const std::string& key) { return key.compare(0, 11, "UPDATE/#102") == 0; }

// ---- Packages

struct Member {
  std::string name;
  std::string text;
};

std::vector<std::uint8_t> Package(const std::string& manifest, const std::vector<Member>& members) {
  std::vector<PackageMemberInput> inputs = {{"UPDATE.INI", ToBytes(manifest), kMemberTime, true}};
  for (const Member& member : members)
    inputs.push_back({member.name, ToBytes(member.text), kMemberTime});
  std::vector<std::uint8_t> package;
  std::string error;
  EXPECT_TRUE(BuildPackage(inputs, true, &package, &error)) << error;
  return package;
}

std::string ManifestText(const ManifestFile& manifest) {
  std::string text;
  for (const ProfileSection& section : {manifest.setup, manifest.update}) {
    for (const std::string& line : section.Lines()) text += line + "\r\n";
  }
  return text;
}

// ---- make-updater

TEST(StudioMakeUpdater, MadeUpdaterLoadsAndKeepsEveryResourceButThePackage) {
  ScratchFolder work("qwstudio");
  ManifestFile manifest;
  manifest.update.Set("UpdateFile00", "A.DAT");
  const std::vector<std::uint8_t> first = Package(ManifestText(manifest), {{"A.DAT", "first"}});
  const std::vector<std::uint8_t> second =
      Package(ManifestText(manifest), {{"A.DAT", std::string(300000, 's')}});
  ASSERT_TRUE(WriteBytes(work.Join("first.qw"), first));
  ASSERT_TRUE(WriteBytes(work.Join("second.qw"), second));

  ResourceMap stubResources;
  ASSERT_TRUE(ReadResources(BuiltUpdaterPath(), &stubResources));
  // The second run makes an updater from a made one: its resources are the last section then.
  struct Step {
    std::string stub;
    const char* package;
    const std::vector<std::uint8_t>* bytes;
    const char* out;
  };
  const Step steps[] = {{BuiltUpdaterPath(), "first.qw", &first, "FIRST.exe"},
                        {work.Join("FIRST.exe"), "second.qw", &second, "SECOND.exe"},
                        {work.Join("SECOND.exe"), "first.qw", &first, "THIRD.exe"}};
  for (std::size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
    const Step& step = steps[i];
    const std::string out = work.Join(step.out);
    const ToolRun run = RunQwpack(work, "make-updater " + Quote(step.stub) + " " +
                                            Quote(work.Join(step.package)) + " " + Quote(out));
    ASSERT_EQ(0u, run.exitCode) << "step " << i << ": " << run.output;

    ResourceMap made;
    ASSERT_TRUE(ReadResources(out, &made)) << "step " << i;
    ASSERT_EQ(stubResources.size(), made.size()) << "step " << i;
    for (const auto& resource : stubResources) {
      const auto found = made.find(resource.first);
      ASSERT_NE(made.end(), found) << "step " << i << ": " << resource.first;
      if (IsPackageKey(resource.first)) {
        EXPECT_TRUE(found->second == *step.bytes) << "step " << i << ": the new package";
      } else {
        EXPECT_TRUE(found->second == resource.second) << "step " << i << ": " << resource.first;
      }
    }
    // The loader maps it as an image, and a process starts from it.
    UniqueLibrary image(LoadLibraryExA(out.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
    EXPECT_TRUE(image) << "step " << i << ": error " << GetLastError();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(out.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, work.path().c_str(), &startup, &process))
        << "step " << i << ": error " << GetLastError();
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  // Rewriting a made updater in place does not grow it by the old package, and the same stub
  // and package give the same bytes every time.
  const ToolRun again =
      RunQwpack(work, "make-updater " + Quote(BuiltUpdaterPath()) + " " +
                          Quote(work.Join("first.qw")) + " " + Quote(work.Join("AGAIN.exe")));
  ASSERT_EQ(0u, again.exitCode) << again.output;
  std::vector<std::uint8_t> firstImage, thirdImage, againImage;
  ASSERT_TRUE(ReadBytes(work.Join("FIRST.exe"), &firstImage));
  ASSERT_TRUE(ReadBytes(work.Join("THIRD.exe"), &thirdImage));
  ASSERT_TRUE(ReadBytes(work.Join("AGAIN.exe"), &againImage));
  EXPECT_EQ(firstImage.size(), thirdImage.size());
  EXPECT_TRUE(firstImage == againImage);
}

TEST(StudioMakeUpdater, RefusesExecutablesThatAreNoUpdaterAndLeavesNoOutput) {
  ScratchFolder work("qwstudio");
  ManifestFile manifest;
  manifest.update.Set("UpdateFile00", "A.DAT");
  ASSERT_TRUE(
      WriteBytes(work.Join("update.qw"), Package(ManifestText(manifest), {{"A.DAT", "a"}})));
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  // The real stub cut behind its section table: its sections' bytes lie outside the file.
  std::vector<std::uint8_t> stub;
  ASSERT_TRUE(ReadBytes(BuiltUpdaterPath(), &stub));
  stub.resize(1024);
  ASSERT_TRUE(WriteBytes(work.Join("cut.exe"), stub));
  struct RefusalCase {
    std::string stub;
    const char* message;
  };
  const RefusalCase cases[] = {
      {QwpackPath(), "the executable has no resource section"},  // no resources at all
      {self, "not an updater: the executable has no UPDATE/102 resource"},
      {work.Join("update.qw"), "not a Windows executable"},
      {work.Join("cut.exe"), "the executable's headers are damaged"},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const std::string out = work.Join("OUT.exe");
    const ToolRun run = RunQwpack(work, "make-updater " + Quote(cases[i].stub) + " " +
                                            Quote(work.Join("update.qw")) + " " + Quote(out));
    EXPECT_EQ(1u, run.exitCode) << "case " << i << ": " << run.output;
    EXPECT_NE(std::string::npos, run.output.find(cases[i].message))
        << "case " << i << ": " << run.output;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(out)) << "case " << i;
  }
}

// ---- A full update from a made updater, and the plan for it

bool WriteStamped(const std::string& path, const std::string& text, std::uint64_t time) {
  if (!WriteText(path, text)) return false;
  UniqueFile file(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME stamp{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  return file && SetFileTime(file.get(), nullptr, nullptr, &stamp);
}

// What a path holds: nothing, a folder, or a file with its text and time.
struct PathState {
  DWORD attributes;
  std::string text;
  std::uint64_t time;
  bool operator==(const PathState& other) const {
    return attributes == other.attributes && text == other.text && time == other.time;
  }
};

PathState StateOf(const std::string& path) {
  PathState state{Attributes(path), {}, 0};
  if (state.attributes != INVALID_FILE_ATTRIBUTES &&
      !(state.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    std::vector<std::uint8_t> bytes;
    ReadBytes(path, &bytes);
    state.text.assign(bytes.begin(), bytes.end());
    state.time = LastWriteTime(path);
  }
  return state;
}

// The installed game: registry values, install folder with SETUP.INI, save folder.
class InstalledGame {
 public:
  InstalledGame(const std::string& company, const ScratchFolder& scratch)
      : company_(company), install_(scratch.Join("Game")), save_(scratch.Join("Save")) {
    EXPECT_TRUE(MakeFolder(install_));
    EXPECT_TRUE(MakeFolder(save_));
    ProfileSection setup = InstalledSetupSection();
    setup.Set("CompanyName", company_).Set("DiskCheckFile1", "DISK1.CHK");
    EXPECT_TRUE(WriteInstalledSetupIni(JoinPath(install_, "SETUP.INI"), setup));
    UniqueRegKey key;
    const std::string path = "Software\\" + company_ + "\\" + kGameDir;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, key.put(), nullptr));
    RegSetValueExA(key.get(), "InstPath", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(install_.c_str()),
                   static_cast<DWORD>(install_.size() + 1));
    RegSetValueExA(key.get(), "DataPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(save_.c_str()),
                   static_cast<DWORD>(save_.size() + 1));
    const DWORD mode = 1;
    RegSetValueExA(key.get(), "InstMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode),
                   sizeof mode);
  }
  ~InstalledGame() {
    RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\" + company_ + "\\" + kGameDir).c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\" + company_).c_str());
  }
  const std::string& company() const { return company_; }
  const std::string& install() const { return install_; }
  const std::string& save() const { return save_; }

 private:
  std::string company_;
  std::string install_;
  std::string save_;
};

enum class Before { missing, older, newer, folder };

struct EntryCase {
  const char* value;   // UpdateFileXX
  const char* target;  // below DATA in the install folder, or "save:" below DATA in the save folder
  Before before;
};

struct PlanScenario {
  const char* company;
  std::vector<EntryCase> entries;
  bool completes;  // the update reaches its completion page
};

// One line of the plan: key, mode, outcome, target, reason.
std::map<std::string, std::vector<std::string>> ParsePlan(const std::string& output) {
  std::map<std::string, std::vector<std::string>> lines;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::size_t start = 0, tab;
    while ((tab = line.find('\t', start)) != std::string::npos) {
      fields.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    fields.push_back(line.substr(start));
    if (fields.size() >= 4) lines[fields[0]] = fields;
  }
  return lines;
}

const PlanScenario kPlanScenarios[] = {
    {"QWS-PlanComplete",
     {{"PLAIN.DAT", "PLAIN.DAT", Before::newer},
      {"u,OLDER.DAT", "OLDER.DAT", Before::older},
      {"u,NEWER.DAT", "NEWER.DAT", Before::newer},
      {"u,FRESH.DAT", "FRESH.DAT", Before::missing},
      {"o,ABSENT.DAT", "ABSENT.DAT", Before::missing},
      {"o,THERE.DAT", "THERE.DAT", Before::older},
      {"o,FOLDER.DAT", "FOLDER.DAT", Before::folder},
      {"d,KEPT.SAV", "save:KEPT.SAV", Before::older},
      {"d,NEW.SAV", "save:NEW.SAV", Before::missing},
      {"2,OTHER.DAT", "OTHER.DAT", Before::older},
      {"1,u,MINE.DAT", "MINE.DAT", Before::older},
      {"u,OLDER.DAT", "OLDER.DAT", Before::older}},  // sees the file the second entry wrote
     true},
    {"QWS-PlanFails",
     {{"FIRST.DAT", "FIRST.DAT", Before::older},
      {"BLOCKED.DAT", "BLOCKED.DAT", Before::folder},
      {"AFTER.DAT", "AFTER.DAT", Before::older}},
     false},
};

std::string MemberName(const char* value) {
  const std::string text = value;
  return text.substr(text.find_last_of(',') == std::string::npos ? 0 : text.find_last_of(',') + 1);
}

TEST(StudioPlan, MatchesWhatTheMadeUpdaterThenDoes) {
  for (std::size_t s = 0; s < sizeof kPlanScenarios / sizeof kPlanScenarios[0]; ++s) {
    const PlanScenario& scenario = kPlanScenarios[s];
    ScratchFolder scratch("qwstudio");
    InstalledGame game(scenario.company, scratch);
    const std::string installData = JoinPath(game.install(), "DATA");
    const std::string saveData = JoinPath(game.save(), "DATA");
    ASSERT_TRUE(MakeFolder(installData));
    ManifestFile manifest;
    manifest.setup.Set("CompanyName", game.company()).Set("DataFolder", "DATA");
    std::vector<Member> members;
    std::vector<std::string> targets;
    for (std::size_t i = 0; i < scenario.entries.size(); ++i) {
      const EntryCase& entry = scenario.entries[i];
      char key[16];
      wsprintfA(key, "UpdateFile%02u", static_cast<unsigned>(i));
      manifest.update.Set(key, entry.value);
      const std::string name = MemberName(entry.value);
      bool packed = false;
      for (const Member& member : members) packed = packed || member.name == name;
      if (!packed) members.push_back({name, "new " + name});
      const std::string target = entry.target;
      targets.push_back(target.compare(0, 5, "save:") == 0 ? JoinPath(saveData, target.substr(5))
                                                           : JoinPath(installData, target));
      if (entry.before == Before::folder) {
        ASSERT_TRUE(MakeFolder(targets.back())) << "scenario " << s << " entry " << i;
      } else if (entry.before != Before::missing &&
                 StateOf(targets.back()).attributes == INVALID_FILE_ATTRIBUTES) {
        if (target.compare(0, 5, "save:") == 0) MakeFolder(saveData);
        ASSERT_TRUE(WriteStamped(targets.back(), "old " + name,
                                 entry.before == Before::older ? kOlderTime : kNewerTime))
            << "scenario " << s << " entry " << i;
      }
    }
    const std::string manifestText = ManifestText(manifest);
    ASSERT_TRUE(WriteText(scratch.Join("UPDATE.INI"), manifestText));
    ASSERT_TRUE(WriteBytes(scratch.Join("update.qw"), Package(manifestText, members)));

    const ToolRun check = RunQwpack(scratch, "check " + Quote(scratch.Join("UPDATE.INI")) +
                                                 " --package " + Quote(scratch.Join("update.qw")));
    EXPECT_EQ(0u, check.exitCode) << "scenario " << s << ": " << check.output;
    const ToolRun plan = RunQwpack(scratch, "plan " + Quote(scratch.Join("UPDATE.INI")) +
                                                " --package " + Quote(scratch.Join("update.qw")) +
                                                " --inst " + Quote(game.install()) + " --data " +
                                                Quote(game.save()) + " --mode 1");
    ASSERT_EQ(0u, plan.exitCode) << "scenario " << s << ": " << plan.output;
    const auto planned = ParsePlan(plan.output);
    std::vector<PathState> before;
    for (const std::string& target : targets) before.push_back(StateOf(target));

    // The updater made by make-updater, run through the wizard like a player.
    ASSERT_TRUE(MakeFolder(scratch.Join("run")));
    ASSERT_TRUE(MakeFolder(scratch.Join("temp")));
    const std::string exe = scratch.Join("run\\UPDATE.exe");
    const ToolRun made =
        RunQwpack(scratch, "make-updater " + Quote(BuiltUpdaterPath()) + " " +
                               Quote(scratch.Join("update.qw")) + " " + Quote(exe));
    ASSERT_EQ(0u, made.exitCode) << "scenario " << s << ": " << made.output;
    UpdaterProcess run;
    RunOptions options;
    options.tempFolder = scratch.Join("temp");
    ASSERT_TRUE(run.Start(exe, options));
    ASSERT_TRUE(run.WaitForWizard()) << run.Describe();
    run.Click(IDC_NEXT);
    ASSERT_TRUE(run.WaitUntil([&] { return run.ControlText(IDC_INFO) == kReadyText; }, kReadyText));
    run.Click(IDC_NEXT);
    if (scenario.completes) {
      ASSERT_TRUE(run.WaitUntil([&] { return run.ControlText(IDC_NEXT) == "完了"; }, "完了"))
          << run.Describe();
      run.Click(IDC_NEXT);
      EXPECT_EQ(1, run.WaitForExit()) << run.Describe();
    } else {
      EXPECT_EQ(0, run.WaitForExit()) << run.Describe();
    }

    bool sawFailure = false;
    for (std::size_t i = 0; i < targets.size(); ++i) {
      char key[16];
      wsprintfA(key, "UpdateFile%02u", static_cast<unsigned>(i));
      const auto line = planned.find(key);
      const PathState after = StateOf(targets[i]);
      const std::string where = "scenario " + std::to_string(s) + " " + key + "\n" + plan.output;
      if (line == planned.end()) {  // filtered out by another install mode
        EXPECT_TRUE(after == before[i]) << where;
        continue;
      }
      EXPECT_EQ(targets[i], line->second[3]) << where;
      const std::string& outcome = line->second[2];
      if (outcome == "written") {
        EXPECT_EQ("new " + MemberName(scenario.entries[i].value), after.text) << where;
        EXPECT_EQ(kMemberTime, after.time) << where;
      } else if (outcome == "kept") {
        EXPECT_EQ(before[i].text, after.text) << where;
        EXPECT_EQ(before[i].attributes, after.attributes) << where;
      } else if (outcome == "passed-over" || outcome == "not-reached" || outcome == "fails") {
        EXPECT_TRUE(after == before[i]) << where;
        sawFailure = sawFailure || outcome == "fails";
      } else {
        ADD_FAILURE() << "unknown outcome " << outcome << " " << where;
      }
    }
    EXPECT_EQ(!scenario.completes, sawFailure) << "scenario " << s << "\n" << plan.output;
  }
}

}  // namespace
