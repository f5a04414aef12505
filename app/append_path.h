#pragma once
#include <cstddef>

// Appends name to the path in buffer (capacity bytes), inserting one backslash unless the path
// is empty or its last character (under code page 932) is a backslash or a slash, and leaves
// two NUL bytes behind the result, so that it is also a one-path list for the shell's copy.
// Returns false, with the buffer unchanged, when the result and both NULs do not fit.
bool AppendPath(char* buffer, std::size_t capacity, const char* name);
