#pragma once
// The mistakes in an update manifest that make the updater fail, or read something other than
// what its author meant, found with the updater's own parsers and capacities.
#include <string>
#include <vector>

#include "tools/qwpack/loaded_package.h"
#include "tools/qwpack/profile_file.h"

struct CheckFinding {
  std::string key;     // "[SECTION] Key", or "package", or a member's name
  std::string reason;  // one line
};

struct CheckInputs {
  const ProfileFile* manifest = nullptr;
  std::string manifestText;                // the file's bytes, compared with the packed copy
  const LoadedPackage* package = nullptr;  // optional: members are looked up in it
  const ProfileFile* setup = nullptr;      // optional: the installed game's SETUP.INI
};

// Every finding in file order: required keys, values cut by their buffers, list keys the
// updater never reads, entries outside the accepted forms, members the package lacks, disks
// without a DiskCheckFileN, text that is not code page 932.
std::vector<CheckFinding> CheckManifest(const CheckInputs& inputs);
