#include "tools/pe/resource_tree.h"

#include <deque>

namespace {

constexpr std::uint32_t kDirectoryHeaderSize = 16;
constexpr std::uint32_t kDirectoryEntrySize = 8;
constexpr std::uint32_t kDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr int kMaxDepth = 4;  // type, name, language: the loader never looks deeper than that
constexpr std::size_t kMaxNodes = 4096;  // far more than any executable carries
constexpr std::uint32_t kDataAlignment = 8;

struct Decoder {
  const Bytes& image;
  const PeImage& pe;
  std::uint32_t rootRva;
  std::size_t nodes = 0;

  // A directory-relative offset as a file offset, when the span lies in the resource section.
  bool Locate(std::uint32_t relative, std::uint32_t length, std::uint32_t* offset) const {
    if (relative > 0xFFFFFFFFu - rootRva) return false;
    return RvaToFileOffset(pe, rootRva + relative, length, offset);
  }

  bool DecodeName(std::uint32_t relative, std::u16string* name) const {
    std::uint32_t at = 0;
    std::uint16_t length = 0;
    if (!Locate(relative, 2, &at) || !Read16(image, at, &length)) return false;
    if (!Locate(relative, 2 + 2u * length, &at)) return false;
    name->clear();
    for (std::uint32_t i = 0; i < length; ++i) {
      std::uint16_t unit = 0;
      Read16(image, at + 2 + 2 * i, &unit);
      name->push_back(static_cast<char16_t>(unit));
    }
    return true;
  }

  bool DecodeLeaf(std::uint32_t relative, ResourceNode* node) const {
    std::uint32_t at = 0;
    if (!Locate(relative, kDataEntrySize, &at)) return false;
    std::uint32_t dataRva = 0, size = 0;
    Read32(image, at, &dataRva);
    Read32(image, at + 4, &size);
    Read32(image, at + 8, &node->codePage);
    Read32(image, at + 12, &node->reserved);
    std::uint32_t dataAt = 0;
    if (size != 0 && !RvaToFileOffset(pe, dataRva, size, &dataAt)) return false;
    node->isDirectory = false;
    node->data.assign(image.begin() + dataAt, image.begin() + dataAt + size);
    return true;
  }

  bool DecodeDirectory(std::uint32_t relative, int depth, ResourceNode* node) {
    if (depth > kMaxDepth) return false;
    std::uint32_t at = 0;
    if (!Locate(relative, kDirectoryHeaderSize, &at)) return false;
    std::uint16_t namedCount = 0, idCount = 0;
    Read32(image, at, &node->characteristics);
    Read32(image, at + 4, &node->timeDateStamp);
    Read16(image, at + 8, &node->majorVersion);
    Read16(image, at + 10, &node->minorVersion);
    Read16(image, at + 12, &namedCount);
    Read16(image, at + 14, &idCount);
    const std::uint32_t count = std::uint32_t{namedCount} + idCount;
    if (!Locate(relative, kDirectoryHeaderSize + count * kDirectoryEntrySize, &at)) return false;
    node->isDirectory = true;
    node->children.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
      if (++nodes > kMaxNodes) return false;
      const std::uint32_t entryAt = at + kDirectoryHeaderSize + i * kDirectoryEntrySize;
      std::uint32_t nameField = 0, target = 0;
      Read32(image, entryAt, &nameField);
      Read32(image, entryAt + 4, &target);
      ResourceNode child;
      if (nameField & kHighBit) {
        child.named = true;
        if (!DecodeName(nameField & ~kHighBit, &child.name)) return false;
      } else {
        child.id = static_cast<std::uint16_t>(nameField);
      }
      const bool ok = (target & kHighBit) ? DecodeDirectory(target & ~kHighBit, depth + 1, &child)
                                          : DecodeLeaf(target, &child);
      if (!ok) return false;
      node->children.push_back(std::move(child));
    }
    return true;
  }
};

// Offsets of every part of the encoded section, relative to its start.
struct Layout {
  std::vector<const ResourceNode*> directories;  // breadth first, root first
  std::vector<std::uint32_t> directoryOffsets;
  std::vector<const ResourceNode*> leaves;  // in the order the directories list them
  std::vector<const ResourceNode*> namedNodes;
  std::uint64_t dataEntriesOffset = 0;
  std::uint64_t namesOffset = 0;
  std::uint64_t dataOffset = 0;
  std::uint64_t size = 0;
};

Layout PlanLayout(const ResourceNode& root) {
  Layout layout;
  std::deque<const ResourceNode*> queue{&root};
  std::uint64_t at = 0;
  while (!queue.empty()) {
    const ResourceNode* directory = queue.front();
    queue.pop_front();
    layout.directories.push_back(directory);
    layout.directoryOffsets.push_back(static_cast<std::uint32_t>(at));
    at += kDirectoryHeaderSize + directory->children.size() * kDirectoryEntrySize;
    for (const ResourceNode& child : directory->children) {
      if (child.named) layout.namedNodes.push_back(&child);
      if (child.isDirectory) {
        queue.push_back(&child);
      } else {
        layout.leaves.push_back(&child);
      }
    }
  }
  layout.dataEntriesOffset = at;
  at += layout.leaves.size() * kDataEntrySize;
  layout.namesOffset = at;
  for (const ResourceNode* named : layout.namedNodes) at += 2 + 2 * named->name.size();
  at = AlignUp(at, kDataAlignment);
  layout.dataOffset = at;
  for (const ResourceNode* leaf : layout.leaves)
    at = AlignUp(at + leaf->data.size(), kDataAlignment);
  layout.size = at;
  return layout;
}

