#pragma once
// The resource tree of a PE image, decoded into memory and encoded back into the bytes of a
// resource section. Directories keep their order, names, ids and header fields; leaves keep
// their code page; only the data bytes are held by value, so that they can be replaced.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/pe/pe_bytes.h"
#include "tools/pe/pe_image.h"

struct ResourceNode {
  // How the parent names this node: a UTF-16 string (named) or a 16-bit id.
  bool named = false;
  std::u16string name;
  std::uint16_t id = 0;

  bool isDirectory = false;
  // Directory: the header fields and the entries in their stored order (named ones first).
  std::uint32_t characteristics = 0;
  std::uint32_t timeDateStamp = 0;
  std::uint16_t majorVersion = 0;
  std::uint16_t minorVersion = 0;
  std::vector<ResourceNode> children;
  // Leaf: the resource's bytes and its code page.
  Bytes data;
  std::uint32_t codePage = 0;
  std::uint32_t reserved = 0;
};

// Decodes the tree whose root directory lies at the resource data directory's RVA. False when
// a directory, string or data entry lies outside the image, the tree is deeper than any the
// loader looks up, or it holds an implausible number of nodes.
bool DecodeResourceTree(const Bytes& image, const PeImage& pe, std::uint32_t rootRva,
                        ResourceNode* root);

// The bytes of a resource section that starts at sectionRva: directories, then data entries,
// then names, then the data, each datum at a multiple of 8. False when it would exceed 4 GiB.
bool EncodeResourceTree(const ResourceNode& root, std::uint32_t sectionRva, Bytes* section);

// The root's child named typeName (ASCII, without regard to case), then that one's child with
// the id, or null.
ResourceNode* FindResourceEntry(ResourceNode& root, const char* typeName, std::uint16_t id);
