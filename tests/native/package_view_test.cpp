#include "package/package_view.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/packer/package_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// How far a reader gets through a package: every stage the updater passes, in its order.
enum class Outcome {
  noHeader,
  indexOutside,
  indexUnreadable,
  nameUnterminated,
  memberMissing,
  memberOutside,
  memberUnreadable,
  readable,
};

const char* Name(Outcome outcome) {
  static const char* const names[] = {"noHeader",       "indexOutside",  "indexUnreadable",
                                      "nameUnterminated", "memberMissing", "memberOutside",
                                      "memberUnreadable", "readable"};
  return names[static_cast<int>(outcome)];
}

// Opens the package from a heap block of exactly its size (so that a read past it is caught),
// then finds and reads every name in order.
Outcome Inspect(const Bytes& package, const std::vector<std::string>& names) {
  std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[package.size() + 1]);
  if (!package.empty()) std::memcpy(exact.get(), package.data(), package.size());
  const std::uint8_t* bytes = exact.get();

  PackageHeader header;
  if (!ReadPackageHeader(bytes, package.size(), &header)) return Outcome::noHeader;
  IndexPlacement placement;
  if (!CheckIndexPlacement(header, package.size(), &placement)) return Outcome::indexOutside;
  std::unique_ptr<PackageEntry[]> entries(new PackageEntry[header.entryCount + 1]);
  if (!LoadIndexEntries(placement, bytes + placement.streamOffset,
                        reinterpret_cast<std::uint8_t*>(entries.get()))) {
    return Outcome::indexUnreadable;
  }
  if (!EntryNamesTerminated(entries.get(), header.entryCount)) return Outcome::nameUnterminated;
  for (const std::string& name : names) {
    MemberLocation location;
    if (!FindMemberEntry(entries.get(), header.entryCount, name.c_str(), &location)) {
      return Outcome::memberMissing;
    }
    if (!MemberFitsPackage(location, package.size())) return Outcome::memberOutside;
    if (location.entry->flags & kMemberCompressed) {
      std::unique_ptr<std::uint8_t[]> decoded(new std::uint8_t[location.entry->memberSize + 1]);
      if (!DecodeMember(*location.entry, bytes + location.position, decoded.get())) {
        return Outcome::memberUnreadable;
      }
    }
  }
  return Outcome::readable;
}

Bytes Text(std::size_t size, char seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + (i % 13));
  return bytes;
}

// A: 480 stored bytes; B: 300 bytes packed; C: 217 stored bytes.
Bytes MakePackage(bool compressIndex) {
  const std::vector<PackageMemberInput> members = {
      {"A.DAT", Text(480, 'a'), 1, false},
      {"B.TXT", Text(300, 'b'), 2, true},
      {"C.DAT", Text(217, 'c'), 3, false},
  };
  Bytes package;
  std::string error;
  EXPECT_TRUE(BuildPackage(members, compressIndex, &package, &error)) << error;
  return package;
}

std::uint32_t Get32(const Bytes& bytes, std::size_t at) {
  std::uint32_t value;
  std::memcpy(&value, &bytes[at], 4);
  return value;
}

void Put32(Bytes* bytes, std::size_t at, std::uint32_t value) {
  std::memcpy(&(*bytes)[at], &value, 4);
}

// Field offsets inside entry i of a package with a plain index.
std::size_t EntryField(const Bytes& package, std::size_t i, std::size_t field) {
  return Get32(package, 8) + i * kPackageEntrySize + field;
}

constexpr std::size_t kNameField = 0, kMemberSizeField = 272, kStoredSizeField = 276;

const std::vector<std::string> kAllNames = {"a.dat", "b.txt", "C.Dat"};

struct BadCase {
  const char* what;
  bool compressIndex;
  std::function<void(Bytes*)> damage;
  Outcome expected;
};