template <typename T>
std::uint32_t IndexOf(const std::vector<const T*>& list, const T* item) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == item) return static_cast<std::uint32_t>(i);
  }
  return 0;
}

char16_t FoldAscii(char16_t unit) {
  return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - (u'a' - u'A')) : unit;
}

}  // namespace

bool DecodeResourceTree(const Bytes& image, const PeImage& pe, std::uint32_t rootRva,
                        ResourceNode* root) {
  Decoder decoder{image, pe, rootRva};
  ResourceNode decoded;
  if (!decoder.DecodeDirectory(0, 1, &decoded)) return false;
  *root = std::move(decoded);
  return true;
}

bool EncodeResourceTree(const ResourceNode& root, std::uint32_t sectionRva, Bytes* section) {
  const Layout layout = PlanLayout(root);
  if (layout.size + sectionRva > 0xFFFFFFFFu) return false;
  Bytes out(static_cast<std::size_t>(layout.size), 0);

  // Where each name and each datum goes.
  std::vector<std::uint32_t> nameOffsets;
  std::uint64_t nameAt = layout.namesOffset;
  for (const ResourceNode* named : layout.namedNodes) {
    nameOffsets.push_back(static_cast<std::uint32_t>(nameAt));
    Write16(out, static_cast<std::size_t>(nameAt), static_cast<std::uint16_t>(named->name.size()));
    for (std::size_t i = 0; i < named->name.size(); ++i) {
      Write16(out, static_cast<std::size_t>(nameAt + 2 + 2 * i), named->name[i]);
    }
    nameAt += 2 + 2 * named->name.size();
  }
  std::uint64_t dataAt = layout.dataOffset;
  for (std::size_t i = 0; i < layout.leaves.size(); ++i) {
    const ResourceNode* leaf = layout.leaves[i];
    const std::size_t entryAt =
        static_cast<std::size_t>(layout.dataEntriesOffset + i * kDataEntrySize);
    Write32(out, entryAt, static_cast<std::uint32_t>(sectionRva + dataAt));
    Write32(out, entryAt + 4, static_cast<std::uint32_t>(leaf->data.size()));
    Write32(out, entryAt + 8, leaf->codePage);
    Write32(out, entryAt + 12, leaf->reserved);
    std::copy(leaf->data.begin(), leaf->data.end(),
              out.begin() + static_cast<std::ptrdiff_t>(dataAt));
    dataAt = AlignUp(dataAt + leaf->data.size(), kDataAlignment);
  }

  for (std::size_t d = 0; d < layout.directories.size(); ++d) {
    const ResourceNode* directory = layout.directories[d];
    const std::size_t at = layout.directoryOffsets[d];
    std::uint16_t namedCount = 0;
    for (const ResourceNode& child : directory->children) namedCount += child.named ? 1 : 0;
    Write32(out, at, directory->characteristics);
    Write32(out, at + 4, directory->timeDateStamp);
    Write16(out, at + 8, directory->majorVersion);
    Write16(out, at + 10, directory->minorVersion);
    Write16(out, at + 12, namedCount);
    Write16(out, at + 14, static_cast<std::uint16_t>(directory->children.size() - namedCount));
    for (std::size_t c = 0; c < directory->children.size(); ++c) {
      const ResourceNode& child = directory->children[c];
      const std::size_t entryAt = at + kDirectoryHeaderSize + c * kDirectoryEntrySize;
      const std::uint32_t nameField =
          child.named ? (kHighBit | nameOffsets[IndexOf(layout.namedNodes, &child)]) : child.id;
      const std::uint32_t target =
          child.isDirectory
              ? (kHighBit | layout.directoryOffsets[IndexOf(layout.directories, &child)])
              : static_cast<std::uint32_t>(layout.dataEntriesOffset +
                                           IndexOf(layout.leaves, &child) * kDataEntrySize);
      Write32(out, entryAt, nameField);
      Write32(out, entryAt + 4, target);
    }
  }
  *section = std::move(out);
  return true;
}

ResourceNode* FindResourceEntry(ResourceNode& root, const char* typeName, std::uint16_t id) {
  for (ResourceNode& type : root.children) {
    if (!type.named || !type.isDirectory) continue;
    std::size_t i = 0;
    while (typeName[i] != '\0' && i < type.name.size() &&
           FoldAscii(type.name[i]) == FoldAscii(static_cast<char16_t>(typeName[i]))) {
      ++i;
    }
    if (typeName[i] != '\0' || i != type.name.size()) continue;
    for (ResourceNode& entry : type.children) {
      if (!entry.named && entry.id == id) return &entry;
    }
  }
  return nullptr;
}
