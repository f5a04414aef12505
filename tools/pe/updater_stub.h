#pragma once
// An updater executable's embedded package: the resource of type "UPDATE", id 102, of a PE32
// image. Replacing it rebuilds the image's resource section around the new bytes and leaves
// every other resource, section and header field as it was, apart from the sizes, the resource
// directory and the checksum that the new section changes.
#include <cstdint>

#include "tools/pe/pe_bytes.h"

enum class StubStatus {
  ok,
  notPe,               // no MZ/PE headers
  notPe32,             // a PE, but not a 32-bit image
  malformedImage,      // headers or section table that no loader accepts
  noResourceSection,   // no resource directory, or it lies in no section
  malformedResources,  // the resource tree reaches outside the image
  notUpdater,          // resources, but none of type "UPDATE" with id 102
  noRoomForSection,    // the resource section must move, and the headers have no room for it
  tooLarge,            // the result would not fit the 32-bit offsets of a PE image
};

// A one-line English reason for the status, for the command line.
const char* DescribeStubStatus(StubStatus status);

// The bytes of the package the updater carries (the first language of UPDATE/102).
StubStatus ReadUpdaterPackage(const Bytes& image, Bytes* package);

// *out receives a copy of stub with every language of UPDATE/102 holding package. The new
// resource section replaces the old one in place when that is the last section of the image;
// otherwise it becomes a new last section and the old one is left unused. Bytes behind the
// last section (a symbol table) follow the new section; a certificate, which cannot be valid for
// the new image, is dropped. *out is untouched unless the result is ok.
StubStatus ReplaceUpdaterPackage(const Bytes& stub, const std::uint8_t* package,
                                 std::size_t packageSize, Bytes* out);
