#include "tools/qwpack/update_plan.h"

#include <cinttypes>
#include <cstdio>
#include <map>

#include "app/append_path.h"
#include "app/text_limits.h"
#include "config/profile_value.h"
#include "config/update_entry.h"
#include "config/update_manifest.h"
#include "tools/qwpack/target_probe.h"

namespace {

const char* ModeName(std::int32_t mode) {
  switch (mode) {
    case modePlain:
      return "plain";
    case modeNewer:
      return "newer";
    case modeData:
      return "data";
    case modeExisting:
      return "existing";
  }
  return "?";
}

std::string Uppercase(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return result;
}

class Planner {
 public:
  explicit Planner(const PlanInputs& inputs) : in_(inputs) {}

  UpdatePlan Run() {
    ReadSection();
    CheckSpace();
    if (plan_.spaceShort || !plan_.listKeysSeen) {
      MarkAll(PlanOutcome::notReached);
      plan_.stopped = !plan_.listKeysSeen && !plan_.spaceShort;
      return std::move(plan_);
    }
    for (PlannedUpdate& update : plan_.updates) {
      if (plan_.stopped) {
        update.outcome = PlanOutcome::notReached;
        continue;
      }
      Decide(update);
      if (update.outcome == PlanOutcome::fails) plan_.stopped = true;
    }
    // An entry without a disk takes the drive of the latest entry with one; before any, it has
    // no source and fails.
    bool diskLocated = false;
    for (PlannedCopy& copy : plan_.copies) {
      if (plan_.stopped) {
        copy.outcome = PlanOutcome::notReached;
        continue;
      }
      diskLocated = diskLocated || copy.diskNumber != 0;
      copy.outcome = diskLocated ? PlanOutcome::written : PlanOutcome::fails;
      plan_.stopped = !diskLocated;
    }
    return std::move(plan_);
  }

 private:
  void MarkAll(PlanOutcome outcome) {
    for (PlannedUpdate& update : plan_.updates) update.outcome = outcome;
    for (PlannedCopy& copy : plan_.copies) copy.outcome = outcome;
  }

  void ReadSection() {
    const ProfileFile& manifest = *in_.manifest;
    char number[kPathCapacity];
    if (manifest.Read("UPDATE", "RequiredDiskSpace", number, sizeof number)) {
      const std::int32_t value = ParseDecimalInt32(number);
      plan_.requiredDiskSpace = value > 0 ? value : 0;
    }
    if (manifest.Read("UPDATE", "OverwriteOnly", number, sizeof number)) {
      overwriteOnly_ = ParseDecimalInt32(number) != 0;
    }
    manifest.Read("SETUP", "DataFolder", dataFolder_, sizeof dataFolder_);
    char key[32];
    char value[kTextCapacity];
    for (int index = 0; index < kMaxListKeys; ++index) {
      std::snprintf(key, sizeof key, "UpdateFile%02d", index);
      if (!manifest.Read("UPDATE", key, value, sizeof value)) break;
      plan_.listKeysSeen = true;
      UpdateEntry entry;
      if (!ParseUpdateEntry(value, in_.installMode, &entry)) continue;
      PlannedUpdate update{key,
                           entry.mode,
                           Target(entry),
                           entry.relativePath + entry.baseNameOffset,
                           PlanOutcome::notReached,
                           {}};
      plan_.updates.push_back(update);
    }
    for (int index = 0; index < kMaxListKeys; ++index) {
      std::snprintf(key, sizeof key, "CopyFile%02d", index);
      if (!manifest.Read("UPDATE", key, value, kPathCapacity)) break;
      plan_.listKeysSeen = true;
      CopyEntry entry;
      if (!ParseCopyEntry(value, in_.installMode, &entry)) continue;
      PlannedCopy copy{key, entry.diskNumber, entry.sourcePath, {}, PlanOutcome::notReached};
      if (in_.setup != nullptr && entry.diskNumber > 0) {
        char check[kPathCapacity];
        const std::string checkKey = "DiskCheckFile" + std::to_string(entry.diskNumber);
        if (in_.setup->Read("SETUP", checkKey.c_str(), check, sizeof check))
          copy.diskCheckFile = check;
      }
      plan_.copies.push_back(copy);
    }
  }

