#include "tools/qwpack/loaded_package.h"

#include "tools/pe/updater_stub.h"
#include "tools/qwpack/file_io.h"

bool LoadPackage(const std::string& path, LoadedPackage* package, std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;
  return ParsePackage(std::move(bytes), path, package, error);
}

bool ParsePackage(std::vector<std::uint8_t> bytes, const std::string& description,
                  LoadedPackage* package, std::string* error) {
  package->bytes = std::move(bytes);
  const std::string bad = "not a readable package: " + description + ": ";
  if (!ReadPackageHeader(package->bytes.data(), package->bytes.size(), &package->header)) {
    *error = bad + "shorter than its header";
    return false;
  }
  IndexPlacement placement;
  if (package->bytes.size() > 0xFFFFFFFFu ||
      !CheckIndexPlacement(package->header, package->bytes.size(), &placement)) {
    *error = bad + "the index lies outside the package";
    return false;
  }
  package->entries.resize(package->header.entryCount);
  if (!LoadIndexEntries(placement, package->bytes.data() + placement.streamOffset,
                        reinterpret_cast<std::uint8_t*>(package->entries.data()))) {
    *error = bad + "the packed index does not decode to " +
             std::to_string(package->header.entryCount) + " entries";
    return false;
  }
  if (!EntryNamesTerminated(package->entries.data(), package->header.entryCount)) {
    *error = bad + "a member name has no end within 260 bytes";
    return false;
  }
  return true;
}

bool ReadMember(const LoadedPackage& package, const MemberLocation& location,
                std::vector<std::uint8_t>* contents, std::string* error) {
  const PackageEntry& entry = *location.entry;
  if (!MemberFitsPackage(location, package.bytes.size())) {
    *error = std::string("member ") + entry.name + " lies outside the package";
    return false;
  }
  const std::uint8_t* stored = package.bytes.data() + location.position;
  if ((entry.flags & kMemberCompressed) == 0) {
    contents->assign(stored, stored + entry.memberSize);
    return true;
  }
  contents->resize(entry.memberSize);
  if (!DecodeMember(entry, stored, contents->data())) {
    *error = std::string("member ") + entry.name + " does not decode to " +
             std::to_string(entry.memberSize) + " bytes";
    return false;
  }
  return true;
}

const PackageEntry* FindMember(const LoadedPackage& package, const char* name,
                               MemberLocation* location) {
  if (!FindMemberEntry(package.entries.data(), package.header.entryCount, name, location)) {
    return nullptr;
  }
  return location->entry;
}

bool LoadPackageOrUpdater(const std::string& path, LoadedPackage* package, std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;
  std::vector<std::uint8_t> carried;
  if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
    const StubStatus status = ReadUpdaterPackage(bytes, &carried);
    if (status != StubStatus::ok) {
      *error = path + ": " + DescribeStubStatus(status);
      return false;
    }
    return ParsePackage(std::move(carried), path + " (its UPDATE/102 package)", package, error);
  }
  return ParsePackage(std::move(bytes), path, package, error);
}