TEST(PackageView, ReadsSoundPackagesWithEitherIndex) {
  for (bool compressIndex : {false, true}) {
    const Bytes package = MakePackage(compressIndex);
    EXPECT_STREQ(Name(Outcome::readable), Name(Inspect(package, kAllNames)))
        << "compressIndex " << compressIndex;
  }
}

TEST(PackageView, RefusesBadPackagesCleanly) {
  const Bytes plain = MakePackage(false);
  const std::uint32_t plainIndex = Get32(plain, 8);
  const Bytes packed = MakePackage(true);
  const std::uint32_t packedIndex = Get32(packed, 8);
  auto truncate = [](std::size_t size) { return [size](Bytes* p) { p->resize(size); }; };

  const BadCase cases[] = {
      {"empty", false, truncate(0), Outcome::noHeader},
      {"half a header", false, truncate(8), Outcome::noHeader},
      {"header less one byte", false, truncate(15), Outcome::noHeader},
      {"header only", false, truncate(16), Outcome::indexOutside},
      {"cut inside member A", false, truncate(200), Outcome::indexOutside},
      {"cut at the index", false, truncate(plainIndex), Outcome::indexOutside},
      {"cut after one entry", false, truncate(plainIndex + kPackageEntrySize),
       Outcome::indexOutside},
      {"index less one byte", false, truncate(plain.size() - 1), Outcome::indexOutside},
      {"packed index cut to its first word: too short for 3 entries", true,
       truncate(packedIndex + 4), Outcome::indexOutside},
      {"packed index cut after 12 bytes", true, truncate(packedIndex + 12),
       Outcome::indexUnreadable},
      {"packed index less one byte", true, truncate(packed.size() - 1), Outcome::indexUnreadable},
      {"packed index cut away", true, truncate(packedIndex), Outcome::indexOutside},
      {"one entry more than there are", false, [](Bytes* p) { Put32(p, 12, 4); },
       Outcome::indexOutside},
      {"packed: one entry more than it decodes to", true, [](Bytes* p) { Put32(p, 12, 4); },
       Outcome::indexUnreadable},
      {"packed: one entry fewer than it decodes to", true, [](Bytes* p) { Put32(p, 12, 2); },
       Outcome::indexUnreadable},
      {"packed index of zeros", true,
       [packedIndex](Bytes* p) { std::fill(p->begin() + packedIndex, p->end(), 0); },
       Outcome::indexUnreadable},
      {"entry count whose index size wraps 32 bits", false,
       [](Bytes* p) { Put32(p, 12, 0x0EA0EA0F); }, Outcome::indexOutside},
      {"largest entry count", true, [](Bytes* p) { Put32(p, 12, 0xFFFFFFFF); },
       Outcome::indexOutside},
      {"index offset past the end", false, [](Bytes* p) { Put32(p, 8, 0xFFFFFFF0); },
       Outcome::indexOutside},
      {"packed index offset past the end", true,
       [](Bytes* p) { Put32(p, 8, static_cast<std::uint32_t>(p->size() + 1)); },
       Outcome::indexOutside},
      {"name without NUL", false,
       [](Bytes* p) { std::memset(&(*p)[EntryField(*p, 1, kNameField)], 'N', 260); },
       Outcome::nameUnterminated},
      {"stored size of C past the end", false,
       [](Bytes* p) {
         Put32(p, EntryField(*p, 2, kStoredSizeField), 0xFFFFFFFF);
         Put32(p, EntryField(*p, 2, kMemberSizeField), 0xFFFFFFFF);
       },
       Outcome::memberOutside},
      {"A's slot pushes C past the end", false,
       [](Bytes* p) {
         Put32(p, EntryField(*p, 0, kStoredSizeField), 0xFFFFFFF0);
         Put32(p, EntryField(*p, 0, kMemberSizeField), 16);
       },
       Outcome::memberOutside},
      {"stored memberSize above storedSize", false,
       [](Bytes* p) { Put32(p, EntryField(*p, 2, kMemberSizeField), 218); },
       Outcome::memberOutside},
      {"packed member decodes short", false,
       [](Bytes* p) { Put32(p, EntryField(*p, 1, kMemberSizeField), 301); },
       Outcome::memberUnreadable},
      {"packed member decodes long", false,
       [](Bytes* p) { Put32(p, EntryField(*p, 1, kMemberSizeField), 299); },
       Outcome::memberUnreadable},
      {"packed member claims more than it could expand to", false,
       [](Bytes* p) { Put32(p, EntryField(*p, 1, kMemberSizeField), 0xFFFFFFFF); },
       Outcome::memberOutside},
      {"packed member's stream cut short", false,
       [](Bytes* p) {
         const std::size_t at = EntryField(*p, 1, kStoredSizeField);
         Put32(p, at, Get32(*p, at) - 1);
       },
       Outcome::memberUnreadable},
      {"packed member of zeros", false,
       [](Bytes* p) { std::memset(&(*p)[496], 0, Get32(*p, EntryField(*p, 1, kStoredSizeField))); },
       Outcome::memberUnreadable},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    Bytes package = cases[i].compressIndex ? packed : plain;
    cases[i].damage(&package);
    EXPECT_STREQ(Name(cases[i].expected), Name(Inspect(package, kAllNames)))
        << "case " << i << ": " << cases[i].what;
  }
}

