#pragma once
// Checks and lookups over package bytes, shared by the updater's reader, qwpack and the fuzz
// target. Nothing here allocates or touches the platform: callers own every buffer.
//
// Whatever the bytes hold, these functions read only inside the spans they are given: an index
// or member that would reach outside the package, or decode to another size than its entry
// states, is refused.
#include <cstddef>
#include <cstdint>

#include "package/package_format.h"

// A packed stream expands at most 282 bytes (the longest match) per 25 bits (its shortest
// code), so fewer than 91 bytes per stream byte; larger claimed sizes cannot be sound.
constexpr std::uint64_t kMaxPackedExpansion = 91;

// Equal names without regard to letter case, as the updater finds members: only single-byte
// ASCII letters fold; both bytes of a code page 932 double-byte character compare exactly.
// entryName is a name field of kMemberNameCapacity bytes and is never read past it; a field
// without a NUL equals nothing.
bool MemberNameEquals(const char* entryName, const char* name);

// The header at the front of the package; false when the package is shorter than a header.
bool ReadPackageHeader(const std::uint8_t* package, std::size_t packageSize,
                       PackageHeader* header);

// Where the index lies and how large it is once decoded; see CheckIndexPlacement.
struct IndexPlacement {
  std::size_t streamOffset;  // indexOffset
  std::size_t streamSize;    // bytes of the index in the package (the packed stream's length)
  std::size_t entryBytes;    // entryCount * 280, the decoded size
  bool compressed;
};

// Checks the header's index against the package: a plain index of entryCount * 280 bytes lies
// within the package; a packed one runs from indexOffset to the end, at least its first control
// word, and claims no more than it could expand to. 16 + entryCount * 280 fits 32 bits.
bool CheckIndexPlacement(const PackageHeader& header, std::size_t packageSize,
                         IndexPlacement* placement);

// Fills entries (placement.entryBytes bytes) from the index bytes: a copy, or a decode that must
// end at its end marker with exactly entryBytes written. stream holds placement.streamSize bytes.
bool LoadIndexEntries(const IndexPlacement& placement, const std::uint8_t* stream,
                      std::uint8_t* entries);

// Every name field holds its NUL.
bool EntryNamesTerminated(const PackageEntry* entries, std::uint32_t entryCount);

// A member found by name: its entry and the offset of its stored bytes in the package.
struct MemberLocation {
  const PackageEntry* entry;
  std::uint64_t position;  // 16 + the slots of every entry before it
};

// The first entry in index order whose name equals name; false when none does.
bool FindMemberEntry(const PackageEntry* entries, std::uint32_t entryCount, const char* name,
                     MemberLocation* location);

// The member's stored bytes lie within the package and its sizes agree: a stored member has
// memberSize <= storedSize; a packed one claims no more than its stream could expand to.
bool MemberFitsPackage(const MemberLocation& location, std::size_t packageSize);

// Decodes a packed member's stored bytes into destination (memberSize bytes): true only when the
// stream ends at its end marker within storedSize bytes with exactly memberSize bytes written.
bool DecodeMember(const PackageEntry& entry, const std::uint8_t* stored,
                  std::uint8_t* destination);
