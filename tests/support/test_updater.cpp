#include "tests/support/test_updater.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "app/win32_handles.h"
#include "package/package_view.h"
#include "res/resource.h"
#include "tests/support/test_files.h"
#include "tools/pe/updater_stub.h"

#ifndef QW_UPDATER_EXE
#error "QW_UPDATER_EXE names the built UPDATE.exe"
#endif

namespace {

constexpr char kPackageType[] = "UPDATE";

// One resource of an image: type and name as an id (string empty) or a string.
struct Resource {
  WORD typeId;
  std::string typeName;
  WORD nameId;
  std::string nameName;
  WORD language;
  std::vector<std::uint8_t> bytes;

  LPCSTR type() const { return typeName.empty() ? MAKEINTRESOURCEA(typeId) : typeName.c_str(); }
  LPCSTR name() const { return nameName.empty() ? MAKEINTRESOURCEA(nameId) : nameName.c_str(); }
  bool IsPackage() const { return typeName == kPackageType && nameName.empty() && nameId == IDR_PACKAGE; }
};

struct Collection {
  HMODULE module;
  std::vector<Resource> resources;
  Resource current;
};

void SetKey(LPCSTR key, WORD* id, std::string* name) {
  if (IS_INTRESOURCE(key)) {
    *id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(key));
    name->clear();
  } else {
    *id = 0;
    *name = key;
  }
}

BOOL CALLBACK CollectLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language,
                              LONG_PTR context) {
  Collection* collection = reinterpret_cast<Collection*>(context);
  Resource resource = collection->current;
  resource.language = language;
  HRSRC found = FindResourceExA(module, type, name, language);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const std::uint8_t* data = loaded ? static_cast<const std::uint8_t*>(LockResource(loaded)) : nullptr;
  if (data) resource.bytes.assign(data, data + SizeofResource(module, found));
  collection->resources.push_back(std::move(resource));
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR context) {
  Collection* collection = reinterpret_cast<Collection*>(context);
  SetKey(name, &collection->current.nameId, &collection->current.nameName);
  EnumResourceLanguagesA(module, type, name, &CollectLanguage, context);
  return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR context) {
  Collection* collection = reinterpret_cast<Collection*>(context);
  SetKey(type, &collection->current.typeId, &collection->current.typeName);
  EnumResourceNamesA(module, type, &CollectName, context);
  return TRUE;
}

// Every resource of the image file at path.
bool ReadResources(const std::string& path, std::vector<Resource>* resources) {
  UniqueLibrary module(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return false;
  Collection collection{module.get(), {}, {}};
  EnumResourceTypesA(module.get(), &CollectType, reinterpret_cast<LONG_PTR>(&collection));
  *resources = std::move(collection.resources);
  return true;
}

// Rewrites the image's UPDATE/102 as a resource of 0 bytes (the PE rewriter of qwpack).
bool EmptyThePackage(const std::string& path) {
  std::vector<std::uint8_t> image;
  Bytes emptied;
  const std::uint8_t none = 0;
  if (!ReadBytes(path, &image)) {
    ADD_FAILURE() << "cannot read " << path;
    return false;
  }
  const StubStatus status = ReplaceUpdaterPackage(image, &none, 0, &emptied);
  if (status != StubStatus::ok || !WriteBytes(path, emptied)) {
    ADD_FAILURE() << "cannot empty the package of " << path << ": "
                  << DescribeStubStatus(status);
    return false;
  }
  return true;
}

// Copies the built updater and rewrites its resources: all of them as they are, except the
// package, which is replaced (package given) or left out. The resource section is written anew
// (BeginUpdateResourceA deleting the existing ones), so no trace of the old package stays.
std::string MakeCopy(const std::string& folder, const std::vector<std::uint8_t>* package) {
  const std::string copy = JoinPath(folder, "UPDATE.exe");
  std::vector<Resource> resources;
  if (!ReadResources(BuiltUpdaterPath(), &resources)) {
    ADD_FAILURE() << "cannot read the resources of " << BuiltUpdaterPath();
    return {};
  }
  if (!CopyFileA(BuiltUpdaterPath().c_str(), copy.c_str(), FALSE)) {
    ADD_FAILURE() << "cannot copy " << BuiltUpdaterPath() << " to " << copy << ": error "
                  << GetLastError();
    return {};
  }
  WORD packageLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
  HANDLE update = BeginUpdateResourceA(copy.c_str(), TRUE);
  if (!update) {
    ADD_FAILURE() << "BeginUpdateResourceA(" << copy << ") failed: error " << GetLastError();
    return {};
  }
  bool ok = true;
  for (Resource& resource : resources) {
    if (resource.IsPackage()) {
      packageLanguage = resource.language;
      continue;
    }
    ok = ok && UpdateResourceA(update, resource.type(), resource.name(), resource.language,
                               resource.bytes.data(), static_cast<DWORD>(resource.bytes.size()));
  }
  // UpdateResourceA refuses an empty resource (Wine): an empty package is put in below.
  const bool emptyPackage = package && package->empty();
  const std::uint8_t placeholder = 0;
  if (package) {
    const void* bytes = emptyPackage ? &placeholder : package->data();
    ok = ok && UpdateResourceA(update, kPackageType, MAKEINTRESOURCEA(IDR_PACKAGE),
                               packageLanguage, const_cast<void*>(bytes),
                               emptyPackage ? 1 : static_cast<DWORD>(package->size()));
  }
  if (!EndUpdateResourceA(update, !ok) || !ok) {
    ADD_FAILURE() << "cannot rewrite the resources of " << copy << ": error " << GetLastError();
    return {};
  }
  if (emptyPackage && !EmptyThePackage(copy)) return {};
  return copy;
}

}  // namespace

