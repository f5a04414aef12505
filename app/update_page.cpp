#include "app/update_page.h"

#include <shellapi.h>

#include <cstdint>

#include "app/append_path.h"
#include "app/disk_drive.h"
#include "app/text_limits.h"
#include "app/updater_messages.h"
#include "app/updater_state.h"
#include "config/update_section.h"
#include "package/package_reader.h"
#include "res/resource.h"
#include "ui/wizard_controls.h"

namespace {

// A copy's source or destination: a path, its NUL and the NUL that closes a one-path list.
constexpr std::size_t kCopyPathCapacity = kPathCapacity + 4;
// The shell's flags: no confirmations; a folder also without the shell's error dialogs.
constexpr FILEOP_FLAGS kFileCopyFlags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
constexpr FILEOP_FLAGS kFolderCopyFlags = kFileCopyFlags | FOF_NOERRORUI;

constexpr char kWriteFailed[] = "ファイルの書き込みに失敗しました";

const UpdateManifest& Manifest() { return g_updater.manifest; }
const InstallRecord& Installation() { return g_updater.installRecord; }

void EndWithFailure(HWND wizard) { EndDialog(wizard, -1); }

// ---- Disk space

// False when the install drive has less room than RequiredDiskSpace: the page then shows the
// shortfall with Back and Cancel, before anything is written. A drive whose free space cannot
// be queried (an install folder without a drive letter, for one) does not stop the update: each
// extraction checks its own room again and a write that does not fit fails.
bool CheckRequiredSpace(HWND wizard) {
  if (Manifest().requiredDiskSpace == 0) return true;
  char drive[kDriveDesignationCapacity];
  lstrcpynA(drive, Installation().instPath, sizeof drive);  // first two characters, "C:"
  std::uint64_t freeBytes = 0;
  std::uint64_t totalBytes = 0;
  if (!QueryFreeSpace(drive, &freeBytes, &totalBytes, nullptr)) return true;

  const std::uint64_t required = static_cast<std::uint32_t>(Manifest().requiredDiskSpace);
  if (required <= freeBytes) return true;
  // required fits 32 bits and exceeds freeBytes, so the shortfall does as well.
  const auto shortfall = static_cast<std::int32_t>(required - freeBytes);
  SetInfoText(wizard, "ディスク容量が足りません。\r%s ドライブに %i バイトの空き容量が必要です",
              drive, shortfall);
  EnableItem(wizard, IDC_BACK, true);
  EnableItem(wizard, IDC_NEXT, false);
  EnableItem(wizard, IDC_CANCEL, true);
  return false;
}

void ShowBusy(HWND wizard) {
  SetInfoText(wizard, "アップデートを実行しています");
  EnableItem(wizard, IDC_BACK, false);
  EnableItem(wizard, IDC_NEXT, false);
  EnableItem(wizard, IDC_CANCEL, false);
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

// ---- Update list

bool IsExistingFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The target of an entry: target folder, dataFolder (created, one level), relativePath. The
// three parts always fit the buffer; false only if they did not.
bool FormTargetPath(const UpdateEntry& entry, char (&target)[kTextCapacity]) {
  const char* folder = entry.mode == modeData ? Installation().dataPath : Installation().instPath;
  lstrcpynA(target, folder, sizeof target);
  if (!AppendPath(target, sizeof target, Manifest().dataFolder)) return false;
  CreateDirectoryA(target, nullptr);  // an existing folder is fine; other failures show later
  return AppendPath(target, sizeof target, entry.relativePath);
}

// A save file that exists keeps its contents: only its last-write time is renewed, on an open
// handle, so no failure can truncate it. The outcome of the renewal is not examined.
void RenewLastWriteTime(const char* path) {
  UniqueFile file(CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SetFileTime(file.get(), nullptr, nullptr, &now);
}

// Applies one entry; false after the write-failure message.
bool ApplyUpdateEntry(const UpdateEntry& entry) {
  char target[kTextCapacity];
  if (!FormTargetPath(entry, target)) {
    ShowUpdaterError(kWriteFailed);
    return false;
  }
  const bool existsOnly = Manifest().overwriteOnly != 0 || entry.mode == modeExisting;
  if (existsOnly && !IsExistingFile(target)) return true;  // passed over
  if (entry.mode == modeData && IsExistingFile(target)) {
    RenewLastWriteTime(target);
    return true;
  }
  const char* memberName = entry.relativePath + entry.baseNameOffset;
  if (!ExtractPackageMember(target, memberName, entry.mode == modeNewer)) {
    ShowUpdaterError(kWriteFailed);
    return false;
  }
  return true;
}

bool ApplyUpdateList() {
  for (std::int32_t i = 0; i < Manifest().updateCount; ++i) {
    if (!ApplyUpdateEntry(Manifest().updateEntries[i])) return false;
  }
  return true;
}

// ---- Copy list

// "SETUP.INI : "<source>" could not be copied", owned by the wizard, with the error icon.
void ShowCopyFailure(HWND wizard, const char* sourcePath) {
  char text[kTextCapacity];
  wsprintfA(text, "SETUP.INI : \"%s\" のコピーに失敗しました", sourcePath);
  MessageBoxA(wizard, text, g_updater.captionText, MB_OK | MB_ICONHAND);
}

struct CopyPaths {
  char source[kCopyPathCapacity] = {};
  char destination[kCopyPathCapacity] = {};
  bool isFile = false;
};

// Source: the drive root and sourcePath. A file goes to the same relative path below the
// install folder; a folder (or a source that does not exist) into the install folder itself.
// False when a path does not fit its buffer.
bool FormCopyPaths(const char* diskRoot, const char* sourcePath, CopyPaths* paths) {
  lstrcpynA(paths->source, diskRoot, sizeof paths->source);
  if (!AppendPath(paths->source, sizeof paths->source, sourcePath)) return false;
  lstrcpynA(paths->destination, Installation().instPath, sizeof paths->destination);
  const DWORD attributes = GetFileAttributesA(paths->source);
  paths->isFile = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (paths->isFile) {
    return AppendPath(paths->destination, sizeof paths->destination, sourcePath);
  }
  return true;
}

enum class CopyOutcome { copied, aborted, failed };

CopyOutcome CopyWithShell(HWND wizard, const CopyPaths& paths) {
  SHFILEOPSTRUCTA operation = {};
  operation.hwnd = wizard;
  operation.wFunc = FO_COPY;
  operation.pFrom = paths.source;
  operation.pTo = paths.destination;
  operation.fFlags = paths.isFile ? kFileCopyFlags : kFolderCopyFlags;
  const int result = SHFileOperationA(&operation);
  if (operation.fAnyOperationsAborted) return CopyOutcome::aborted;
  if (result != 0) return CopyOutcome::failed;
  SetFileAttributesA(paths.destination, FILE_ATTRIBUTE_NORMAL);
  return CopyOutcome::copied;
}

// Copies every entry from the game's CD-ROM; false once the wizard has been ended. An entry
// without a disk number takes the drive of the latest entry that had one; before any drive was
// found it has no source at all and fails as a copy failure.
bool ApplyCopyList(HWND wizard) {
  char diskRoot[kDriveDesignationCapacity] = {};
  for (std::int32_t i = 0; i < Manifest().copyCount; ++i) {
    const CopyEntry& entry = Manifest().copyEntries[i];
    if (entry.diskNumber != 0 && !FindDiskDrive(wizard, entry.diskNumber, diskRoot)) {
      EndWithFailure(wizard);  // the user refused the disk prompt
      return false;
    }
    CopyPaths paths;
    if (diskRoot[0] == '\0' || !FormCopyPaths(diskRoot, entry.sourcePath, &paths)) {
      ShowCopyFailure(wizard, entry.sourcePath);
      EndWithFailure(wizard);
      return false;
    }
    SetInfoText(wizard, "%s をコピーしています", entry.sourcePath);
    switch (CopyWithShell(wizard, paths)) {
      case CopyOutcome::copied:
        break;
      case CopyOutcome::aborted:
        EndWithFailure(wizard);
        return false;
      case CopyOutcome::failed:
        ShowCopyFailure(wizard, entry.sourcePath);
        EndWithFailure(wizard);
        return false;
    }
  }
  return true;
}

// ---- Outcome

// The completed page: control 1 becomes "完了" and ends the wizard with 0 on its next press.
void ShowCompletion(HWND wizard) {
  SetInfoText(wizard, "アップデートは完了しました");
  SetDlgItemTextA(wizard, IDC_NEXT, "完了");
  EnableItem(wizard, IDC_NEXT, true);
  SetFocus(GetDlgItem(wizard, IDC_NEXT));
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

}  // namespace

void RunUpdatePage(HWND wizard) {
  ReadUpdateSection();
  if (!CheckRequiredSpace(wizard)) return;
  ShowBusy(wizard);

  const UpdateManifest& manifest = Manifest();
  if (!manifest.updateKeySeen && !manifest.copyKeySeen) {
    ShowUpdaterError("No 'UpdateFileXX' and 'CopyFileXX'");
    EndWithFailure(wizard);
    return;
  }
  if (manifest.updateCount == 0 && manifest.copyCount == 0) {
    ShowUpdaterError("アップデートする必要のあるファイルはありません");
  } else {
    if (!ApplyUpdateList()) {
      EndWithFailure(wizard);
      return;
    }
    if (!ApplyCopyList(wizard)) return;
  }
  ShowCompletion(wizard);
}
