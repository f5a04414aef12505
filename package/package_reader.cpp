#include "package/package_reader.h"

#include <cstring>

#include "app/text_limits.h"
#include "app/updater_messages.h"
#include "app/updater_state.h"
#include "package/package_view.h"

namespace {

// Shown for a member whose bytes lie outside the package or do not decode to memberSize bytes.
constexpr char kUnreadableMember[] = "RESOURCE READ ERROR";
constexpr char kMemberNotFound[] = "Can't Find File in Resource !!";
constexpr char kNoMemory[] = "Can't Allocate Memory !!";

std::uint64_t FileTimeValue(const FILETIME& time) {
  return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

FILETIME ToFileTime(std::uint64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

// Finds memberName in the loaded index, first match in index order, and checks that its stored
// bytes lie in the package; shows the message of the failure.
bool LocateMember(const char* memberName, MemberLocation* location) {
  const PackageIndex* index = g_updater.packageIndex;
  const std::uint32_t entryCount = index ? index->header.entryCount : 0;
  if (entryCount == 0 || !FindMemberEntry(index->entries(), entryCount, memberName, location)) {
    ShowUpdaterError(kMemberNotFound);
    return false;
  }
  if (!MemberFitsPackage(*location, g_updater.packageSize)) {
    ShowUpdaterError(kUnreadableMember);
    return false;
  }
  return true;
}

const std::uint8_t* StoredBytes(const MemberLocation& location) {
  return g_updater.packageData + location.position;
}

// A new block holding the packed member's memberSize decoded bytes; empty after a message.
UniqueGlobal DecodeMemberBlock(const MemberLocation& location) {
  UniqueGlobal block = AllocateFixed(location.entry->memberSize);
  if (!block) {
    ShowUpdaterError(kNoMemory);
    return block;
  }
  if (!DecodeMember(*location.entry, StoredBytes(location),
                    static_cast<std::uint8_t*>(block.get()))) {
    ShowUpdaterError(kUnreadableMember);
    block.reset();
  }
  return block;
}

// The member's contents: the stored bytes in the package, or a block that *decodedBlock takes.
const std::uint8_t* MemberContents(const MemberLocation& location, UniqueGlobal* decodedBlock) {
  if ((location.entry->flags & kMemberCompressed) == 0) return StoredBytes(location);
  *decodedBlock = DecodeMemberBlock(location);
  return static_cast<const std::uint8_t*>(decodedBlock->get());
}

// Free space before extraction. A drive whose free space cannot be queried (also a targetPath
// that starts with no drive letter and colon) does not stop the extraction: the write itself
// then fails if the room is missing.
bool HasRoomFor(const char* targetPath, std::uint32_t memberSize) {
  char drive[3] = {};
  lstrcpynA(drive, targetPath, sizeof drive);  // the first two characters, "C:" with no backslash
  std::uint64_t freeBytes = 0;
  std::uint64_t totalBytes = 0;
  std::uint64_t totalFreeBytes = 0;
  if (!QueryFreeSpace(drive, &freeBytes, &totalBytes, &totalFreeBytes)) return true;
  if (memberSize <= freeBytes) return true;
  // memberSize is 32 bits and exceeds freeBytes, so the shortfall fits an unsigned 32-bit %u.
  const auto shortfall = static_cast<unsigned>(memberSize - freeBytes);
  char message[kTextCapacity];
  wsprintfA(message, "ディスク容量が足りません。%s ドライブに %u バイトの空き容量が必要です", drive,
            shortfall);
  ShowUpdaterError(message);
  return false;
}

// Newer-only rule: true when the existing file's last-write time is strictly later than the
// member's. A file that cannot be opened or whose time cannot be read is not newer.
bool ExistingFileIsNewer(const char* targetPath, std::uint64_t memberTime) {
  UniqueFile file(CreateFileA(targetPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  FILETIME lastWrite;
  if (!GetFileTime(file.get(), nullptr, nullptr, &lastWrite)) return false;
  return FileTimeValue(lastWrite) > memberTime;
}

GetDiskFreeSpaceExFn ResolveGetDiskFreeSpaceEx(HMODULE kernel) {
  const FARPROC proc = GetProcAddress(kernel, "GetDiskFreeSpaceExA");
  return reinterpret_cast<GetDiskFreeSpaceExFn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

PackageIndex* OpenPackage() {
  PackageHeader header;
  if (!ReadPackageHeader(g_updater.packageData, g_updater.packageSize, &header)) return nullptr;
  IndexPlacement placement;
  if (!CheckIndexPlacement(header, g_updater.packageSize, &placement)) return nullptr;

  UniqueGlobal block = AllocateFixed(kPackageHeaderSize + placement.entryBytes);
  if (!block) return nullptr;
  auto* blockBytes = static_cast<std::uint8_t*>(block.get());
  const std::uint8_t* indexBytes = g_updater.packageData + placement.streamOffset;
  if (placement.compressed) {
    UniqueGlobal stream = AllocateFixed(placement.streamSize);
    if (!stream) return nullptr;
    std::memcpy(stream.get(), indexBytes, placement.streamSize);
    if (!LoadIndexEntries(placement, static_cast<const std::uint8_t*>(stream.get()),
                          blockBytes + kPackageHeaderSize)) {
      return nullptr;
    }
  } else if (!LoadIndexEntries(placement, indexBytes, blockBytes + kPackageHeaderSize)) {
    return nullptr;
  }
  std::memcpy(blockBytes, g_updater.packageData, kPackageHeaderSize);

  auto* index = static_cast<PackageIndex*>(block.get());
  if (!EntryNamesTerminated(index->entries(), header.entryCount)) return nullptr;
  block.release();
  return index;
}

const std::uint8_t* FindPackageMember(const char* memberName, std::uint32_t* size,
                                      UniqueGlobal* decodedBlock) {
  MemberLocation location;
  if (!LocateMember(memberName, &location)) return nullptr;
  UniqueGlobal block;
  const std::uint8_t* contents = MemberContents(location, &block);
  if (!contents) return nullptr;
  if (size) *size = location.entry->memberSize;
  *decodedBlock = std::move(block);
  return contents;
}

bool ExtractPackageMember(const char* targetPath, const char* memberName, bool newerOnly) {
  MemberLocation location;
  if (!LocateMember(memberName, &location)) return false;
  const PackageEntry& entry = *location.entry;
  if (!HasRoomFor(targetPath, entry.memberSize)) return false;

  UniqueGlobal decodedBlock;
  const std::uint8_t* contents = MemberContents(location, &decodedBlock);
  if (!contents) return false;

  const DWORD attributes = GetFileAttributesA(targetPath);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(targetPath, FILE_ATTRIBUTE_NORMAL);
    if (newerOnly && ExistingFileIsNewer(targetPath, entry.lastWriteTime)) return true;
  }
  const FILETIME memberTime = ToFileTime(entry.lastWriteTime);
  return WriteWholeFile(targetPath, contents, entry.memberSize, &memberTime);
}

bool QueryFreeSpace(const char* rootPath, std::uint64_t* freeBytesAvailable,
                    std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes) {
  UniqueLibrary loadedNow;
  if (!g_updater.getDiskFreeSpaceEx) {
    loadedNow.reset(LoadLibraryA("kernel32.dll"));
    if (loadedNow) g_updater.getDiskFreeSpaceEx = ResolveGetDiskFreeSpaceEx(loadedNow.get());
  }
  if (g_updater.getDiskFreeSpaceEx) {
    ULARGE_INTEGER freeToCaller, total, totalFree;
    if (g_updater.getDiskFreeSpaceEx(rootPath, &freeToCaller, &total, &totalFree)) {
      *freeBytesAvailable = freeToCaller.QuadPart;
      *totalBytes = total.QuadPart;
      if (totalFreeBytes) *totalFreeBytes = totalFree.QuadPart;
      return true;
    }
  }
  DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
  if (!GetDiskFreeSpaceA(rootPath, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                         &totalClusters)) {
    return false;
  }
  const DWORD bytesPerCluster = sectorsPerCluster * bytesPerSector;  // a 32-bit product
  *freeBytesAvailable = std::uint64_t{freeClusters} * bytesPerCluster;
  *totalBytes = std::uint64_t{totalClusters} * bytesPerCluster;
  if (totalFreeBytes) *totalFreeBytes = *freeBytesAvailable;
  return true;
}
