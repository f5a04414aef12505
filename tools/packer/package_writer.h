#pragma once
// Builds a package's bytes: the header "QW2\0", the members in index order, each in a slot of
// storedSize rounded up to 16 and filled with zeros, then the index at the next multiple of 16
// after the last slot (as one packed stream to the end of the package when asked).
#include <cstdint>
#include <string>
#include <vector>

#include "tools/packer/packed_encoder.h"

struct PackageMemberInput {
  std::string name;                 // at most 259 bytes, code page 932
  std::vector<std::uint8_t> bytes;  // the member's contents
  std::uint64_t lastWriteTime = 0;  // FILETIME: 100 ns ticks since 1601-01-01 UTC
  bool compress = false;            // store as a packed stream
};

// The package's bytes in *package, or false with a one-line reason in *error: a name of 260
// bytes or more (or with a NUL inside), two members whose names the updater cannot tell apart,
// or a size or offset that does not fit 32 bits. *package is left alone on failure.
// progress, when given, is called now and then with the member bytes taken in so far (members
// in order; a packed member also while it is being packed).
bool BuildPackage(const std::vector<PackageMemberInput>& members, bool compressIndex,
                  std::vector<std::uint8_t>* package, std::string* error,
                  const EncodeProgress& progress = {});
