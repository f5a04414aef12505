#pragma once
// What the update page would do for one installation, worked out without writing anything: the
// same reading of section UPDATE, the same targets and the same writing rules, applied to the
// files that exist now. Entries see the effect of the entries before them.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/qwpack/loaded_package.h"
#include "tools/qwpack/profile_file.h"

enum class PlanOutcome {
  written,     // the member is extracted over the target
  kept,        // the target stays: newer than the member, or a readable save-data file
  passedOver,  // the target is missing or a folder, and the entry only overwrites
  fails,       // the update stops at this entry with an error
  notReached,  // an earlier step stopped the update
};

const char* PlanOutcomeName(PlanOutcome outcome);

struct PlannedUpdate {
  std::string key;     // UpdateFileXX
  std::int32_t mode;   // UpdateMode
  std::string target;  // the full path as the updater forms it
  std::string member;
  PlanOutcome outcome;
  std::string reason;
};

struct PlannedCopy {
  std::string key;  // CopyFileXX
  std::int32_t diskNumber;
  std::string sourcePath;
  std::string diskCheckFile;  // from the installed SETUP.INI; empty when unknown
  // written: copied from the drive of its disk (or of the latest entry's disk); fails: no disk
  // located yet, so no drive; notReached: an earlier step stopped the update.
  PlanOutcome outcome;
};

struct UpdatePlan {
  bool listKeysSeen = false;  // some UpdateFileXX or CopyFileXX key was read
  std::int32_t requiredDiskSpace = 0;
  std::string drive;  // the first two characters of the install folder
  std::string instPath;
  bool freeKnown = false;
  std::uint64_t freeBytes = 0;
  bool spaceShort = false;        // the page stops on the shortfall message, nothing written
  std::uint64_t memberBytes = 0;  // sizes of the members that would be written
  std::vector<PlannedUpdate> updates;
  std::vector<PlannedCopy> copies;
  bool stopped = false;  // an error ends the update (spaceShort excluded)
};

struct PlanInputs {
  const ProfileFile* manifest = nullptr;
  const LoadedPackage* package = nullptr;
  std::string instPath;
  std::string dataPath;
  std::int32_t installMode = 0;
  const ProfileFile* setup = nullptr;  // the installed SETUP.INI, for the disk check files
};

UpdatePlan PlanUpdate(const PlanInputs& inputs);

// The plan as text, one line per entry: key, mode, outcome, target (or source), reason.
std::string FormatPlan(const UpdatePlan& plan);
