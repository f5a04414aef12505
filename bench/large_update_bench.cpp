// large_update_bench WORK SCALE: one full update by the real UPDATE.exe of a game whose package
// carries three stored members of SCALE MiB each (the game's data archives) and two packed text
// members. The members are written to WORK\src first (scripts/bench-large copies them with cp
// for the baseline); the updater runs from WORK\updater, the game is installed in WORK\game.
// Prints the update's time (from Next on the ready page to the completion page) and the
// updater's memory at the completion page, as "name value" lines. Not a test: it never fails.
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kMemberTime = 134405892000000000;  // 2026-12-01 09:00 UTC
constexpr char kCompany[] = "QWB-Large";

// Text that packs well: scenario scripts.
Bytes ScriptBytes(std::size_t size, unsigned seed) {
  Bytes bytes;
  for (unsigned line = 0; bytes.size() < size; ++line) {
    char text[96];
    wsprintfA(text, "@say name=%u voice=v%05u text=\"scene %u line %u\"\r\n", line % 7, line,
              seed, line);
    bytes.insert(bytes.end(), text, text + lstrlenA(text));
  }
  bytes.resize(size);
  return bytes;
}

void InstallGame(const std::string& folder) {
  MakeFolder(folder);
  ProfileSection setup = InstalledSetupSection();
  setup.Set("CompanyName", kCompany);
  WriteInstalledSetupIni(JoinPath(folder, "SETUP.INI"), setup);
  UniqueRegKey key;
  const std::string path = std::string("Software\\") + kCompany + "\\SOHYOU";
  RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                  nullptr);
  RegSetValueExA(key.get(), "InstPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                 static_cast<DWORD>(folder.size() + 1));
  const DWORD mode = 1;
  RegSetValueExA(key.get(), "InstMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode),
                 sizeof mode);
}

void RemoveGameKey() {
  RegDeleteKeyA(HKEY_CURRENT_USER, (std::string("Software\\") + kCompany + "\\SOHYOU").c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, (std::string("Software\\") + kCompany).c_str());
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: large_update_bench WORK SCALE_MIB\n");
    return 2;
  }
  const std::string work = ToWindowsPath(argv[1]);
  const std::size_t scale = std::strtoul(argv[2], nullptr, 10) << 20;
  const std::string source = JoinPath(work, "src");
  const std::string game = JoinPath(work, "game");
  const std::string updaterFolder = JoinPath(work, "updater");
  for (const std::string& folder : {work, source, updaterFolder}) MakeFolder(folder);
  MakeFolder(JoinPath(updaterFolder, "temp"));

  struct MemberPlan {
    const char* name;
    bool packed;
    Bytes bytes;
  };
  std::vector<MemberPlan> plan;
  plan.push_back({"DATA.XP3", false, PseudoRandomBytes(scale, 1)});
  plan.push_back({"VOICE.XP3", false, PseudoRandomBytes(scale, 2)});
  plan.push_back({"BGM.XP3", false, PseudoRandomBytes(scale, 3)});
  plan.push_back({"SCENARIO.TXT", true, ScriptBytes(2 << 20, 4)});
  plan.push_back({"SYSTEM.TXT", true, ScriptBytes(1 << 20, 5)});

  ManifestFile manifest;
  manifest.setup.Set("CompanyName", kCompany);
  std::vector<PackageMemberInput> inputs(1);
  std::uint64_t totalBytes = 0;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    char key[16];
    wsprintfA(key, "UpdateFile%02u", static_cast<unsigned>(i));
    manifest.update.Set(key, plan[i].name);
    WriteBytes(JoinPath(source, plan[i].name), plan[i].bytes);
    totalBytes += plan[i].bytes.size();
    inputs.push_back({plan[i].name, std::move(plan[i].bytes), kMemberTime, plan[i].packed});
  }
  std::string text;
  for (const ProfileSection& section : {manifest.setup, manifest.update}) {
    for (const std::string& line : section.Lines()) text += line + "\r\n";
  }
  inputs[0] = {"UPDATE.INI", ToBytes(text), kMemberTime, true};
  Bytes package;
  std::string error;
  if (!BuildPackage(inputs, true, &package, &error)) {
    std::fprintf(stderr, "large_update_bench: %s\n", error.c_str());
    return 1;
  }
  inputs.clear();
  const std::string exe = MakeTestUpdater(updaterFolder, package);
  const std::size_t packageBytes = package.size();
  Bytes().swap(package);
  InstallGame(game);

  UpdaterProcess run;
  RunOptions options;
  options.tempFolder = JoinPath(updaterFolder, "temp");
  options.timeoutMs = 600000;
  int status = 1;
  if (!exe.empty() && run.Start(exe, options) && run.WaitForWizard()) {
    run.Click(IDC_NEXT);
    run.WaitUntil([&] { return run.ControlText(IDC_INFO) == "アップデートを実行します"; }, "ready");
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    run.Click(IDC_NEXT);
    const bool completed =
        run.WaitUntil([&] { return run.ControlText(IDC_NEXT) == "完了"; }, "the completion page");
    QueryPerformanceCounter(&end);
    UniqueKernelHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, run.processId()));
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    const bool measured =
        process && GetProcessMemoryInfo(process.get(),
                                        reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                        sizeof memory);
    if (completed) run.Click(IDC_NEXT);
    const int exitCode = run.WaitForExit();
    std::printf("package_bytes %u\n", static_cast<unsigned>(packageBytes));
    std::printf("member_bytes %llu\n", static_cast<unsigned long long>(totalBytes));
    std::printf("update_seconds %.3f\n", Seconds(start, end));
    std::printf("exit_code %d\n", exitCode);
    if (measured) {
      std::printf("peak_private_bytes %lu\n", static_cast<unsigned long>(memory.PeakPagefileUsage));
      std::printf("private_bytes %lu\n", static_cast<unsigned long>(memory.PrivateUsage));
      std::printf("peak_working_set_bytes %lu\n",
                  static_cast<unsigned long>(memory.PeakWorkingSetSize));
    }
    status = completed && exitCode == 1 ? 0 : 1;
  }
  RemoveGameKey();
  return status;
}
