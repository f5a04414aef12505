#include "tools/pe/updater_stub.h"

#include <algorithm>
#include <cstring>

#include "tools/pe/pe_image.h"
#include "tools/pe/resource_tree.h"

namespace {

constexpr char kPackageType[] = "UPDATE";
constexpr std::uint16_t kPackageId = 102;
constexpr std::uint32_t kNewSectionCharacteristics = 0x40000040;  // initialized data, readable
constexpr std::uint32_t kDebugEntrySize = 28;
constexpr std::uint32_t kDebugPointerToRawData = 24;  // field offset within a debug entry

// Optional header fields (PE32).
constexpr std::uint32_t kSizeOfInitializedData = 8;
constexpr std::uint32_t kSizeOfImage = 56;
constexpr std::uint32_t kCheckSum = 64;

StubStatus FromParse(PeParseStatus status) {
  switch (status) {
    case PeParseStatus::ok: return StubStatus::ok;
    case PeParseStatus::notPe: return StubStatus::notPe;
    case PeParseStatus::notPe32: return StubStatus::notPe32;
    case PeParseStatus::malformed: return StubStatus::malformedImage;
  }
  return StubStatus::malformedImage;
}

struct LoadedStub {
  PeImage pe;
  std::uint32_t resourceRva = 0;
  const PeSection* resourceSection = nullptr;
  ResourceNode root;
  ResourceNode* package = nullptr;  // UPDATE/102: a directory of languages
};

StubStatus LoadStub(const Bytes& image, LoadedStub* stub) {
  const StubStatus parsed = FromParse(ParsePeImage(image, &stub->pe));
  if (parsed != StubStatus::ok) return parsed;
  std::uint32_t size = 0;
  if (!ReadDirectory(image, stub->pe, kResourceDirectory, &stub->resourceRva, &size) ||
      stub->resourceRva == 0) {
    return StubStatus::noResourceSection;
  }
  stub->resourceSection = SectionOfRva(stub->pe, stub->resourceRva);
  if (stub->resourceSection == nullptr) return StubStatus::noResourceSection;
  if (!DecodeResourceTree(image, stub->pe, stub->resourceRva, &stub->root)) {
    return StubStatus::malformedResources;
  }
  stub->package = FindResourceEntry(stub->root, kPackageType, kPackageId);
  if (stub->package == nullptr) return StubStatus::notUpdater;
  if (stub->package->isDirectory && stub->package->children.empty()) return StubStatus::notUpdater;
  return StubStatus::ok;
}

void SetPackageData(ResourceNode* node, const std::uint8_t* package, std::size_t size) {
  if (!node->isDirectory) {
    node->data.assign(package, package + size);
    return;
  }
  for (ResourceNode& child : node->children) SetPackageData(&child, package, size);
}

const ResourceNode* FirstLeaf(const ResourceNode& node) {
  if (!node.isDirectory) return &node;
  for (const ResourceNode& child : node.children) {
    if (const ResourceNode* leaf = FirstLeaf(child)) return leaf;
  }
  return nullptr;
}

std::uint64_t RawEnd(const PeImage& pe) {
  std::uint64_t end = pe.sizeOfHeaders;
  for (const PeSection& s : pe.sections) {
    if (s.sizeOfRawData != 0) end = std::max<std::uint64_t>(end, std::uint64_t{s.pointerToRawData} + s.sizeOfRawData);
  }
  return end;
}

std::uint64_t VirtualEnd(const PeSection& s) {
  return std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.sizeOfRawData);
}

const PeSection* LastByAddress(const PeImage& pe) {
  const PeSection* last = nullptr;
  for (const PeSection& s : pe.sections) {
    if (last == nullptr || s.virtualAddress > last->virtualAddress) last = &s;
  }
  return last;
}

