#pragma once
// The container that carries the update inside the executable. All integers are little-endian.
//
//   offset 0            PackageHeader (16 bytes)
//   offset 16           member data: each member in a slot of storedSize rounded up to 16
//   offset indexOffset  the index, to the end of the package: entryCount PackageEntry records,
//                       or (indexCompressed) one packed stream that decodes to them
#include <cstddef>
#include <cstdint>

constexpr std::uint32_t kPackageHeaderSize = 16;
constexpr std::uint32_t kPackageEntrySize = 280;
constexpr std::uint32_t kMemberNameCapacity = 260;  // name field, NUL included
constexpr std::uint32_t kSlotAlignment = 16;

// PackageHeader.flags bit 0 set: the index is a packed stream.
constexpr std::uint32_t kIndexCompressed = 1u << 0;
// PackageEntry.flags bit 1 set: the member's stored bytes are a packed stream.
constexpr std::uint32_t kMemberCompressed = 1u << 1;
// PackageEntry.flags bit 0: set by the packer on members stored as they are; never examined.
constexpr std::uint32_t kMemberStored = 1u << 0;

struct PackageHeader {
  char magic[4];  // "QW2\0"; not examined by the reader
  std::uint32_t flags;
  std::uint32_t indexOffset;
  std::uint32_t entryCount;
};

struct PackageEntry {
  char name[kMemberNameCapacity];  // NUL-terminated, zero-filled; compared without regard to case
  std::uint32_t flags;
  std::uint64_t lastWriteTime;  // FILETIME: 100 ns ticks since 1601-01-01 UTC
  std::uint32_t memberSize;     // decoded size
  std::uint32_t storedSize;     // bytes in the data area
};

static_assert(sizeof(PackageHeader) == kPackageHeaderSize, "header layout");
static_assert(offsetof(PackageEntry, flags) == 260, "entry layout");
static_assert(offsetof(PackageEntry, lastWriteTime) == 264, "entry layout");
static_assert(offsetof(PackageEntry, memberSize) == 272, "entry layout");
static_assert(offsetof(PackageEntry, storedSize) == 276, "entry layout");
static_assert(sizeof(PackageEntry) == kPackageEntrySize, "entry layout");

// The loaded index: one block of 16 + entryCount * 280 bytes, the header copy followed by the
// decoded entries.
struct PackageIndex {
  PackageHeader header;
  PackageEntry* entries() { return reinterpret_cast<PackageEntry*>(this + 1); }
  const PackageEntry* entries() const { return reinterpret_cast<const PackageEntry*>(this + 1); }
};
static_assert(sizeof(PackageIndex) == kPackageHeaderSize, "index block layout");

// A member's slot: storedSize brought up to the next multiple of 16, in 64 bits so that no sum
// of slots can wrap.
constexpr std::uint64_t SlotSize(std::uint32_t storedSize) {
  return (std::uint64_t{storedSize} + (kSlotAlignment - 1)) & ~std::uint64_t{kSlotAlignment - 1};
}
