#include "app/bootstrap.h"

#include <objbase.h>

#include <cstdint>

#include "app/append_path.h"
#include "app/text_limits.h"
#include "app/updater_messages.h"
#include "app/updater_state.h"
#include "package/package_reader.h"
#include "res/resource.h"

namespace {

constexpr char kManifestName[] = "UPDATE.INI";
constexpr char kPackageReadError[] = "RESOURCE READ ERROR";
// Shown when the temp folder is unknown, too long, or no folder of our own can be made in it.
constexpr char kTempFolderError[] = "Can't Create Temporary Folder !!";
// Names already taken (by another updater, or by anything planted there) are skipped; this many
// failed tries end the run.
constexpr int kFolderAttempts = 64;

// Finds, loads and locks the resource "UPDATE"/102. False, with the state unchanged, when it is
// missing, empty, or cannot be loaded or locked.
bool LocatePackage(HINSTANCE instance) {
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(IDR_PACKAGE), "UPDATE");
  if (!found) return false;
  const DWORD size = SizeofResource(instance, found);
  if (size == 0) return false;
  HGLOBAL loaded = LoadResource(instance, found);
  if (!loaded) return false;
  const void* data = LockResource(loaded);
  if (!data) return false;
  g_updater.packageData = static_cast<const std::uint8_t*>(data);
  g_updater.packageSize = size;
  return true;
}

// Creates a new folder under the temp folder that belongs to this process alone and records it
// in tempManifestFolder. CreateDirectoryA fails on any name that already exists (a folder, a
// file or a link), so nothing placed there beforehand can redirect the manifest's write.
bool CreateTempManifestFolder() {
  char tempFolder[kPathCapacity] = {};
  const DWORD length = GetTempPathA(sizeof tempFolder, tempFolder);
  if (length == 0 || length >= sizeof tempFolder) return false;

  DWORD nameValue = (GetCurrentProcessId() * 0x9E3779B1u) ^ GetTickCount();
  for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
    char name[16];
    wsprintfA(name, "UPD%08lX", nameValue);
    nameValue += 0x2545F491u;  // odd: the names do not repeat within the attempts

    char folder[kPathCapacity];
    lstrcpyA(folder, tempFolder);
    if (!AppendPath(folder, sizeof folder, name)) return false;
    if (CreateDirectoryA(folder, nullptr)) {
      lstrcpyA(g_updater.tempManifestFolder, folder);
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

// tempManifestPath: "UPDATE.INI" inside a new folder of this process's own.
bool PrepareTempManifestPath() {
  if (!CreateTempManifestFolder()) return false;
  char path[kPathCapacity];
  lstrcpyA(path, g_updater.tempManifestFolder);
  if (!AppendPath(path, sizeof path, kManifestName)) return false;
  lstrcpyA(g_updater.tempManifestPath, path);
  return true;
}

}  // namespace

bool RunBootstrap(HINSTANCE instance) {
  CoInitialize(nullptr);  // never uninitialised; the result is not needed
  if (!LocatePackage(instance)) return false;

  g_updater.packageIndex = OpenPackage();
  if (!g_updater.packageIndex) {
    ShowUpdaterError(kPackageReadError);
    return false;
  }
  if (!PrepareTempManifestPath()) {
    ShowUpdaterError(kTempFolderError);
    return false;
  }
  // Any message of a failed extraction has been shown by ExtractPackageMember.
  return ExtractPackageMember(g_updater.tempManifestPath, kManifestName, false);
}

void RemoveTempManifest() {
  if (g_updater.packageIndex) {
    GlobalFree(g_updater.packageIndex);
    g_updater.packageIndex = nullptr;
  }
  if (g_updater.tempManifestPath[0] != '\0') {
    DeleteFileA(g_updater.tempManifestPath);
    g_updater.tempManifestPath[0] = '\0';
  }
  if (g_updater.tempManifestFolder[0] != '\0') {
    RemoveDirectoryA(g_updater.tempManifestFolder);
    g_updater.tempManifestFolder[0] = '\0';
  }
}
