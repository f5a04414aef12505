// qwpack make-updater: a copy of a built updater that carries another package.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/pe/updater_stub.h"
#include "tools/qwpack/file_io.h"
#include "tools/qwpack/loaded_package.h"
#include "tools/qwpack/progress.h"
#include "tools/qwpack/studio_commands.h"

namespace {

constexpr char kUsage[] = "usage: qwpack make-updater STUB.exe PACKAGE OUT.exe";

int Fail(const std::string& message) {
  std::fprintf(stderr, "qwpack make-updater: %s\n", message.c_str());
  return 1;
}

// Every member decodes to its size: a package the updater would stumble over is refused now.
bool CheckMembers(const LoadedPackage& package, std::string* error) {
  std::uint64_t total = 0;
  for (const PackageEntry& entry : package.entries) total += entry.storedSize;
  ProgressBar progress("checking", total);
  std::uint64_t position = kPackageHeaderSize;
  std::uint64_t done = 0;
  std::vector<std::uint8_t> contents;
  for (const PackageEntry& entry : package.entries) {
    if (!ReadMember(package, MemberLocation{&entry, position}, &contents, error)) return false;
    position += SlotSize(entry.storedSize);
    done += entry.storedSize;
    progress.Update(done);
  }
  return true;
}

}  // namespace

int MakeUpdaterCommand(int argc, char** argv) {
  if (argc == 1 && std::string(argv[0]) == "--help") {
    std::printf(
        "%s\n%s", kUsage,
        "Writes OUT.exe: a copy of STUB.exe (a built UPDATE.exe) whose UPDATE/102 resource\n"
        "holds PACKAGE. Every other resource (the application manifest, the dialogs) stays\n"
        "as it is. Refused, with no output: a STUB that is no 32-bit Windows executable,\n"
        "has no resources or no UPDATE/102 resource, and a PACKAGE that does not parse,\n"
        "has a member that does not decode, or lacks UPDATE.INI.\n");
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
  }
  const std::string stubPath = argv[0], packagePath = argv[1], outPath = argv[2];
  std::string error;
  std::vector<std::uint8_t> stub;
  if (!ReadWholeFile(stubPath, &stub, &error)) return Fail(error);
  LoadedPackage package;
  if (!LoadPackage(packagePath, &package, &error)) return Fail(error);
  MemberLocation manifest;
  if (FindMember(package, "UPDATE.INI", &manifest) == nullptr) {
    return Fail(packagePath +
                ": the package has no member UPDATE.INI, which the updater reads first");
  }
  if (!CheckMembers(package, &error)) return Fail(packagePath + ": " + error);

  std::vector<std::uint8_t> updater;
  const StubStatus status =
      ReplaceUpdaterPackage(stub, package.bytes.data(), package.bytes.size(), &updater);
  if (status != StubStatus::ok) return Fail(stubPath + ": " + DescribeStubStatus(status));
  ProgressBar progress("writing", updater.size());
  if (!ReplaceWholeFile(outPath, updater, &error)) return Fail(error);
  progress.Finish();
  return 0;
}
