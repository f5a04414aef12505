#pragma once
// The two list entries of the manifest's section UPDATE. No Win32.
#include <cstdint>

#include "config/update_manifest.h"

// One UpdateFileXX value: up to three comma-separated list fields (see NextListField), in one of
// the forms path; letter,path; digit,path; digit,letter,path.
//  - A first field of exactly one digit is an install-mode filter: the entry is accepted only
//    when installMode equals the digit.
//  - A mode letter d, u or o (either case) selects modeData, modeNewer or modeExisting and takes
//    the next field as the path (empty when there is none); any other field is the path of a
//    modePlain entry. Fields after the path are ignored.
//  - baseNameOffset follows the last backslash of the path, stepping over the trail byte of every
//    code page 932 double-byte character (0 without a backslash).
// Returns whether the entry is accepted; *entry is written only then.
bool ParseUpdateEntry(const char* value, std::int32_t installMode, UpdateEntry* entry);

// One CopyFileXX value, taken apart by position, in one of the forms path; N:path; D,path;
// D,N:path.
//  - A comma as the second byte makes the first an install-mode filter: accepted only when
//    installMode equals its code minus the code of "0".
//  - Then a colon as the second byte makes the first the disk number, when it is a digit "0" to
//    "9". Any other byte before the colon names no disk that diskCheckFiles can hold: it is no
//    prefix, and the colon stays part of the path.
//  - sourcePath is the rest, unchanged (blanks and commas included), cut to the whole code page
//    932 characters that fit in it.
// Returns whether the entry is accepted; *entry is written only then.
bool ParseCopyEntry(const char* value, std::int32_t installMode, CopyEntry* entry);
