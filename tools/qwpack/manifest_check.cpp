#include "tools/qwpack/manifest_check.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "app/text_limits.h"
#include "config/list_field.h"
#include "config/profile_value.h"
#include "config/update_entry.h"
#include "tools/qwpack/cp932_text.h"

namespace {

struct SetupKey {
  const char* name;
  std::size_t capacity;
  bool required;
  bool member;  // names a package member
};

const SetupKey kSetupKeys[] = {
    {"CompanyName", kPathCapacity, true, false},    {"GameTitle", kPathCapacity, true, false},
    {"GameClass", kPathCapacity, true, false},      {"GameDir", kPathCapacity, true, false},
    {"GameTitleA", kPathCapacity, false, false},    {"UpdaterVersion", kPathCapacity, false, false},
    {"UpdaterTitle", kPathCapacity, false, false},  {"DataFolder", kPathCapacity, false, false},
    {"UpdateMessage", kTextCapacity, false, false}, {"AgreementText", kPathCapacity, false, true},
    {"AgreementTitle", kPathCapacity, false, true},
};

struct ListKind {
  const char* word;  // "UpdateFile" or "CopyFile"
  std::size_t capacity;
};
const ListKind kUpdateList{"UpdateFile", kTextCapacity};
const ListKind kCopyList{"CopyFile", kPathCapacity};

class Checker {
 public:
  explicit Checker(const CheckInputs& inputs) : in_(inputs) {}

  std::vector<CheckFinding> Run() {
    if (in_.manifestText.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      Add("file", "starts with a UTF-8 byte order mark: the updater reads code page 932");
    }
    CheckSections();
    CheckSetupSection();
    CheckPackageManifest();
    CheckNumber("RequiredDiskSpace");
    CheckNumber("OverwriteOnly");
    const int updates = CheckListKeys(kUpdateList);
    const int copies = CheckListKeys(kCopyList);
    if (updates == 0 && copies == 0) {
      Add("[UPDATE]",
          "no UpdateFile00 and no CopyFile00: the updater stops with "
          "\"No 'UpdateFileXX' and 'CopyFileXX'\"");
    }
    for (int i = 0; i < updates; ++i) CheckUpdateEntry(ListKey(kUpdateList, i));
    bool diskLocated = false;
    for (int i = 0; i < copies; ++i) CheckCopyEntry(ListKey(kCopyList, i), &diskLocated);
    return std::move(findings_);
  }

 private:
  void Add(const std::string& key, const std::string& reason) {
    findings_.push_back({key, reason});
  }

  static std::string ListKey(const ListKind& kind, int index) {
    char key[32];
    std::snprintf(key, sizeof key, "%s%02d", kind.word, index);
    return key;
  }

  // The value as the updater reads it, with a finding when the buffer cuts it or its text is
  // not code page 932. Empty when the key is missing or empty.
  std::string ReadChecked(const char* section, const std::string& key, std::size_t capacity) {
    const ProfileKey* found = in_.manifest->Find(section, key.c_str());
    if (found == nullptr || found->value.empty()) return {};
    const std::string label = "[" + std::string(section) + "] " + key;
    if (found->value.size() > capacity - 1) {
      Add(label, "value of " + std::to_string(found->value.size()) + " bytes is cut to " +
                     std::to_string(capacity - 1) + " by its " + std::to_string(capacity) +
                     "-byte buffer");
    }
    const std::string problem = DescribeCp932Problem(found->value);
    if (!problem.empty()) Add(label, problem);
    std::vector<char> value(capacity);
    in_.manifest->Read(section, key.c_str(), value.data(), capacity);
    return value.data();
  }

