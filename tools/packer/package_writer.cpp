#include "tools/packer/package_writer.h"

#include <cstring>

#include "package/package_format.h"
#include "package/package_view.h"
#include "tools/packer/packed_encoder.h"

namespace {

constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutLe64(std::uint8_t* at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t AlignToSlot(std::uint64_t offset) {
  return (offset + (kSlotAlignment - 1)) & ~std::uint64_t{kSlotAlignment - 1};
}

bool CheckNames(const std::vector<PackageMemberInput>& members, std::string* error) {
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::string& name = members[i].name;
    if (name.size() >= kMemberNameCapacity) {
      *error = "member name of " + std::to_string(name.size()) +
               " bytes (at most 259): " + name.substr(0, 40) + "...";
      return false;
    }
    if (name.find('\0') != std::string::npos) {
      *error = "member name with a NUL byte inside";
      return false;
    }
  }
  // Names go through the comparison the updater uses, from a zero-filled name field.
  std::vector<char> fields(members.size() * kMemberNameCapacity, '\0');
  for (std::size_t i = 0; i < members.size(); ++i) {
    std::memcpy(&fields[i * kMemberNameCapacity], members[i].name.data(), members[i].name.size());
  }
  for (std::size_t i = 0; i < members.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (MemberNameEquals(&fields[j * kMemberNameCapacity], members[i].name.c_str())) {
        *error = "two members of one name: " + members[j].name + " and " + members[i].name;
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool BuildPackage(const std::vector<PackageMemberInput>& members, bool compressIndex,
                  std::vector<std::uint8_t>* package, std::string* error,
                  const EncodeProgress& progress) {
  if (!CheckNames(members, error)) return false;
  if (members.size() > (kMax32 - kPackageHeaderSize) / kPackageEntrySize) {
    *error = "too many members for a 32-bit index";
    return false;
  }

  std::vector<std::uint8_t> out(kPackageHeaderSize, 0);
  std::vector<std::uint8_t> index(members.size() * kPackageEntrySize, 0);
  std::size_t taken = 0;  // member bytes of the members before this one
  for (std::size_t i = 0; i < members.size(); ++i) {
    const PackageMemberInput& member = members[i];
    if (member.bytes.size() > kMax32) {
      *error = "member larger than 4 GiB: " + member.name;
      return false;
    }
    std::vector<std::uint8_t> packed;
    if (member.compress) {
      EncodeProgress packing;
      if (progress) packing = [&](std::size_t done) { progress(taken + done); };
      packed = EncodePacked(member.bytes.data(), member.bytes.size(), packing);
    }
    taken += member.bytes.size();
    if (progress) progress(taken);
    const std::vector<std::uint8_t>& stored = member.compress ? packed : member.bytes;
    if (stored.size() > kMax32 ||
        out.size() + SlotSize(static_cast<std::uint32_t>(stored.size())) > kMax32) {
      *error = "package larger than 4 GiB at member " + member.name;
      return false;
    }
    out.insert(out.end(), stored.begin(), stored.end());
    out.resize(AlignToSlot(out.size()), 0);

    std::uint8_t* entry = &index[i * kPackageEntrySize];
    std::memcpy(entry, member.name.data(), member.name.size());
    PutLe32(entry + 260, member.compress ? kMemberCompressed : kMemberStored);
    PutLe64(entry + 264, member.lastWriteTime);
    PutLe32(entry + 272, static_cast<std::uint32_t>(member.bytes.size()));
    PutLe32(entry + 276, static_cast<std::uint32_t>(stored.size()));
  }

  const std::uint64_t indexOffset = out.size();  // a multiple of 16: every slot is
  std::vector<std::uint8_t> storedIndex =
      compressIndex ? EncodePacked(index.data(), index.size()) : std::move(index);
  if (indexOffset + storedIndex.size() > kMax32) {
    *error = "package larger than 4 GiB with its index";
    return false;
  }
  out.insert(out.end(), storedIndex.begin(), storedIndex.end());

  std::memcpy(out.data(), "QW2", 4);
  PutLe32(out.data() + 4, compressIndex ? kIndexCompressed : 0);
  PutLe32(out.data() + 8, static_cast<std::uint32_t>(indexOffset));
  PutLe32(out.data() + 12, static_cast<std::uint32_t>(members.size()));
  *package = std::move(out);
  return true;
}
