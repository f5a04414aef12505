#include "tools/pe/pe_image.h"

#include <cstring>

namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint32_t kCoffHeaderSize = 20;
constexpr std::uint32_t kFirstDirectoryOffset = 96;  // in a PE32 optional header

bool IsPowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

PeParseStatus ParsePeImage(const Bytes& image, PeImage* parsed) {
  std::uint16_t dosMagic = 0;
  std::uint32_t peOffset = 0;
  if (!Read16(image, 0, &dosMagic) || dosMagic != kDosMagic) return PeParseStatus::notPe;
  if (!Read32(image, 0x3C, &peOffset)) return PeParseStatus::notPe;
  std::uint32_t signature = 0;
  if (!Read32(image, peOffset, &signature) || signature != kPeSignature) {
    return PeParseStatus::notPe;
  }
  PeImage pe{};
  pe.coffHeaderOffset = peOffset + 4;
  std::uint16_t sectionCount = 0;
  std::uint16_t optionalSize = 0;
  if (!Read16(image, pe.coffHeaderOffset + 2, &sectionCount) ||
      !Read16(image, pe.coffHeaderOffset + 16, &optionalSize)) {
    return PeParseStatus::notPe;
  }
  pe.optionalHeaderOffset = pe.coffHeaderOffset + kCoffHeaderSize;
  std::uint16_t magic = 0;
  if (!Read16(image, pe.optionalHeaderOffset, &magic)) return PeParseStatus::notPe;
  if (magic != kPe32Magic) return PeParseStatus::notPe32;

  const std::uint32_t opt = pe.optionalHeaderOffset;
  if (optionalSize < kFirstDirectoryOffset || !SpanFits(opt, optionalSize, image.size()) ||
      !Read32(image, opt + 32, &pe.sectionAlignment) ||
      !Read32(image, opt + 36, &pe.fileAlignment) || !Read32(image, opt + 60, &pe.sizeOfHeaders) ||
      !Read32(image, opt + 92, &pe.directoryCount)) {
    return PeParseStatus::malformed;
  }
  if (!IsPowerOfTwo(pe.sectionAlignment) || !IsPowerOfTwo(pe.fileAlignment) ||
      pe.fileAlignment > pe.sectionAlignment) {
    return PeParseStatus::malformed;
  }
  // Directory slots beyond the optional header's declared size do not exist.
  const std::uint32_t slotsInHeader = (optionalSize - kFirstDirectoryOffset) / 8;
  if (pe.directoryCount > slotsInHeader) pe.directoryCount = slotsInHeader;

  pe.sectionTableOffset = opt + optionalSize;
  const std::uint64_t tableEnd =
      std::uint64_t{pe.sectionTableOffset} + std::uint64_t{sectionCount} * kSectionHeaderSize;
  if (tableEnd > image.size() || tableEnd > pe.sizeOfHeaders) return PeParseStatus::malformed;
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    PeSection section{};
    section.headerOffset = pe.sectionTableOffset + i * kSectionHeaderSize;
    std::memcpy(section.name, &image[section.headerOffset], 8);
    Read32(image, section.headerOffset + 8, &section.virtualSize);
    Read32(image, section.headerOffset + 12, &section.virtualAddress);
    Read32(image, section.headerOffset + 16, &section.sizeOfRawData);
    Read32(image, section.headerOffset + 20, &section.pointerToRawData);
    Read32(image, section.headerOffset + 36, &section.characteristics);
    if (section.sizeOfRawData != 0 &&
        !SpanFits(section.pointerToRawData, section.sizeOfRawData, image.size())) {
      return PeParseStatus::malformed;
    }
    pe.sections.push_back(section);
  }
  *parsed = pe;
  return PeParseStatus::ok;
}

std::uint32_t DirectoryFieldOffset(const PeImage& pe, std::uint32_t index) {
  return pe.optionalHeaderOffset + kFirstDirectoryOffset + index * 8;
}

bool ReadDirectory(const Bytes& image, const PeImage& pe, std::uint32_t index, std::uint32_t* rva,
                   std::uint32_t* size) {
  if (index >= pe.directoryCount) return false;
  return Read32(image, DirectoryFieldOffset(pe, index), rva) &&
         Read32(image, DirectoryFieldOffset(pe, index) + 4, size);
}

const PeSection* SectionOfRva(const PeImage& pe, std::uint32_t rva) {
  for (const PeSection& section : pe.sections) {
    if (rva >= section.virtualAddress && rva - section.virtualAddress < section.sizeOfRawData) {
      return &section;
    }
  }
  return nullptr;
}

bool RvaToFileOffset(const PeImage& pe, std::uint32_t rva, std::uint32_t length,
                     std::uint32_t* offset) {
  const PeSection* section = SectionOfRva(pe, rva);
  if (section == nullptr) return false;
  const std::uint32_t within = rva - section->virtualAddress;
  if (!SpanFits(within, length, section->sizeOfRawData)) return false;
  *offset = section->pointerToRawData + within;
  return true;
}

std::uint32_t ComputePeChecksum(const Bytes& image, std::uint32_t checksumOffset) {
  std::uint64_t sum = 0;
  for (std::size_t at = 0; at < image.size(); at += 2) {
    if (at >= checksumOffset && at < std::size_t{checksumOffset} + 4) continue;
    std::uint32_t word = image[at];
    if (at + 1 < image.size()) word |= std::uint32_t{image[at + 1]} << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + image.size());
}
