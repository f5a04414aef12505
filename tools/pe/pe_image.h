#pragma once
// The headers of a PE32 image (a 32-bit Windows executable) as far as rewriting its resources
// needs them: the optional header's sizes, alignments and data directories, and the section
// table. Parsing only reads; every offset is checked against the image.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/pe/pe_bytes.h"

constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kResourceDirectory = 2;     // data directory index
constexpr std::uint32_t kCertificateDirectory = 4;  // a file offset, not an RVA
constexpr std::uint32_t kDebugDirectory = 6;

struct PeSection {
  char name[9];  // NUL-terminated copy of the 8-byte field
  std::uint32_t virtualSize;
  std::uint32_t virtualAddress;
  std::uint32_t sizeOfRawData;
  std::uint32_t pointerToRawData;
  std::uint32_t characteristics;
  std::uint32_t headerOffset;  // of this section's header in the image
};

struct PeImage {
  std::uint32_t coffHeaderOffset;  // the file header, right behind "PE\0\0"
  std::uint32_t optionalHeaderOffset;
  std::uint32_t sectionTableOffset;
  std::uint32_t sectionAlignment;
  std::uint32_t fileAlignment;
  std::uint32_t sizeOfHeaders;
  std::uint32_t directoryCount;  // NumberOfRvaAndSizes
  std::vector<PeSection> sections;
};

enum class PeParseStatus {
  ok,
  notPe,      // no "MZ" header, no "PE\0\0" signature, or headers outside the file
  notPe32,    // a PE image, but not a 32-bit (PE32) one
  malformed,  // alignments, header size or section table that no loader accepts
};

PeParseStatus ParsePeImage(const Bytes& image, PeImage* parsed);

// Offset of the optional header field that holds data directory index's RVA (its size follows).
std::uint32_t DirectoryFieldOffset(const PeImage& pe, std::uint32_t index);

// The data directory's RVA and size; false when the image has no such directory slot.
bool ReadDirectory(const Bytes& image, const PeImage& pe, std::uint32_t index, std::uint32_t* rva,
                   std::uint32_t* size);

// The section whose raw data holds the byte at rva, or null.
const PeSection* SectionOfRva(const PeImage& pe, std::uint32_t rva);

// File offset of rva when [rva, rva + length) lies in one section's raw data.
bool RvaToFileOffset(const PeImage& pe, std::uint32_t rva, std::uint32_t length,
                     std::uint32_t* offset);

// The image checksum the loader verifies for drivers: 16-bit one's-complement-style sum of the
// file with the CheckSum field taken as zero, folded, plus the file's length.
std::uint32_t ComputePeChecksum(const Bytes& image, std::uint32_t checksumOffset);