std::string BuiltUpdaterPath() { return ToWindowsPath(QW_UPDATER_EXE); }

std::string MakeTestUpdater(const std::string& folder, const std::vector<std::uint8_t>& package) {
  return MakeCopy(folder, &package);
}

std::string MakeTestUpdaterWithoutPackage(const std::string& folder) {
  return MakeCopy(folder, nullptr);
}

bool ReadPackageResource(const std::string& exePath, std::vector<std::uint8_t>* package) {
  UniqueLibrary module(LoadLibraryExA(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return false;
  HRSRC found = FindResourceA(module.get(), MAKEINTRESOURCEA(IDR_PACKAGE), kPackageType);
  if (!found) return false;
  const DWORD size = SizeofResource(module.get(), found);
  HGLOBAL loaded = LoadResource(module.get(), found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return false;
  const std::uint8_t* bytes = static_cast<const std::uint8_t*>(data);
  package->assign(bytes, bytes + size);
  return true;
}

std::vector<std::uint8_t> BuiltPackage() {
  std::vector<std::uint8_t> package;
  if (!ReadPackageResource(BuiltUpdaterPath(), &package)) {
    ADD_FAILURE() << "no resource UPDATE/102 in " << BuiltUpdaterPath();
  }
  return package;
}

bool ReadPackageMember(const std::vector<std::uint8_t>& package, const char* name,
                       PackageMemberCopy* member) {
  PackageHeader header;
  IndexPlacement placement;
  if (!ReadPackageHeader(package.data(), package.size(), &header) ||
      !CheckIndexPlacement(header, package.size(), &placement)) {
    return false;
  }
  std::vector<std::uint8_t> entries(placement.entryBytes);
  if (!LoadIndexEntries(placement, package.data() + placement.streamOffset, entries.data())) {
    return false;
  }
  const PackageEntry* table = reinterpret_cast<const PackageEntry*>(entries.data());
  MemberLocation location;
  if (!EntryNamesTerminated(table, header.entryCount) ||
      !FindMemberEntry(table, header.entryCount, name, &location) ||
      !MemberFitsPackage(location, package.size())) {
    return false;
  }
  const PackageEntry& entry = *location.entry;
  const std::uint8_t* stored = package.data() + location.position;
  std::vector<std::uint8_t> bytes(entry.memberSize);
  if (entry.flags & kMemberCompressed) {
    if (!DecodeMember(entry, stored, bytes.data())) return false;
  } else {
    bytes.assign(stored, stored + entry.memberSize);
  }
  member->bytes = std::move(bytes);
  member->lastWriteTime = entry.lastWriteTime;
  return true;
}
