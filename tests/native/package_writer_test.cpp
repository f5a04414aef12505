#include "tools/packer/package_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "package/packed_decoder.h"
#include "tools/packer/packed_encoder.h"

namespace {

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint32_t value;
  std::memcpy(&value, &bytes[at], 4);
  return value;
}

using Bytes = std::vector<std::uint8_t>;

// Text that packs well.
Bytes Text(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>("abcab cabca "[i % 12]);
  return bytes;
}

std::vector<std::uint8_t> Filled(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + 1);
  return bytes;
}

PackageEntry EntryAt(const std::vector<std::uint8_t>& package, std::size_t index) {
  PackageEntry entry;
  std::memcpy(&entry, &package[Le32(package, 8) + index * kPackageEntrySize], sizeof entry);
  return entry;
}

TEST(PackageWriter, LaysMembersOutInZeroFilledSlotsWithTheIndexAfterThem) {
  const std::vector<PackageMemberInput> members = {
      {"FIRST.DAT", Filled(480, 1), 0x01D0000000000001ull, false},
      {"SECOND.DAT", Filled(217, 2), 0x01D0000000000002ull, false},
      {"THIRD.DAT", Filled(5, 3), 0x01D0000000000003ull, false},
  };
  std::vector<std::uint8_t> package;
  std::string error;
  ASSERT_TRUE(BuildPackage(members, false, &package, &error)) << error;

  EXPECT_EQ(0, std::memcmp(package.data(), "QW2\0", 4));
  EXPECT_EQ(0u, Le32(package, 4));
  EXPECT_EQ(3u, Le32(package, 12));
  const std::size_t starts[] = {16, 496, 720};
  const std::size_t slotEnds[] = {496, 720, 736};
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::vector<std::uint8_t>& bytes = members[i].bytes;
    EXPECT_EQ(0, std::memcmp(&package[starts[i]], bytes.data(), bytes.size())) << "member " << i;
    for (std::size_t at = starts[i] + bytes.size(); at < slotEnds[i]; ++at) {
      EXPECT_EQ(0, package[at]) << "member " << i << " filling at " << at;
    }
    const PackageEntry entry = EntryAt(package, i);
    EXPECT_STREQ(members[i].name.c_str(), entry.name) << "member " << i;
    for (std::size_t at = members[i].name.size(); at < kMemberNameCapacity; ++at) {
      EXPECT_EQ('\0', entry.name[at]) << "member " << i << " name field at " << at;
    }
    EXPECT_EQ(kMemberStored, entry.flags) << "member " << i;
    EXPECT_EQ(members[i].lastWriteTime, entry.lastWriteTime) << "member " << i;
    EXPECT_EQ(bytes.size(), entry.memberSize) << "member " << i;
    EXPECT_EQ(bytes.size(), entry.storedSize) << "member " << i;
  }
  EXPECT_EQ(736u, Le32(package, 8));
  EXPECT_EQ(736u + 3 * kPackageEntrySize, package.size());
}

TEST(PackageWriter, PacksFlaggedMembersAndTheIndexAsStreamsToTheEnd) {
  const Bytes text = Text(1000);
  const std::vector<PackageMemberInput> members = {
      {"PLAIN.DAT", Filled(33, 4), 5, false},
      {"PACKED.TXT", text, 6, true},
  };
  std::vector<std::uint8_t> package;
  std::string error;
  ASSERT_TRUE(BuildPackage(members, true, &package, &error)) << error;
  EXPECT_EQ(kIndexCompressed, Le32(package, 4));

  const Bytes stream = EncodePacked(text.data(), text.size());
  ASSERT_LT(stream.size(), text.size());
  EXPECT_EQ(0, std::memcmp(&package[16 + 48], stream.data(), stream.size()));
  const std::uint32_t indexOffset = Le32(package, 8);
  EXPECT_EQ(0u, indexOffset % 16);
  EXPECT_EQ(16 + 48 + ((stream.size() + 15) / 16) * 16, indexOffset);

  std::vector<PackageEntry> entries(2);
  const DecodeResult decoded =
      DecodePacked(reinterpret_cast<std::uint8_t*>(entries.data()), 2 * kPackageEntrySize,
                   &package[indexOffset], package.size() - indexOffset);
  ASSERT_EQ(DecodeStatus::ok, decoded.status);
  EXPECT_EQ(2 * kPackageEntrySize, decoded.produced);
  EXPECT_EQ(package.size() - indexOffset, decoded.consumed) << "the stream runs to the end";
  EXPECT_EQ(kMemberStored, entries[0].flags);
  EXPECT_EQ(kMemberCompressed, entries[1].flags);
  EXPECT_EQ(1000u, entries[1].memberSize);
  EXPECT_EQ(stream.size(), entries[1].storedSize);
  EXPECT_EQ(6u, entries[1].lastWriteTime);
}

TEST(PackageWriter, RefusesWhatTheUpdaterCouldNotRead) {
  struct Case {
    std::vector<std::string> names;
    const char* errorPart;
  };
  const Case cases[] = {
      {{std::string(260, 'N')}, "260 bytes"},
      {{"A.DAT", "a.dat"}, "two members of one name"},
      {{"\x83\x41.TXT", "\x83\x41.txt"}, "two members of one name"},
      {{std::string("A\0B", 3)}, "NUL"},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    std::vector<PackageMemberInput> members;
    for (const std::string& name : cases[i].names) members.push_back({name, {1, 2, 3}, 0, false});
    std::vector<std::uint8_t> package = {9};
    std::string error;
    EXPECT_FALSE(BuildPackage(members, false, &package, &error)) << "case " << i;
    EXPECT_NE(std::string::npos, error.find(cases[i].errorPart)) << "case " << i << ": " << error;
    EXPECT_EQ(std::vector<std::uint8_t>{9}, package) << "case " << i;
  }
}

TEST(PackageWriter, AcceptsNamesThatDifferOnlyInATrailByteLetter) {
  // 0x83 0x41 and 0x83 0x61 are two katakana: a trail byte is never folded. 259 bytes still fit.
  const std::vector<PackageMemberInput> members = {
      {"\x83\x41", {1}, 0, false}, {"\x83\x61", {2}, 0, false}, {std::string(259, 'L'), {}, 0, false}};
  std::vector<std::uint8_t> package;
  std::string error;
  EXPECT_TRUE(BuildPackage(members, false, &package, &error)) << error;
}

}  // namespace