  // Sections and keys the updater never looks at: a second section of a name, and keys that
  // are no key of their section (a misspelt name).
  void CheckSections() {
    std::set<std::string> seen;
    for (const ProfileSection& section : in_.manifest->sections()) {
      if (section.line == 0) continue;
      std::string upper;
      for (char c : section.name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
      if (!seen.insert(upper).second) {
        Add("[" + section.name + "]",
            "second section of this name (line " + std::to_string(section.line) + "): never read");
        continue;
      }
      const bool setup = upper == "SETUP";
      if (!setup && upper != "UPDATE") continue;
      for (const ProfileKey& key : section.keys) {
        if (!IsKnownKey(key.name, setup)) {
          Add("[" + section.name + "] " + key.name,
              "not a key the updater reads (line " + std::to_string(key.line) + ")");
        }
      }
    }
  }

  static bool IsKnownKey(const std::string& name, bool setup) {
    if (setup) {
      for (const SetupKey& key : kSetupKeys) {
        if (ProfileNameEquals(name, key.name)) return true;
      }
      return false;
    }
    if (ProfileNameEquals(name, "RequiredDiskSpace") || ProfileNameEquals(name, "OverwriteOnly"))
      return true;
    // List keys are judged by CheckListKeys.
    for (const ListKind* kind : {&kUpdateList, &kCopyList}) {
      const std::size_t length = std::strlen(kind->word);
      if (name.size() >= length && ProfileNameEquals(name.substr(0, length), kind->word))
        return true;
    }
    return false;
  }

  void CheckSetupSection() {
    for (const SetupKey& key : kSetupKeys) {
      const std::string value = ReadChecked("SETUP", key.name, key.capacity);
      const std::string label = std::string("[SETUP] ") + key.name;
      if (value.empty()) {
        if (key.required) {
          Add(label,
              "required key is missing or empty: the updater stops with its missing-key "
              "message");
        }
        continue;
      }
      if (key.member) CheckAgreementMember(label, value);
    }
  }

  void CheckAgreementMember(const std::string& label, const std::string& member) {
    if (in_.package == nullptr) return;
    MemberLocation location;
    if (FindMember(*in_.package, member.c_str(), &location) == nullptr) {
      Add(label, "names member " + member +
                     ", which the package lacks: the updater stops "
                     "with \"'" +
                     member + "' not found at UPDATE.QW3\"");
      return;
    }
    std::vector<std::uint8_t> contents;
    std::string error;
    if (!ReadMember(*in_.package, location, &contents, &error)) {
      Add(label, error);
      return;
    }
    const std::string problem = DescribeCp932Problem(std::string(contents.begin(), contents.end()));
    if (!problem.empty()) Add(member, "member text " + problem);
  }

  void CheckPackageManifest() {
    if (in_.package == nullptr) return;
    MemberLocation location;
    if (FindMember(*in_.package, "UPDATE.INI", &location) == nullptr) {
      Add("package", "has no member UPDATE.INI: the updater cannot start");
      return;
    }
    std::vector<std::uint8_t> contents;
    std::string error;
    if (!ReadMember(*in_.package, location, &contents, &error)) {
      Add("package", error);
    } else if (std::string(contents.begin(), contents.end()) != in_.manifestText) {
      Add("package", "its member UPDATE.INI differs from the manifest being checked");
    }
  }

  void CheckNumber(const char* key) {
    const std::string value = ReadChecked("UPDATE", key, kPathCapacity);
    if (value.empty()) return;
    const std::string label = std::string("[UPDATE] ") + key;
    const char* text = value.c_str();
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    const char* digits = text + ((*text == '-' || *text == '+') ? 1 : 0);
    const char* end = digits;
    while (*end >= '0' && *end <= '9') ++end;
    const std::int32_t number = ParseDecimalInt32(value.c_str());
    if (end == digits || *end != '\0') {
      Add(label,
          "\"" + value + "\" is not a decimal number: the updater reads " + std::to_string(number));
    } else if (number < 0 && std::strcmp(key, "RequiredDiskSpace") == 0) {
      Add(label, "negative: the updater checks no free space");
    }
  }

  // Finds every key of the list word in section UPDATE that the updater never reads; returns the
  // number of keys it does read.
  int CheckListKeys(const ListKind& kind) {
    int read = 0;
    while (read < kMaxListKeys) {
      const ProfileKey* key = in_.manifest->Find("UPDATE", ListKey(kind, read).c_str());
      if (key == nullptr || key->value.empty()) break;
      ++read;
    }
    const ProfileSection* section = in_.manifest->FindSection("UPDATE");
    if (section == nullptr) return read;
    const std::size_t wordLength = std::strlen(kind.word);
    std::set<std::string> seen;
    for (const ProfileKey& key : section->keys) {
      if (key.name.size() < wordLength ||
          !ProfileNameEquals(key.name.substr(0, wordLength), kind.word)) {
        continue;
      }
      const std::string label = "[UPDATE] " + key.name;
      const std::string suffix = key.name.substr(wordLength);
      int index = -1;
      if (suffix.size() == 2 && suffix[0] >= '0' && suffix[0] <= '9' && suffix[1] >= '0' &&
          suffix[1] <= '9') {
        index = (suffix[0] - '0') * 10 + (suffix[1] - '0');
      } else if (suffix.size() > 2 && suffix.find_first_not_of("0123456789") == std::string::npos &&
                 suffix[0] != '0') {
        index = std::stoi(suffix.substr(0, 9));
      }
      std::string upper;
      for (char c : key.name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
      const bool duplicate = !seen.insert(upper).second;
      if (index < 0) {
        Add(label, std::string("never read: the updater reads ") + kind.word + "00 to " +
                       kind.word + "15, with two-digit indices");
      } else if (duplicate) {
        Add(label, "duplicate key (line " + std::to_string(key.line) + "): only the first is read");
      } else if (index >= kMaxListKeys) {
        Add(label, std::string("never read: past the sixteenth key (the updater reads ") +
                       kind.word + "00 to " + kind.word + "15)");
      } else if (index > read) {
        Add(label, "never read: the list ends at the gap before it, " + ListKey(kind, read) +
                       " is missing or empty");
      }
    }
    return read;
  }

  void CheckUpdateEntry(const std::string& key) {
    const std::string label = "[UPDATE] " + key;
    const std::string value = ReadChecked("UPDATE", key, kUpdateList.capacity);
    // The fields as the updater splits them, and each one whole, to see what is cut or dropped.
    std::vector<std::string> fields;
    std::vector<bool> prefixed;
    const char* cursor = value.c_str();
    for (;;) {
      char field[kTextCapacity];
      std::int32_t disk = -1;
      if (!NextListField(field, sizeof field, &cursor, &disk)) break;
      if (std::strlen(field) > kPathCapacity - 1) {
        Add(label, "field \"" + std::string(field).substr(0, 40) + "...\" of " +
                       std::to_string(std::strlen(field)) + " bytes is cut to " +
                       std::to_string(kPathCapacity - 1));
      }
      fields.push_back(field);
      prefixed.push_back(disk != -1);
    }
    const std::string rest = cursor;
    if (rest.find_first_not_of(" \r\n") != std::string::npos && !rest.empty()) {
      Add(label, "never read: \"" + rest + "\" after an empty field");
    }
    std::size_t at = 0;
    std::int32_t installMode = 0;
    if (!fields.empty() && fields[0].size() == 1 && fields[0][0] >= '0' && fields[0][0] <= '9') {
      installMode = fields[0][0] - '0';
      at = 1;
    }
    if (at < fields.size() && fields[at].size() == 1 && std::strchr("dDuUoO", fields[at][0])) ++at;
    const std::size_t pathField = at;
    if (pathField < fields.size() && prefixed[pathField]) {
      Add(label, "the path's first two characters are taken as a disk prefix and dropped");
    }
    if (pathField + 1 < fields.size()) {
      std::string ignored;
      for (std::size_t i = pathField + 1; i < fields.size(); ++i)
        ignored += (i > pathField + 1 ? "," : "") + fields[i];
      Add(label, "never read: \"" + ignored + "\" after the path");
    }
    UpdateEntry entry;
    if (!ParseUpdateEntry(value.c_str(), installMode, &entry)) return;
    const char* member = entry.relativePath + entry.baseNameOffset;
    if (entry.relativePath[0] == '\0') {
      Add(label, "no path: the entry names no member");
      return;
    }
    if (*member == '\0') {
      Add(label, "the path ends in a backslash: the entry names no member");
      return;
    }
    if (in_.package != nullptr) {
      MemberLocation location;
      if (FindMember(*in_.package, member, &location) == nullptr) {
        Add(label, std::string("names member ") + member +
                       ", which the package lacks: the "
                       "update stops there");
      }
    }
  }

  void CheckCopyEntry(const std::string& key, bool* diskLocated) {
    const std::string label = "[UPDATE] " + key;
    const std::string value = ReadChecked("UPDATE", key, kCopyList.capacity);
    std::size_t at = 0;
    std::int32_t installMode = 0;
    if (value.size() >= 2 && value[1] == ',') {
      if (value[0] < '0' || value[0] > '9') {
        Add(label, std::string("install-mode filter '") + value[0] +
                       "' is no digit: no install mode 0 to 9 copies the entry");
        return;
      }
      installMode = value[0] - '0';
      at = 2;
    }
    if (value.size() >= at + 2 && value[at + 1] == ':' && (value[at] < '0' || value[at] > '9')) {
      Add(label, std::string("'") + value[at] + ":' is no disk number 1 to 9");
    }
    CopyEntry entry;
    if (!ParseCopyEntry(value.c_str(), installMode, &entry)) return;
    if (entry.sourcePath[0] == '\0') {
      Add(label, "no source path");
      return;
    }
    const bool zeroPrefix = value.size() >= at + 2 && value[at] == '0' && value[at + 1] == ':';
    if (zeroPrefix)
      Add(label, "disk 0 names no disk: the entry takes the drive of the entry before");
    if (entry.diskNumber == 0) {
      if (!*diskLocated)
        Add(label, "names no disk, and no earlier entry locates one: no drive to copy from");
      return;
    }
    *diskLocated = true;
    if (in_.setup != nullptr) {
      char check[kPathCapacity];
      const std::string checkKey = "DiskCheckFile" + std::to_string(entry.diskNumber);
      if (!in_.setup->Read("SETUP", checkKey.c_str(), check, sizeof check)) {
        Add(label, "disk " + std::to_string(entry.diskNumber) + " has no " + checkKey +
                       " in SETUP.INI: the updater can never find the disk");
      }
    }
  }

  const CheckInputs& in_;
  std::vector<CheckFinding> findings_;
};

}  // namespace

std::vector<CheckFinding> CheckManifest(const CheckInputs& inputs) { return Checker(inputs).Run(); }
