// qwpack check: the mistakes in an update manifest, found with the updater's own rules.
#include <cstdio>
#include <string>

#include "tools/qwpack/file_io.h"
#include "tools/qwpack/loaded_package.h"
#include "tools/qwpack/manifest_check.h"
#include "tools/qwpack/profile_file.h"
#include "tools/qwpack/studio_commands.h"

namespace {

constexpr char kUsage[] = "usage: qwpack check UPDATE.INI [--package PKG] [--setup SETUP.INI]";

int Fail(const std::string& message) {
  std::fprintf(stderr, "qwpack check: %s\n", message.c_str());
  return 1;
}

}  // namespace

int CheckCommand(int argc, char** argv) {
  if (argc == 1 && std::string(argv[0]) == "--help") {
    std::printf(
        "%s\n%s", kUsage,
        "Reads UPDATE.INI as the updater reads it and prints one line per problem,\n"
        "\"[SECTION] Key: reason\": required SETUP keys missing or empty; values cut by\n"
        "their buffers; UpdateFileXX/CopyFileXX keys the updater never reads (past the\n"
        "sixteenth, after a gap, misnumbered, duplicated), misspelt keys and second\n"
        "sections of a name; entries outside the accepted forms; numbers that are no\n"
        "numbers; text that is not code page 932. With --package (a package or a made\n"
        "updater): members named by entries, AgreementText or AgreementTitle that it\n"
        "lacks, and whether its UPDATE.INI is this file. With --setup (the game's\n"
        "SETUP.INI): disks without a DiskCheckFileN.\n"
        "Exit status: 0 no problem, 1 problems found (or a file unreadable), 2 bad command\n"
        "line.\n");
    return 0;
  }
  if (argc < 1) {
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
  }
  const std::string manifestPath = argv[0];
  std::string packagePath, setupPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--package" || arg == "--setup") && i + 1 < argc) {
      (arg == "--package" ? packagePath : setupPath) = argv[++i];
    } else {
      std::fprintf(stderr, "qwpack check: unexpected argument %s\n%s\n", arg.c_str(), kUsage);
      return 2;
    }
  }

  std::string error;
  std::vector<std::uint8_t> manifestBytes;
  if (!ReadWholeFile(manifestPath, &manifestBytes, &error)) return Fail(error);
  ProfileFile manifest;
  manifest.Parse(std::string(manifestBytes.begin(), manifestBytes.end()));
  LoadedPackage package;
  if (!packagePath.empty() && !LoadPackageOrUpdater(packagePath, &package, &error))
    return Fail(error);
  ProfileFile setup;
  if (!setupPath.empty() && !setup.Load(setupPath, &error)) return Fail(error);

  CheckInputs inputs;
  inputs.manifest = &manifest;
  inputs.manifestText.assign(manifestBytes.begin(), manifestBytes.end());
  inputs.package = packagePath.empty() ? nullptr : &package;
  inputs.setup = setupPath.empty() ? nullptr : &setup;
  const std::vector<CheckFinding> findings = CheckManifest(inputs);
  for (const CheckFinding& finding : findings) {
    std::printf("%s: %s\n", finding.key.c_str(), finding.reason.c_str());
  }
  if (findings.empty()) {
    std::printf("%s: no problems found\n", manifestPath.c_str());
    return 0;
  }
  std::fprintf(stderr, "%s: %zu problem%s\n", manifestPath.c_str(), findings.size(),
               findings.size() == 1 ? "" : "s");
  return 1;
}