  std::string Target(const UpdateEntry& entry) {
    const std::string& folder = entry.mode == modeData ? in_.dataPath : in_.instPath;
    char path[kTextCapacity] = {};
    if (folder.size() >= sizeof path) return {};
    std::snprintf(path, sizeof path, "%s", folder.c_str());
    if (!AppendPath(path, sizeof path, dataFolder_) ||
        !AppendPath(path, sizeof path, entry.relativePath)) {
      return {};
    }
    return path;
  }

  void CheckSpace() {
    plan_.drive = in_.instPath.substr(0, 2);
    plan_.instPath = in_.instPath;
    plan_.freeKnown = FreeBytesAt(in_.instPath.empty() ? "." : in_.instPath, &plan_.freeBytes);
    if (plan_.requiredDiskSpace != 0 && plan_.freeKnown &&
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(plan_.requiredDiskSpace)) >
            plan_.freeBytes) {
      plan_.spaceShort = true;
    }
  }

  // The target as it will be when this entry runs: the file system now, or what an earlier
  // entry of this plan left there.
  TargetState StateOf(const std::string& target) {
    const auto known = effects_.find(Uppercase(target));
    return known != effects_.end() ? known->second : ProbeTarget(target);
  }

  // The folder the target goes into exists, or is the one level the page creates first.
  bool FolderReady(const std::string& target, const std::string& folder) {
    const std::string parent = ParentOf(target);
    if (parent.empty()) return true;
    if (ProbeTarget(parent).isDirectory) return true;
    char created[kTextCapacity] = {};
    std::snprintf(created, sizeof created, "%s", folder.c_str());
    AppendPath(created, sizeof created, dataFolder_);
    const std::string createdFolder = created;
    const std::string trimmed =
        !createdFolder.empty() && (createdFolder.back() == '\\' || createdFolder.back() == '/')
            ? createdFolder.substr(0, createdFolder.size() - 1)
            : createdFolder;
    if (parent != trimmed) return false;
    const std::string above = ParentOf(trimmed);
    return above.empty() || ProbeTarget(above).isDirectory;
  }

  void Decide(PlannedUpdate& update) {
    if (update.target.empty()) {
      update.outcome = PlanOutcome::fails;
      update.reason = "the target path does not fit the updater's 1024-byte buffer";
      return;
    }
    const TargetState state = StateOf(update.target);
    if (overwriteOnly_ || update.mode == modeExisting) {
      if (!state.exists || state.isDirectory) {
        update.outcome = PlanOutcome::passedOver;
        update.reason = state.isDirectory ? "the target is a folder" : "no file to overwrite";
        return;
      }
    }
    if (update.mode == modeData && state.exists && !state.isDirectory) {
      update.outcome = PlanOutcome::kept;
      update.reason = "the save-data file stays as it is (its time is renewed)";
      TargetState after = state;
      after.lastWriteTime = UINT64_MAX;  // "now": later than any member
      effects_[Uppercase(update.target)] = after;
      return;
    }
    MemberLocation location;
    if (in_.package == nullptr ||
        FindMember(*in_.package, update.member.c_str(), &location) == nullptr) {
      update.outcome = PlanOutcome::fails;
      update.reason = "the package has no member " + update.member;
      return;
    }
    const PackageEntry& entry = *location.entry;
    const std::string& folder = update.mode == modeData ? in_.dataPath : in_.instPath;
    std::uint64_t freeBytes = 0;
    if (FreeBytesAt(folder.empty() ? "." : folder, &freeBytes) && entry.memberSize > freeBytes) {
      update.outcome = PlanOutcome::fails;
      update.reason = "the drive has less free space than the member's " +
                      std::to_string(entry.memberSize) + " bytes";
      return;
    }
    if (state.isDirectory) {
      update.outcome = PlanOutcome::fails;
      update.reason = "the target is a folder";
      return;
    }
    if (update.mode == modeNewer && state.exists && state.lastWriteTime > entry.lastWriteTime) {
      update.outcome = PlanOutcome::kept;
      update.reason = "the existing file is newer than the member";
      return;
    }
    if (!FolderReady(update.target, folder)) {
      update.outcome = PlanOutcome::fails;
      update.reason = "the target's folder does not exist (only DataFolder is created)";
      return;
    }
    update.outcome = PlanOutcome::written;
    update.reason = std::to_string(entry.memberSize) + " bytes";
    plan_.memberBytes += entry.memberSize;
    TargetState after;
    after.exists = after.readable = true;
    after.lastWriteTime = entry.lastWriteTime;
    effects_[Uppercase(update.target)] = after;
  }

