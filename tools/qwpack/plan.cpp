// qwpack plan: what the updater would do for one installation, without writing anything.
#include <cstdio>
#include <string>

#include "tools/qwpack/loaded_package.h"
#include "tools/qwpack/profile_file.h"
#include "tools/qwpack/studio_commands.h"
#include "tools/qwpack/target_probe.h"
#include "tools/qwpack/update_plan.h"

namespace {

constexpr char kUsage[] =
    "usage: qwpack plan UPDATE.INI --package PKG --inst DIR [--data DIR] --mode N";

int Fail(const std::string& message) {
  std::fprintf(stderr, "qwpack plan: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "qwpack plan: %s\n%s\n", problem.c_str(), kUsage);
  return 2;
}

bool ParseMode(const std::string& text, std::int32_t* mode) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *mode = std::stoi(text);
  return true;
}

}  // namespace

int PlanCommand(int argc, char** argv) {
  if (argc == 1 && std::string(argv[0]) == "--help") {
    std::printf(
        "%s\n%s", kUsage,
        "Prints, without writing anything, what the updater would do for an installation\n"
        "whose registry holds InstPath DIR, DataPath --data and InstMode N, given the files\n"
        "under DIR now. PKG is a package or a made updater. One line per entry, fields\n"
        "separated by tabs:\n"
        "  UpdateFileXX  mode  outcome  target  reason\n"
        "with mode plain, newer, data or existing, and outcome written, kept, passed-over,\n"
        "fails (the update stops there) or not-reached; then\n"
        "  CopyFileXX  disk N  copy (or fails, not-reached)  source  how the disk is found\n"
        "and the free space: RequiredDiskSpace against the drive's free bytes now, and the\n"
        "bytes of the members that would be written. Targets are shown as the updater\n"
        "forms them, joined with backslashes. Entries filtered out by another install\n"
        "mode are not listed.\n");
    return 0;
  }
  if (argc < 1) return Usage("plan needs UPDATE.INI");
  PlanInputs inputs;
  std::string packagePath;
  bool haveInst = false, haveMode = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 == argc) return Usage(arg + " needs a value");
    const std::string value = argv[++i];
    if (arg == "--package") {
      packagePath = value;
    } else if (arg == "--inst") {
      inputs.instPath = value;
      haveInst = true;
    } else if (arg == "--data") {
      inputs.dataPath = value;
    } else if (arg == "--mode") {
      if (!ParseMode(value, &inputs.installMode)) return Usage("--mode needs a number: " + value);
      haveMode = true;
    } else {
      return Usage("unexpected argument " + arg);
    }
  }
  if (packagePath.empty() || !haveInst || !haveMode)
    return Usage("plan needs --package, --inst and --mode");

  std::string error;
  ProfileFile manifest;
  if (!manifest.Load(argv[0], &error)) return Fail(error);
  LoadedPackage package;
  if (!LoadPackageOrUpdater(packagePath, &package, &error)) return Fail(error);
  // The installed SETUP.INI names the disks' check files.
  ProfileFile setup;
  std::string setupPath = inputs.instPath;
  setupPath +=
      (setupPath.empty() || setupPath.back() == '\\' || setupPath.back() == '/') ? "" : "\\";
  setupPath += "SETUP.INI";
  const bool haveSetup =
      ProbeTarget(setupPath).readable && setup.Load(LocalPath(setupPath), &error);

  inputs.manifest = &manifest;
  inputs.package = &package;
  inputs.setup = haveSetup ? &setup : nullptr;
  const UpdatePlan plan = PlanUpdate(inputs);
  std::fputs(FormatPlan(plan).c_str(), stdout);
  return 0;
}
