#pragma once
// A profile (INI) file read natively the way GetPrivateProfileStringA reads it for the updater:
// lines end at CR or LF; blanks around a line, a key name and its value are dropped; "[name]"
// opens a section (up to the last "]" on the line); "key=value" adds a key, a line without "="
// a key without value. Section and key names compare without regard to ASCII letter case, and
// only the first section of a name and the first key of a name in it are ever found. A value
// enclosed in one pair of equal quotes (' or ") loses them.
#include <cstddef>
#include <string>
#include <vector>

struct ProfileKey {
  std::string name;
  std::string value;  // as the platform hands it out: blanks and enclosing quotes removed
  int line;           // 1-based line of the file
};

struct ProfileSection {
  std::string name;
  std::vector<ProfileKey> keys;  // in file order, duplicates included
  int line;
};

class ProfileFile {
 public:
  // False with a one-line reason when the file cannot be read.
  bool Load(const std::string& path, std::string* error);
  void Parse(const std::string& text);

  // The first section named name, or null.
  const ProfileSection* FindSection(const char* name) const;
  // The key the platform finds, or null.
  const ProfileKey* Find(const char* section, const char* key) const;

  // GetPrivateProfileStringA with the default "" into value (capacity bytes, all cleared first):
  // at most capacity - 1 bytes, and a value cut in the middle of a double-byte character loses
  // its lone lead byte. True when a non-empty value was read.
  bool Read(const char* section, const char* key, char* value, std::size_t capacity) const;

  const std::vector<ProfileSection>& sections() const { return sections_; }

 private:
  std::vector<ProfileSection> sections_;
};

// Names equal without regard to ASCII letter case.
bool ProfileNameEquals(const std::string& a, const char* b);