  const PlanInputs& in_;
  UpdatePlan plan_;
  bool overwriteOnly_ = false;
  char dataFolder_[kPathCapacity] = {};
  std::map<std::string, TargetState> effects_;
};

}  // namespace

const char* PlanOutcomeName(PlanOutcome outcome) {
  switch (outcome) {
    case PlanOutcome::written:
      return "written";
    case PlanOutcome::kept:
      return "kept";
    case PlanOutcome::passedOver:
      return "passed-over";
    case PlanOutcome::fails:
      return "fails";
    case PlanOutcome::notReached:
      return "not-reached";
  }
  return "?";
}

UpdatePlan PlanUpdate(const PlanInputs& inputs) { return Planner(inputs).Run(); }

std::string FormatPlan(const UpdatePlan& plan) {
  std::string text;
  char line[2 * kTextCapacity];
  if (plan.requiredDiskSpace == 0) {
    text += "space: no RequiredDiskSpace check\n";
  } else {
    const bool driveLetter = plan.drive.size() == 2 && plan.drive[1] == ':';
    std::snprintf(line, sizeof line, "space: RequiredDiskSpace %" PRId32 " bytes on %s%s",
                  plan.requiredDiskSpace, driveLetter ? "" : "the drive of ",
                  driveLetter ? plan.drive.c_str() : plan.instPath.c_str());
    text += line;
    if (plan.freeKnown) {
      std::snprintf(
          line, sizeof line, ", %" PRIu64 " free now: %s\n", plan.freeBytes,
          plan.spaceShort ? "too little, the update stops before writing anything" : "enough");
      text += line;
    } else {
      text += ", free space unknown\n";
    }
  }
  if (!plan.listKeysSeen) text += "stop: no UpdateFileXX and no CopyFileXX key\n";
  if (plan.listKeysSeen && plan.updates.empty() && plan.copies.empty()) {
    text += "note: no entry for this install mode: nothing to update\n";
  }
  for (const PlannedUpdate& update : plan.updates) {
    std::snprintf(line, sizeof line, "%s\t%s\t%s\t%s\t%s\n", update.key.c_str(),
                  ModeName(update.mode), PlanOutcomeName(update.outcome), update.target.c_str(),
                  update.reason.c_str());
    text += line;
  }
  for (const PlannedCopy& copy : plan.copies) {
    std::snprintf(
        line, sizeof line, "%s\tdisk %" PRId32 "\t%s\t%s\t%s\n", copy.key.c_str(), copy.diskNumber,
        copy.outcome == PlanOutcome::written ? "copy" : PlanOutcomeName(copy.outcome),
        copy.sourcePath.c_str(),
        copy.outcome == PlanOutcome::fails
            ? "no earlier entry located a disk: no drive to copy from"
        : copy.diskNumber == 0       ? "from the drive of the disk before"
        : copy.diskCheckFile.empty() ? "the disk has no DiskCheckFile in the installed SETUP.INI"
                                     : ("recognised by " + copy.diskCheckFile).c_str());
    text += line;
  }
  std::snprintf(line, sizeof line, "members written: %" PRIu64 " bytes\n", plan.memberBytes);
  text += line;
  return text;
}
