// Opens an arbitrary package the way the updater does, then finds members by fixed names and by
// the names the index holds, and reads or decodes each one found.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "package/package_view.h"

namespace {

const char* const kFixedNames[] = {"UPDATE.INI", "update.ini", "AGREE.TXT", "\x83\x5C.DAT", ""};
constexpr std::uint32_t kIndexNamesTried = 4;

void ReadMember(const std::uint8_t* package, std::size_t size, const PackageEntry* entries,
                std::uint32_t count, const char* name) {
  MemberLocation location;
  if (!FindMemberEntry(entries, count, name, &location)) return;
  if (!MemberFitsPackage(location, size)) return;
  const std::uint8_t* stored = package + location.position;
  const PackageEntry& entry = *location.entry;
  if ((entry.flags & kMemberCompressed) == 0) {
    // Touch the whole member so that a wrong bound reads outside the input.
    volatile std::uint8_t sum = 0;
    for (std::uint32_t i = 0; i < entry.memberSize; ++i) sum = sum + stored[i];
    return;
  }
  std::vector<std::uint8_t> decoded(entry.memberSize);
  DecodeMember(entry, stored, decoded.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PackageHeader header;
  if (!ReadPackageHeader(data, size, &header)) return 0;
  IndexPlacement placement;
  if (!CheckIndexPlacement(header, size, &placement)) return 0;
  std::vector<PackageEntry> entries(header.entryCount);
  if (!LoadIndexEntries(placement, data + placement.streamOffset,
                        reinterpret_cast<std::uint8_t*>(entries.data()))) {
    return 0;
  }
  if (!EntryNamesTerminated(entries.data(), header.entryCount)) return 0;
  for (const char* name : kFixedNames) {
    ReadMember(data, size, entries.data(), header.entryCount, name);
  }
  for (std::uint32_t i = 0; i < header.entryCount && i < kIndexNamesTried; ++i) {
    char name[kMemberNameCapacity];
    std::memcpy(name, entries[i].name, sizeof name);
    ReadMember(data, size, entries.data(), header.entryCount, name);
  }
  return 0;
}
