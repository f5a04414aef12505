#include "package/package_view.h"

#include <cstring>

#include "app/cp932.h"
#include "package/packed_decoder.h"

namespace {

constexpr std::uint64_t kMaxIndexBlock = 0xFFFFFFFFu;  // 16 + entryCount * 280 fits 32 bits

unsigned char FoldAsciiLetter(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - ('a' - 'A')) : byte;
}

std::uint32_t ReadLe32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

}  // namespace

bool MemberNameEquals(const char* entryName, const char* name) {
  const auto* a = reinterpret_cast<const unsigned char*>(entryName);
  const auto* b = reinterpret_cast<const unsigned char*>(name);
  std::size_t at = 0;
  while (at < kMemberNameCapacity) {
    if (a[at] == '\0' || b[at] == '\0') return a[at] == b[at];
    if (IsCp932LeadByte(a[at])) {
      // Lead bytes are no letters: the pair compares exactly, trail byte included.
      if (a[at] != b[at]) return false;
      ++at;
      if (at == kMemberNameCapacity) return false;
      if (a[at] != b[at]) return false;
      if (a[at] == '\0') return true;
      ++at;
      continue;
    }
    if (FoldAsciiLetter(a[at]) != FoldAsciiLetter(b[at])) return false;
    ++at;
  }
  return false;  // the field ran out without a NUL
}

bool ReadPackageHeader(const std::uint8_t* package, std::size_t packageSize,
                       PackageHeader* header) {
  if (packageSize < kPackageHeaderSize) return false;
  std::memcpy(header->magic, package, sizeof header->magic);
  header->flags = ReadLe32(package + 4);
  header->indexOffset = ReadLe32(package + 8);
  header->entryCount = ReadLe32(package + 12);
  return true;
}

bool CheckIndexPlacement(const PackageHeader& header, std::size_t packageSize,
                         IndexPlacement* placement) {
  const std::uint64_t entryBytes = std::uint64_t{header.entryCount} * kPackageEntrySize;
  if (kPackageHeaderSize + entryBytes > kMaxIndexBlock) return false;
  if (header.indexOffset > packageSize) return false;
  const std::uint64_t available = packageSize - std::uint64_t{header.indexOffset};
  const bool compressed = (header.flags & kIndexCompressed) != 0;
  if (compressed) {
    if (entryBytes > available * kMaxPackedExpansion) return false;
  } else if (entryBytes > available) {
    return false;
  }
  placement->streamOffset = header.indexOffset;
  placement->streamSize = static_cast<std::size_t>(compressed ? available : entryBytes);
  placement->entryBytes = static_cast<std::size_t>(entryBytes);
  placement->compressed = compressed;
  return true;
}

bool LoadIndexEntries(const IndexPlacement& placement, const std::uint8_t* stream,
                      std::uint8_t* entries) {
  if (!placement.compressed) {
    if (placement.entryBytes != 0) std::memcpy(entries, stream, placement.entryBytes);
    return true;
  }
  const DecodeResult result =
      DecodePacked(entries, placement.entryBytes, stream, placement.streamSize);
  return result.status == DecodeStatus::ok && result.produced == placement.entryBytes;
}

bool EntryNamesTerminated(const PackageEntry* entries, std::uint32_t entryCount) {
  for (std::uint32_t i = 0; i < entryCount; ++i) {
    if (std::memchr(entries[i].name, '\0', kMemberNameCapacity) == nullptr) return false;
  }
  return true;
}

bool FindMemberEntry(const PackageEntry* entries, std::uint32_t entryCount, const char* name,
                     MemberLocation* location) {
  std::uint64_t position = kPackageHeaderSize;
  for (std::uint32_t i = 0; i < entryCount; ++i) {
    if (MemberNameEquals(entries[i].name, name)) {
      location->entry = &entries[i];
      location->position = position;
      return true;
    }
    position += SlotSize(entries[i].storedSize);  // at most 2^32 entries of < 2^32: no wrap
  }
  return false;
}

bool MemberFitsPackage(const MemberLocation& location, std::size_t packageSize) {
  const PackageEntry& entry = *location.entry;
  if (location.position + entry.storedSize > packageSize) return false;
  if (entry.flags & kMemberCompressed) {
    return entry.memberSize <= std::uint64_t{entry.storedSize} * kMaxPackedExpansion;
  }
  return entry.memberSize <= entry.storedSize;
}

bool DecodeMember(const PackageEntry& entry, const std::uint8_t* stored,
                  std::uint8_t* destination) {
  const DecodeResult result =
      DecodePacked(destination, entry.memberSize, stored, entry.storedSize);
  return result.status == DecodeStatus::ok && result.produced == entry.memberSize;
}
