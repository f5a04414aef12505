#include "tests/support/profile_files.h"

#include <windows.h>

#include <algorithm>

#include "app/win32_handles.h"

namespace {

bool SameKeyName(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::string TestFilePath(const std::string& name) {
  char folder[MAX_PATH] = {};
  GetTempPathA(sizeof folder, folder);
  std::string path = std::string(folder) + "qw-tests";
  CreateDirectoryA(path.c_str(), nullptr);
  return path + "\\" + name;
}

bool WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

ProfileSection::ProfileSection(std::string name, std::vector<Key> keys)
    : name_(std::move(name)), keys_(std::move(keys)) {}

std::vector<ProfileSection::Key>::iterator ProfileSection::FindKey(const std::string& key) {
  return std::find_if(keys_.begin(), keys_.end(),
                      [&](const Key& k) { return SameKeyName(k.first, key); });
}

ProfileSection& ProfileSection::Set(const std::string& key, const std::string& value) {
  auto found = FindKey(key);
  if (found != keys_.end()) {
    found->second = value;
  } else {
    keys_.emplace_back(key, value);
  }
  return *this;
}

ProfileSection& ProfileSection::Remove(const std::string& key) {
  auto found = FindKey(key);
  if (found != keys_.end()) keys_.erase(found);
  return *this;
}

std::string ProfileSection::Get(const std::string& key) const {
  for (const Key& k : keys_) {
    if (SameKeyName(k.first, key)) return k.second;
  }
  return {};
}

std::vector<std::string> ProfileSection::Lines() const {
  std::vector<std::string> lines{"[" + name_ + "]"};
  for (const Key& k : keys_) lines.push_back(k.first + "=" + k.second);
  return lines;
}

bool WriteProfile(const std::string& path, const std::vector<ProfileSection>& sections) {
  std::vector<std::string> lines;
  for (const ProfileSection& section : sections) {
    const std::vector<std::string> own = section.Lines();
    lines.insert(lines.end(), own.begin(), own.end());
  }
  return WriteLines(path, lines);
}

namespace {
// The game of the test fixtures; its title holds the two double-byte characters ソ and 表 whose
// trail byte is the backslash code.
const char kCompanyName[] = "NORVALE";
const char kGameTitle[] = "ソ表クエスト";
const char kGameDir[] = "SOHYOU";
const char kGameClass[] = "SohyouWindow";
}  // namespace

ProfileSection InstalledSetupSection() {
  return ProfileSection("SETUP", {
                                     {"CompanyName", kCompanyName},
                                     {"GameTitle", kGameTitle},
                                     {"GameDir", kGameDir},
                                     {"GameExe", "SOHYOU.EXE"},
                                     {"UninstExe", "UNINST.EXE"},
                                     {"SetupBmp", "SETUP1.BMP,SETUP2.BMP"},
                                     {"InstallSelects", "1"},
                                     {"InstallTitle0", "標準インストール"},
                                     {"InstallFiles0", "SOHYOU.EXE,DATA.BIN"},
                                     {"Shortcuts", "1"},
                                     {"Shortcut0", "ソ表クエスト,SOHYOU.EXE"},
                                     {"GameClass", kGameClass},
                                 });
}

ProfileSection ManifestSetupSection() {
  return ProfileSection("SETUP", {
                                     {"CompanyName", kCompanyName},
                                     {"GameTitle", kGameTitle},
                                     {"GameClass", kGameClass},
                                     {"GameDir", kGameDir},
                                     {"UpdaterVersion", "1.01"},
                                 });
}

bool WriteInstalledSetupIni(const std::string& path, const ProfileSection& setup) {
  return WriteProfile(path, {setup});
}