// The lowest file offset of any section's raw data: the end of the room for section headers.
std::uint64_t FirstRawData(const PeImage& pe) {
  std::uint64_t first = pe.sizeOfHeaders;
  for (const PeSection& s : pe.sections) {
    if (s.sizeOfRawData != 0) first = std::min<std::uint64_t>(first, s.pointerToRawData);
  }
  return first;
}

// Moves file offsets that pointed at or behind oldEnd (the trailing bytes) by the growth.
void MoveTrailingOffsets(Bytes& image, const PeImage& pe, std::uint64_t oldEnd, std::int64_t shift) {
  std::uint32_t symbols = 0;
  Read32(image, pe.coffHeaderOffset + 8, &symbols);
  if (symbols != 0 && symbols >= oldEnd) {
    Write32(image, pe.coffHeaderOffset + 8, static_cast<std::uint32_t>(symbols + shift));
  }
  std::uint32_t debugRva = 0, debugSize = 0, debugAt = 0;
  if (ReadDirectory(image, pe, kDebugDirectory, &debugRva, &debugSize) && debugRva != 0 &&
      RvaToFileOffset(pe, debugRva, debugSize, &debugAt)) {
    for (std::uint32_t at = debugAt; at + kDebugEntrySize <= debugAt + debugSize; at += kDebugEntrySize) {
      std::uint32_t pointer = 0;
      Read32(image, at + kDebugPointerToRawData, &pointer);
      if (pointer != 0 && pointer >= oldEnd) {
        Write32(image, at + kDebugPointerToRawData, static_cast<std::uint32_t>(pointer + shift));
      }
    }
  }
  // A certificate signs the old image only.
  if (kCertificateDirectory < pe.directoryCount) {
    Write32(image, DirectoryFieldOffset(pe, kCertificateDirectory), 0);
    Write32(image, DirectoryFieldOffset(pe, kCertificateDirectory) + 4, 0);
  }
}

}  // namespace

const char* DescribeStubStatus(StubStatus status) {
  switch (status) {
    case StubStatus::ok: return "ok";
    case StubStatus::notPe: return "not a Windows executable (no MZ/PE headers)";
    case StubStatus::notPe32: return "not a 32-bit Windows executable";
    case StubStatus::malformedImage: return "the executable's headers are damaged";
    case StubStatus::noResourceSection: return "the executable has no resource section";
    case StubStatus::malformedResources: return "the executable's resources are damaged";
    case StubStatus::notUpdater:
      return "not an updater: the executable has no UPDATE/102 resource";
    case StubStatus::noRoomForSection:
      return "the executable's headers have no room for a new resource section";
    case StubStatus::tooLarge: return "the result would be larger than an executable can be";
  }
  return "unknown error";
}

StubStatus ReadUpdaterPackage(const Bytes& image, Bytes* package) {
  LoadedStub stub;
  const StubStatus status = LoadStub(image, &stub);
  if (status != StubStatus::ok) return status;
  const ResourceNode* leaf = FirstLeaf(*stub.package);
  if (leaf == nullptr) return StubStatus::notUpdater;
  *package = leaf->data;
  return StubStatus::ok;
}

