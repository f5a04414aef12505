#pragma once
// Profile (INI) files for tests, as the game's installer and the packer leave them: code page
// 932 bytes exactly as given (Windows sources compile their literals to code page 932), every
// line ended by CR LF. Sections are ordered tables of keys that a test overrides or removes key
// by key before it writes the file.
#include <string>
#include <utility>
#include <vector>

// Path of name in the folder "qw-tests" below the temporary folder (created on first use).
std::string TestFilePath(const std::string& name);

// Writes each line followed by CR LF, replacing the file. False when it cannot be written.
bool WriteLines(const std::string& path, const std::vector<std::string>& lines);

class ProfileSection {
 public:
  using Key = std::pair<std::string, std::string>;  // name, value

  explicit ProfileSection(std::string name, std::vector<Key> keys = {});

  // Replaces the value of the key (names compared without regard to ASCII case, as the
  // platform does) or appends the key at the end.
  ProfileSection& Set(const std::string& key, const std::string& value);
  // Drops the key; nothing happens when there is none.
  ProfileSection& Remove(const std::string& key);
  // The key's value, or an empty string when the key is absent.
  std::string Get(const std::string& key) const;

  const std::string& name() const { return name_; }
  const std::vector<Key>& keys() const { return keys_; }
  // "[name]", then "key=value" for every key in order.
  std::vector<std::string> Lines() const;

 private:
  std::vector<Key>::iterator FindKey(const std::string& key);
  std::string name_;
  std::vector<Key> keys_;
};

// Writes the sections in order.
bool WriteProfile(const std::string& path, const std::vector<ProfileSection>& sections);

// Section SETUP of a valid installed "SETUP.INI": every required key, one install selection with
// two files, one shortcut, a window class; no optional key beyond GameClass. The game's
// identity (CompanyName, GameTitle, GameDir, GameClass) equals that of ManifestSetupSection().
ProfileSection InstalledSetupSection();

// Section SETUP of a manifest "UPDATE.INI": the four required keys and an UpdaterVersion.
ProfileSection ManifestSetupSection();

// The manifest: section SETUP as above and section UPDATE, which starts without keys (a test
// lists the members of its own package).
struct ManifestFile {
  ProfileSection setup = ManifestSetupSection();
  ProfileSection update = ProfileSection("UPDATE");
  bool Write(const std::string& path) const { return WriteProfile(path, {setup, update}); }
};

// Writes section SETUP of an installed "SETUP.INI".
bool WriteInstalledSetupIni(const std::string& path,
                            const ProfileSection& setup = InstalledSetupSection());
