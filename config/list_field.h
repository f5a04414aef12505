#pragma once
// Splitter for profile values that hold a comma-separated list whose fields may carry a
// disk-number prefix (one character and a colon: 2:DATA.BIN is DATA.BIN on disk 2). No Win32.
#include <cstddef>
#include <cstdint>

// Takes the next field of the list at *cursor into field (fieldCapacity bytes, at least 1).
//  - Spaces (only code 32) before a field are skipped.
//  - A NUL, CR, LF or comma at that point is an empty field, which ends the list: the result is
//    false, *cursor stays on that byte and field is not written.
//  - When the byte after the cursor is a colon, the byte at the cursor is a disk number:
//    *diskNumber becomes its digit value (0 for a byte that is no digit) and both bytes are
//    dropped. Nothing else ever writes *diskNumber, so a prefix holds for the following fields
//    until the next one.
//  - The field runs up to, not including, the next NUL, CR, LF or comma, blanks included; the
//    cursor moves past a CR, LF or comma and stays on a NUL, so every later call returns false.
//  - A field longer than fieldCapacity - 1 bytes is cut to the whole code page 932 characters
//    that fit; the rest of it is skipped, and the next call reads the field after it.
// The value is read byte by byte and never changed: no trail byte of code page 932 is a space,
// comma, colon, CR or LF.
bool NextListField(char* field, std::size_t fieldCapacity, const char** cursor,
                   std::int32_t* diskNumber);