StubStatus ReplaceUpdaterPackage(const Bytes& stub, const std::uint8_t* package,
                                 std::size_t packageSize, Bytes* out) {
  LoadedStub loaded;
  const StubStatus status = LoadStub(stub, &loaded);
  if (status != StubStatus::ok) return status;
  SetPackageData(loaded.package, package, packageSize);
  const PeImage& pe = loaded.pe;
  const PeSection& oldSection = *loaded.resourceSection;

  // In place only when the whole last section is the resource tree: nothing lies behind it in
  // the address space, and nothing else shares its bytes.
  const PeSection* last = LastByAddress(pe);
  const std::uint64_t rawEnd = RawEnd(pe);
  const bool inPlace = last == &oldSection && loaded.resourceRva == oldSection.virtualAddress &&
                       (oldSection.sizeOfRawData == 0 ||
                        std::uint64_t{oldSection.pointerToRawData} + oldSection.sizeOfRawData == rawEnd);

  const std::uint64_t sectionRva =
      inPlace ? oldSection.virtualAddress : AlignUp(VirtualEnd(*last), pe.sectionAlignment);
  if (sectionRva > 0xFFFFFFFFu) return StubStatus::tooLarge;
  Bytes section;
  if (!EncodeResourceTree(loaded.root, static_cast<std::uint32_t>(sectionRva), &section)) {
    return StubStatus::tooLarge;
  }
  const std::uint64_t rawSize = AlignUp(section.size(), pe.fileAlignment);
  const std::uint64_t rawPointer =
      inPlace && oldSection.sizeOfRawData != 0 ? oldSection.pointerToRawData : AlignUp(rawEnd, pe.fileAlignment);
  const std::uint64_t newRawEnd = rawPointer + rawSize;
  const std::uint64_t trailing = stub.size() > rawEnd ? stub.size() - rawEnd : 0;
  const std::uint64_t imageSize = AlignUp(sectionRva + section.size(), pe.sectionAlignment);
  if (newRawEnd + trailing > 0xFFFFFFFFu || imageSize > 0xFFFFFFFFu) return StubStatus::tooLarge;

  std::uint32_t headerAt = oldSection.headerOffset;
  if (!inPlace) {
    headerAt = pe.sectionTableOffset + static_cast<std::uint32_t>(pe.sections.size()) * kSectionHeaderSize;
    if (headerAt + kSectionHeaderSize > FirstRawData(pe) || pe.sections.size() >= 0xFFFF) {
      return StubStatus::noRoomForSection;
    }
  }

  Bytes image(stub.begin(), stub.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(rawPointer, rawEnd)));
  image.resize(static_cast<std::size_t>(rawPointer), 0);
  image.insert(image.end(), section.begin(), section.end());
  image.resize(static_cast<std::size_t>(newRawEnd), 0);
  image.insert(image.end(), stub.begin() + static_cast<std::ptrdiff_t>(rawEnd), stub.end());

  // The section header: rewritten in place, or a new one behind the last.
  if (!inPlace) {
    std::memset(&image[headerAt], 0, kSectionHeaderSize);
    std::memcpy(&image[headerAt], ".rsrc", 5);
    Write32(image, headerAt + 36, kNewSectionCharacteristics);
    Write16(image, pe.coffHeaderOffset + 2, static_cast<std::uint16_t>(pe.sections.size() + 1));
  }
  Write32(image, headerAt + 8, static_cast<std::uint32_t>(section.size()));
  Write32(image, headerAt + 12, static_cast<std::uint32_t>(sectionRva));
  Write32(image, headerAt + 16, static_cast<std::uint32_t>(rawSize));
  Write32(image, headerAt + 20, static_cast<std::uint32_t>(rawPointer));

  const std::uint32_t opt = pe.optionalHeaderOffset;
  std::uint32_t initialized = 0;
  Read32(image, opt + kSizeOfInitializedData, &initialized);
  const std::uint64_t removed = inPlace ? oldSection.sizeOfRawData : 0;
  Write32(image, opt + kSizeOfInitializedData,
          static_cast<std::uint32_t>(std::max<std::int64_t>(0, std::int64_t{initialized} + std::int64_t(rawSize) - std::int64_t(removed))));
  Write32(image, opt + kSizeOfImage, static_cast<std::uint32_t>(imageSize));
  Write32(image, DirectoryFieldOffset(pe, kResourceDirectory), static_cast<std::uint32_t>(sectionRva));
  Write32(image, DirectoryFieldOffset(pe, kResourceDirectory) + 4, static_cast<std::uint32_t>(section.size()));
  MoveTrailingOffsets(image, pe, rawEnd, static_cast<std::int64_t>(newRawEnd) - static_cast<std::int64_t>(rawEnd));
  Write32(image, opt + kCheckSum, ComputePeChecksum(image, opt + kCheckSum));
  *out = std::move(image);
  return StubStatus::ok;
}