// Name fields as the index holds them: zero-filled, 260 bytes.
PackageEntry Entry(const std::string& name, std::uint32_t storedSize) {
  PackageEntry entry = {};
  std::memcpy(entry.name, name.data(), std::min<std::size_t>(name.size(), kMemberNameCapacity));
  entry.storedSize = storedSize;
  entry.memberSize = storedSize;
  return entry;
}

TEST(PackageView, FindsTheFirstMatchWithoutRegardToLetterCase) {
  // "\x83\x41" and "\x83\x61" are two different katakana; "\x83\x5C" ends in the byte of '\'.
  const std::unique_ptr<PackageEntry[]> entries(new PackageEntry[7]{
      Entry("UPDATE.INI", 480), Entry("update.ini", 1), Entry("Readme.txt", 217),
      Entry("\x83\x41.TXT", 5), Entry(std::string(260, 'L'), 0), Entry("\x83\x5C", 16),
      Entry("E\x83", 3)});
  struct Case {
    const char* name;
    int index;  // -1: no match
    std::uint64_t position;
  };
  const Case cases[] = {
      {"update.ini", 0, 16},
      {"UPDATE.INI", 0, 16},
      {"uPdAtE.iNi", 0, 16},
      {"README.TXT", 2, 16 + 480 + 16},
      {"\x83\x41.txt", 3, 16 + 480 + 16 + 224},
      {"\x83\x61.TXT", -1, 0},
      {"\x83\x5C", 5, 16 + 480 + 16 + 224 + 16},
      {"\x83\x7C", -1, 0},
      {"e\x83", 6, 16 + 480 + 16 + 224 + 16 + 16},
      {"E", -1, 0},
      {"UPDATE.IN", -1, 0},
      {"UPDATE.INI.", -1, 0},
      {"", -1, 0},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    MemberLocation location = {};
    const bool found = FindMemberEntry(entries.get(), 7, cases[i].name, &location);
    EXPECT_EQ(cases[i].index >= 0, found) << "case " << i;
    if (!found || cases[i].index < 0) continue;
    EXPECT_EQ(&entries[cases[i].index], location.entry) << "case " << i;
    EXPECT_EQ(cases[i].position, location.position) << "case " << i;
  }
  // A field without its NUL matches nothing, not even its own 260 bytes, and is read no further.
  const std::string unterminated(260, 'L');
  EXPECT_FALSE(MemberNameEquals(entries[4].name, unterminated.c_str()));
  EXPECT_FALSE(FindMemberEntry(entries.get(), 0, "update.ini", nullptr));
}

}  // namespace
