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
    case PeParseStatus::ok:
      return StubStatus::ok;
    case PeParseStatus::notPe:
      return StubStatus::notPe;
    case PeParseStatus::notPe32:
      return StubStatus::notPe32;
    case PeParseStatus::malformed:
      return StubStatus::malformedImage;
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
    if (s.sizeOfRawData != 0)
      end = std::max<std::uint64_t>(end, std::uint64_t{s.pointerToRawData} + s.sizeOfRawData);
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
void MoveTrailingOffsets(Bytes& image, const PeImage& pe, std::uint64_t oldEnd,
                         std::int64_t shift) {
  std::uint32_t symbols = 0;
  Read32(image, pe.coffHeaderOffset + 8, &symbols);
  if (symbols != 0 && symbols >= oldEnd) {
    Write32(image, pe.coffHeaderOffset + 8, static_cast<std::uint32_t>(symbols + shift));
  }
  std::uint32_t debugRva = 0, debugSize = 0, debugAt = 0;
  if (ReadDirectory(image, pe, kDebugDirectory, &debugRva, &debugSize) && debugRva != 0 &&
      RvaToFileOffset(pe, debugRva, debugSize, &debugAt)) {
    for (std::uint32_t at = debugAt; at + kDebugEntrySize <= debugAt + debugSize;
         at += kDebugEntrySize) {
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

// Where the new resource section goes.
struct Placement {
  bool inPlace;              // over the old section, which is the last one
  std::uint32_t sectionRva;  // its address
  std::uint32_t rawPointer;  // its file offset
  std::uint32_t headerAt;    // offset of its section header
  std::uint64_t oldRawEnd;   // end of the last section's bytes in the stub
};

// In place only when the whole last section is the resource tree: nothing lies behind it in the
// address space or the file, and nothing else shares its bytes. Otherwise behind the last
// section. False when the address would not fit 32 bits.
bool ChoosePlacement(const LoadedStub& loaded, Placement* place) {
  const PeImage& pe = loaded.pe;
  const PeSection& old = *loaded.resourceSection;  // holds raw data: SectionOfRva found it there
  place->oldRawEnd = RawEnd(pe);
  place->inPlace = LastByAddress(pe) == &old && loaded.resourceRva == old.virtualAddress &&
                   std::uint64_t{old.pointerToRawData} + old.sizeOfRawData == place->oldRawEnd;
  if (place->inPlace) {
    place->sectionRva = old.virtualAddress;
    place->rawPointer = old.pointerToRawData;
    place->headerAt = old.headerOffset;
    return true;
  }
  const std::uint64_t rva = AlignUp(VirtualEnd(*LastByAddress(pe)), pe.sectionAlignment);
  const std::uint64_t pointer = AlignUp(place->oldRawEnd, pe.fileAlignment);
  if (rva > 0xFFFFFFFFu || pointer > 0xFFFFFFFFu) return false;
  place->sectionRva = static_cast<std::uint32_t>(rva);
  place->rawPointer = static_cast<std::uint32_t>(pointer);
  place->headerAt =
      pe.sectionTableOffset + static_cast<std::uint32_t>(pe.sections.size()) * kSectionHeaderSize;
  return true;
}

}  // namespace

const char* DescribeStubStatus(StubStatus status) {
  switch (status) {
    case StubStatus::ok:
      return "ok";
    case StubStatus::notPe:
      return "not a Windows executable (no MZ/PE headers)";
    case StubStatus::notPe32:
      return "not a 32-bit Windows executable";
    case StubStatus::malformedImage:
      return "the executable's headers are damaged";
    case StubStatus::noResourceSection:
      return "the executable has no resource section";
    case StubStatus::malformedResources:
      return "the executable's resources are damaged";
    case StubStatus::notUpdater:
      return "not an updater: the executable has no UPDATE/102 resource";
    case StubStatus::noRoomForSection:
      return "the executable's headers have no room for a new resource section";
    case StubStatus::tooLarge:
      return "the result would be larger than an executable can be";
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

  Placement place;
  if (!ChoosePlacement(loaded, &place)) return StubStatus::tooLarge;
  Bytes section;
  if (!EncodeResourceTree(loaded.root, place.sectionRva, &section)) return StubStatus::tooLarge;
  const std::uint64_t rawSize = AlignUp(section.size(), pe.fileAlignment);
  const std::uint64_t newRawEnd = std::uint64_t{place.rawPointer} + rawSize;
  const std::uint64_t trailing = stub.size() - place.oldRawEnd;
  const std::uint64_t imageSize = AlignUp(place.sectionRva + section.size(), pe.sectionAlignment);
  if (newRawEnd + trailing > 0xFFFFFFFFu || imageSize > 0xFFFFFFFFu) return StubStatus::tooLarge;
  if (!place.inPlace &&
      (place.headerAt + kSectionHeaderSize > FirstRawData(pe) || pe.sections.size() >= 0xFFFF)) {
    return StubStatus::noRoomForSection;
  }

  // Everything before the new section's bytes, the section padded to the file alignment, then
  // whatever followed the old last section's bytes.
  const std::uint64_t kept = std::min<std::uint64_t>(place.rawPointer, place.oldRawEnd);
  Bytes image(stub.begin(), stub.begin() + static_cast<std::ptrdiff_t>(kept));
  image.resize(place.rawPointer, 0);
  image.insert(image.end(), section.begin(), section.end());
  image.resize(static_cast<std::size_t>(newRawEnd), 0);
  image.insert(image.end(), stub.begin() + static_cast<std::ptrdiff_t>(place.oldRawEnd),
               stub.end());

  if (!place.inPlace) {
    std::memset(&image[place.headerAt], 0, kSectionHeaderSize);
    std::memcpy(&image[place.headerAt], ".rsrc", 5);
    Write32(image, place.headerAt + 36, kNewSectionCharacteristics);
    Write16(image, pe.coffHeaderOffset + 2, static_cast<std::uint16_t>(pe.sections.size() + 1));
  }
  Write32(image, place.headerAt + 8, static_cast<std::uint32_t>(section.size()));
  Write32(image, place.headerAt + 12, place.sectionRva);
  Write32(image, place.headerAt + 16, static_cast<std::uint32_t>(rawSize));
  Write32(image, place.headerAt + 20, place.rawPointer);

  const std::uint32_t opt = pe.optionalHeaderOffset;
  std::uint32_t initialized = 0;
  Read32(image, opt + kSizeOfInitializedData, &initialized);
  const std::int64_t removed = place.inPlace ? loaded.resourceSection->sizeOfRawData : 0;
  const std::int64_t newInitialized = std::int64_t{initialized} + std::int64_t(rawSize) - removed;
  Write32(image, opt + kSizeOfInitializedData,
          static_cast<std::uint32_t>(std::max<std::int64_t>(0, newInitialized)));
  Write32(image, opt + kSizeOfImage, static_cast<std::uint32_t>(imageSize));
  Write32(image, DirectoryFieldOffset(pe, kResourceDirectory), place.sectionRva);
  Write32(image, DirectoryFieldOffset(pe, kResourceDirectory) + 4,
          static_cast<std::uint32_t>(section.size()));
  MoveTrailingOffsets(image, pe, place.oldRawEnd,
                      static_cast<std::int64_t>(newRawEnd) - std::int64_t(place.oldRawEnd));
  Write32(image, opt + kCheckSum, ComputePeChecksum(image, opt + kCheckSum));
  *out = std::move(image);
  return StubStatus::ok;
}
