// The configuration over real profile files: code page 932 with CR LF line ends, written into
// the test prefix and read through the platform's GetPrivateProfileStringA; every message box is
// a real one, captured with its caption and text.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "config/profile.h"
#include "config/setup_config_loader.h"
#include "config/update_section.h"
#include "tests/support/message_box_capture.h"
#include "tests/support/profile_files.h"

namespace {

// Code page 932 bytes of the system's texts.
#define SO "\x83\x5C"   // katakana so: trail byte 0x5C
#define HYO "\x95\x5C"  // kanji hyo: trail byte 0x5C
#define KEY_MISSING " \x83\x4C\x81\x5B\x82\xAA\x91\xB6\x8D\xDD\x82\xB5\x82\xDC\x82\xB9\x82\xF1"
#define ERROR_WORD " \x83\x47\x83\x89\x81\x5B"
#define OVER_WORD " \x83\x49\x81\x5B\x83\x6F\x81\x5B"

std::string Repeat(const std::string& piece, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += piece;
  return all;
}

// Expects exactly the given texts, each in an error box captioned "INSTCMMN" with OK only and
// no owner.
void ExpectSetupErrors(const std::vector<CapturedBox>& boxes, const std::vector<std::string>& texts,
                       size_t caseIndex) {
  ASSERT_EQ(texts.size(), boxes.size()) << "case " << caseIndex << ": " << Describe(boxes);
  for (size_t b = 0; b < boxes.size(); ++b) {
    EXPECT_EQ("INSTCMMN", boxes[b].caption) << "case " << caseIndex;
    EXPECT_EQ(texts[b], boxes[b].text) << "case " << caseIndex;
    EXPECT_TRUE(boxes[b].hasIcon) << "case " << caseIndex;
    EXPECT_FALSE(boxes[b].hasCancel) << "case " << caseIndex;
    EXPECT_EQ(nullptr, boxes[b].owner) << "case " << caseIndex;
  }
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetUpdaterState(); }
  void TearDown() override { ResetUpdaterState(); }

  static void UseSetupIni(const std::string& path) {
    lstrcpynA(g_updater.setupIniPath, path.c_str(), sizeof g_updater.setupIniPath);
  }
  static void UseManifest(const std::string& path) {
    lstrcpynA(g_updater.tempManifestPath, path.c_str(), sizeof g_updater.tempManifestPath);
  }
};

// ---- The readers ----

const std::vector<std::string> kReaderLines = {
    "[SETUP]",
    "Title=" SO HYO,
    "Empty=",
    "Number=12abc",
    "Word=abc",
    "Negative=  -42",
    "Zeros=00000000000000000012345",
    "Exact=" + std::string(259, 'a'),
    "Long=" + std::string(300, 'b'),
    "LongKanji=a" + Repeat(HYO, 150),
    "LongKanji2=aa" + Repeat(HYO, 150),
    "[OTHER]",
    "Other=1",
};

struct StringCase {
  const char* key;
  size_t capacity;
  bool found;
  std::string value;
};

TEST_F(ConfigTest, ReadSetupStringClearsTheWholeBufferAndReportsMissingKeys) {
  const std::string path = TestFilePath("readers.ini");
  ASSERT_TRUE(WriteLines(path, kReaderLines));
  UseSetupIni(path);
  const StringCase cases[] = {
      {"Title", 260, true, SO HYO},
      {"tItLe", 260, true, SO HYO},
      {"Title", 4, true, SO},
      {"Number", 20, true, "12abc"},
      {"Exact", 260, true, std::string(259, 'a')},
      {"Long", 260, true, std::string(259, 'b')},
      {"LongKanji", 260, true, "a" + Repeat(HYO, 129)},
      {"LongKanji2", 260, true, "aa" + Repeat(HYO, 128)},
      {"Empty", 260, false, ""},
      {"Missing", 260, false, ""},
      {"Other", 260, false, ""},
  };
  for (int silent = 0; silent <= 1; ++silent) {
    g_updater.silentMissingKeys = silent;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
      const StringCase& c = cases[i];
      MessageBoxCapture capture;
      std::vector<char> buffer(c.capacity + 1, 'x');
      EXPECT_EQ(c.found, ReadSetupString(c.key, buffer.data(), c.capacity)) << "case " << i;
      EXPECT_EQ(c.value, buffer.data()) << "case " << i;
      for (size_t b = c.value.size(); b < c.capacity; ++b) {
        ASSERT_EQ('\0', buffer[b]) << "case " << i << ": byte " << b << " not cleared";
      }
      EXPECT_EQ('x', buffer[c.capacity]) << "case " << i << ": written past the buffer";
      std::vector<std::string> messages;
      if (!c.found && !silent)
        messages.push_back(std::string("SETUP.INI : ") + c.key + KEY_MISSING);
      ExpectSetupErrors(capture.boxes(), messages, i + 100 * silent);
    }
  }
}

TEST_F(ConfigTest, ReadSetupIntTakesTheLeadingNumberOfAt19Characters) {
  const std::string path = TestFilePath("readers-int.ini");
  ASSERT_TRUE(WriteLines(path, kReaderLines));
  UseSetupIni(path);
  const struct {
    const char* key;
    bool found;
    std::int32_t value;
  } cases[] = {
      {"Number", true, 12}, {"Word", true, 0},     {"Negative", true, -42},
      {"Zeros", true, 1},   {"Empty", false, 777}, {"Missing", false, 777},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    MessageBoxCapture capture;
    std::int32_t value = 777;
    EXPECT_EQ(cases[i].found, ReadSetupInt(cases[i].key, &value)) << "case " << i;
    EXPECT_EQ(cases[i].value, value) << "case " << i;
    std::vector<std::string> messages;
    if (!cases[i].found)
      messages.push_back(std::string("SETUP.INI : ") + cases[i].key + KEY_MISSING);
    ExpectSetupErrors(capture.boxes(), messages, i);
  }
}

TEST_F(ConfigTest, ReadProfileStringNamesTheSectionAndTheKey) {
  ManifestFile manifest;
  manifest.setup.Remove("CompanyName").Set("GameDir", "");
  manifest.update.Set("RequiredDiskSpace", "100");
  const std::string path = TestFilePath("manifest-readers.ini");
  ASSERT_TRUE(manifest.Write(path));
  UseManifest(path);
  const struct {
    const char* section;
    const char* key;
    bool found;
    std::string value;
  } cases[] = {
      {"SETUP", "GameTitle", true, manifest.setup.Get("GameTitle")},
      {"setup", "GAMECLASS", true, manifest.setup.Get("GameClass")},
      {"UPDATE", "RequiredDiskSpace", true, "100"},
      {"SETUP", "CompanyName", false, ""},
      {"SETUP", "GameDir", false, ""},
      {"UPDATE", "GameTitle", false, ""},
      {"NOSECTION", "GameTitle", false, ""},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    MessageBoxCapture capture;
    char value[260];
    std::memset(value, 'x', sizeof value);
    EXPECT_EQ(cases[i].found,
              ReadProfileString(cases[i].section, cases[i].key, value, sizeof value))
        << "case " << i;
    EXPECT_EQ(cases[i].value, value) << "case " << i;
    std::vector<std::string> messages;
    if (!cases[i].found) {
      messages.push_back(std::string(cases[i].section) + " : " + cases[i].key + KEY_MISSING);
    }
    ExpectSetupErrors(capture.boxes(), messages, i);
  }
}

TEST_F(ConfigTest, AMissingFileIsAMissingKey) {
  UseSetupIni(TestFilePath("no-such-setup.ini"));
  UseManifest(TestFilePath("no-such-update.ini"));
  MessageBoxCapture capture;
  char value[20] = "keep";
  EXPECT_FALSE(ReadSetupString("GameExe", value, sizeof value));
  EXPECT_STREQ("", value);
  EXPECT_FALSE(ReadProfileString("SETUP", "GameDir", value, sizeof value));
  ExpectSetupErrors(capture.boxes(),
                    {"SETUP.INI : GameExe" KEY_MISSING, "SETUP : GameDir" KEY_MISSING}, 0);
}

TEST_F(ConfigTest, ShowSetupErrorIsOwnedByTheMainWindow) {
  HWND window = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(nullptr, window);
  g_updater.mainWindow = window;
  MessageBoxCapture capture;
  ShowSetupError("SETUP.INI : GameExe" KEY_MISSING);
  DestroyWindow(window);
  ASSERT_EQ(1u, capture.boxes().size()) << Describe(capture.boxes());
  EXPECT_EQ(window, capture.boxes()[0].owner);
  EXPECT_EQ("INSTCMMN", capture.boxes()[0].caption);
  EXPECT_EQ("SETUP.INI : GameExe" KEY_MISSING, capture.boxes()[0].text);
}

// ---- Section UPDATE ----

struct ExpectedUpdate {
  UpdateMode mode;
  const char* relativePath;
  std::int32_t baseNameOffset;
};
struct ExpectedCopy {
  std::int32_t diskNumber;
  std::string sourcePath;
};
struct UpdateSectionCase {
  std::vector<ProfileSection::Key> keys;
  std::int32_t instMode;
  std::int32_t requiredDiskSpace;
  std::int32_t overwriteOnly;
  std::int32_t updateKeySeen;
  std::vector<ExpectedUpdate> updates;
  std::int32_t copyKeySeen;
  std::vector<ExpectedCopy> copies;
};

// Keys Name00 to Name<count - 1>, each valued Value<index>.
std::vector<ProfileSection::Key> NumberedKeys(const char* name, const char* value, int count) {
  std::vector<ProfileSection::Key> keys;
  for (int i = 0; i < count; ++i) {
    char key[32];
    char text[32];
    wsprintfA(key, "%s%02i", name, i);
    wsprintfA(text, "%s%i", value, i);
    keys.emplace_back(key, text);
  }
  return keys;
}

std::vector<UpdateSectionCase> UpdateSectionCases() {
  std::vector<UpdateSectionCase> cases = {
      {{}, 0, 0, 0, 0, {}, 0, {}},
      {{{"UpdateFile01", "A.DAT"}, {"CopyFile01", "B.DAT"}}, 0, 0, 0, 0, {}, 0, {}},
      {{{"UpdateFile00", ""}, {"UpdateFile01", "A.DAT"}}, 0, 0, 0, 0, {}, 0, {}},
      {{{"UpdateFile00", "A.DAT"}, {"UpdateFile01", "B.DAT"}, {"UpdateFile03", "D.DAT"}},
       0,
       0,
       0,
       1,
       {{modePlain, "A.DAT", 0}, {modePlain, "B.DAT", 0}},
       0,
       {}},
      {{{"updatefile00", "DATA\\" SO HYO ".DAT"}, {"COPYFILE00", "2:MOVIE\\OP.MPG"}},
       0,
       0,
       0,
       1,
       {{modePlain, "DATA\\" SO HYO ".DAT", 5}},
       1,
       {{2, "MOVIE\\OP.MPG"}}},
      {{{"UpdateFile00", "1,u,SAVE\\A.DAT"}}, 1, 0, 0, 1, {{modeNewer, "SAVE\\A.DAT", 5}}, 0, {}},
      {{{"UpdateFile00", "1,u,SAVE\\A.DAT"}}, 2, 0, 0, 1, {}, 0, {}},
      {{{"UpdateFile00", "1,A.DAT"},
        {"UpdateFile01", "2,d,B.DAT"},
        {"UpdateFile02", "o,C.DAT"},
        {"UpdateFile03", "1,D.DAT"}},
       2,
       0,
       0,
       1,
       {{modeData, "B.DAT", 0}, {modeExisting, "C.DAT", 0}},
       0,
       {}},
      {{{"CopyFile00", "2,1:MOVIE"}, {"CopyFile01", "3,2:VOICE"}, {"CopyFile02", "DIR\\A, B ,C"}},
       2,
       0,
       0,
       0,
       {},
       1,
       {{1, "MOVIE"}, {0, "DIR\\A, B ,C"}}},
      {{{"CopyFile00", "3,1:MOVIE"}}, 2, 0, 0, 0, {}, 1, {}},
      {{{"CopyFile00", "1:" + std::string(300, 'c')}},
       0,
       0,
       0,
       0,
       {},
       1,
       {{1, std::string(257, 'c')}}},  // the read keeps 259 bytes
      {{{"RequiredDiskSpace", "650000000"}, {"OverwriteOnly", "1"}}, 0, 650000000, 1, 0, {}, 0, {}},
      {{{"RequiredDiskSpace", "12MB"}, {"OverwriteOnly", "2"}}, 0, 12, 1, 0, {}, 0, {}},
      {{{"RequiredDiskSpace", "-5"}, {"OverwriteOnly", "0"}}, 0, 0, 0, 0, {}, 0, {}},
      {{{"RequiredDiskSpace", "abc"}, {"OverwriteOnly", "abc"}}, 0, 0, 0, 0, {}, 0, {}},
      {{{"RequiredDiskSpace", "99999999999"}}, 0, 2147483647, 0, 0, {}, 0, {}},
  };
  // Seventeen keys of each list: only 00 to 15 are read.
  UpdateSectionCase seventeen{NumberedKeys("UpdateFile", "F", 17), 0, 0, 0, 1, {}, 1, {}};
  const std::vector<ProfileSection::Key> copies = NumberedKeys("CopyFile", "C", 17);
  seventeen.keys.insert(seventeen.keys.end(), copies.begin(), copies.end());
  static const char* const kNames[] = {"F0", "F1", "F2",  "F3",  "F4",  "F5",  "F6",  "F7",
                                       "F8", "F9", "F10", "F11", "F12", "F13", "F14", "F15"};
  static const char* const kCopies[] = {"C0", "C1", "C2",  "C3",  "C4",  "C5",  "C6",  "C7",
                                        "C8", "C9", "C10", "C11", "C12", "C13", "C14", "C15"};
  for (int i = 0; i < 16; ++i) {
    seventeen.updates.push_back({modePlain, kNames[i], 0});
    seventeen.copies.push_back({0, kCopies[i]});
  }
  cases.push_back(seventeen);
  return cases;
}

TEST_F(ConfigTest, ReadUpdateSectionBuildsBothListsSilently) {
  const std::vector<UpdateSectionCase> cases = UpdateSectionCases();
  g_updater.silentMissingKeys = 1;  // set by the installation check long before the update page
  for (size_t i = 0; i < cases.size(); ++i) {
    const UpdateSectionCase& c = cases[i];
    ManifestFile manifest;
    for (const ProfileSection::Key& key : c.keys) manifest.update.Set(key.first, key.second);
    const std::string path = TestFilePath("update-" + std::to_string(i) + ".ini");
    ASSERT_TRUE(manifest.Write(path)) << "case " << i;
    UseManifest(path);
    g_updater.installRecord.instMode = c.instMode;
    // What an earlier run of the page left behind.
    UpdateManifest& m = g_updater.manifest;
    m.requiredDiskSpace = 7;
    m.overwriteOnly = 1;
    m.updateCount = 5;
    m.updateKeySeen = 1;
    m.copyCount = 5;
    m.copyKeySeen = 1;

    MessageBoxCapture capture;
    ReadUpdateSection();
    EXPECT_TRUE(capture.boxes().empty()) << "case " << i << ": " << Describe(capture.boxes());
    EXPECT_EQ(c.requiredDiskSpace, m.requiredDiskSpace) << "case " << i;
    EXPECT_EQ(c.overwriteOnly, m.overwriteOnly) << "case " << i;
    EXPECT_EQ(c.updateKeySeen, m.updateKeySeen) << "case " << i;
    EXPECT_EQ(c.copyKeySeen, m.copyKeySeen) << "case " << i;
    ASSERT_EQ(static_cast<std::int32_t>(c.updates.size()), m.updateCount) << "case " << i;
    for (size_t e = 0; e < c.updates.size(); ++e) {
      EXPECT_EQ(c.updates[e].mode, m.updateEntries[e].mode) << "case " << i << " entry " << e;
      EXPECT_STREQ(c.updates[e].relativePath, m.updateEntries[e].relativePath)
          << "case " << i << " entry " << e;
      EXPECT_EQ(c.updates[e].baseNameOffset, m.updateEntries[e].baseNameOffset)
          << "case " << i << " entry " << e;
    }
    ASSERT_EQ(static_cast<std::int32_t>(c.copies.size()), m.copyCount) << "case " << i;
    for (size_t e = 0; e < c.copies.size(); ++e) {
      EXPECT_EQ(c.copies[e].diskNumber, m.copyEntries[e].diskNumber) << "case " << i;
      EXPECT_EQ(c.copies[e].sourcePath, m.copyEntries[e].sourcePath)
          << "case " << i << " entry " << e;
    }
  }
}

// ---- The installed SETUP.INI ----

// A key to set, or with a null value to remove, before the file is written.
struct Edit {
  std::string key;
  std::optional<std::string> value;
};

ProfileSection EditedSetup(const std::vector<Edit>& edits) {
  ProfileSection setup = InstalledSetupSection();
  for (const Edit& edit : edits) {
    if (edit.value) {
      setup.Set(edit.key, *edit.value);
    } else {
      setup.Remove(edit.key);
    }
  }
  return setup;
}

std::vector<Edit> Numbered(const char* format, int from, int to, const char* value) {
  std::vector<Edit> edits;
  for (int n = from; n < to; ++n) {
    char key[32];
    wsprintfA(key, format, n);
    edits.push_back({key, value});
  }
  return edits;
}

std::vector<Edit> Join(std::vector<Edit> a, const std::vector<Edit>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct LoadMessageCase {
  std::vector<Edit> edits;
  std::int32_t silentBefore;
  bool loaded;
  std::vector<std::string> messages;
  std::int32_t silentAfter;
};

std::vector<LoadMessageCase> LoadMessageCases() {
  std::vector<LoadMessageCase> cases;
  const char* const kRequired[] = {"CompanyName",   "GameTitle", "GameDir",        "GameExe",
                                   "UninstExe",     "SetupBmp",  "InstallSelects", "InstallTitle0",
                                   "InstallFiles0", "Shortcuts", "Shortcut0"};
  // An absent required key fails silently in the updater, where the flag is set. With the flag
  // clear it is reported: one key of each step here, an empty GameDir and InstallFiles0 below,
  // and CompanyName without a file in a test of its own.
  for (const char* key : kRequired) cases.push_back({{{key, std::nullopt}}, 1, false, {}, 1});
  for (const char* key :
       {"UninstExe", "SetupBmp", "InstallSelects", "InstallTitle0", "Shortcuts", "Shortcut0"}) {
    cases.push_back(
        {{{key, std::nullopt}}, 0, false, {std::string("SETUP.INI : ") + key + KEY_MISSING}, 0});
  }
  const std::vector<Edit> threeSelections =
      Join(Numbered("InstallTitle%i", 1, 3, "T"), Numbered("InstallFiles%i", 1, 3, "F.DAT"));
  const std::vector<LoadMessageCase> more = {
      {{}, 0, true, {}, 1},
      {{{"GameDir", ""}}, 0, false, {"SETUP.INI : GameDir" KEY_MISSING}, 0},
      {{{"InstallFiles0", ""}}, 0, false, {"SETUP.INI : InstallFiles0" KEY_MISSING}, 0},
      {{{"GameClass", std::nullopt}, {"DefaultSelect", ""}}, 0, true, {}, 1},
      {{{"SetupBmp", ",A.BMP"}}, 1, false, {"SETUP.INI : SetupBmps" ERROR_WORD}, 1},
      {{{"SetupBmp", "  ,A.BMP"}}, 0, false, {"SETUP.INI : SetupBmps" ERROR_WORD}, 0},
      {Join({{"InstallSelects", "3"}}, threeSelections), 1, true, {}, 1},
      {Join({{"InstallSelects", "4"}}, threeSelections),
       1,
       false,
       {"SETUP.INI : InstallSelect" OVER_WORD},
       1},
      {{{"InstallSelects", "0"}, {"InstallTitle0", std::nullopt}, {"InstallFiles0", std::nullopt}},
       0,
       true,
       {},
       1},
      {{{"InstallSelects", "-1"}, {"InstallTitle0", std::nullopt}, {"InstallFiles0", std::nullopt}},
       0,
       true,
       {},
       1},
      {{{"InstallFiles0", ",A.DAT"}}, 1, false, {"SETUP.INI : InstallFiles0" ERROR_WORD}, 1},
      {{{"InstallSelects", "2"}, {"InstallTitle1", "T"}, {"InstallFiles1", " , A.DAT"}},
       1,
       false,
       {"SETUP.INI : InstallFiles1" ERROR_WORD},
       1},
      {Join({{"Shortcuts", "10"}}, Numbered("Shortcut%i", 0, 10, "A,B")), 1, true, {}, 1},
      {Join({{"Shortcuts", "11"}}, Numbered("Shortcut%i", 0, 11, "A,B")),
       1,
       false,
       {"SETUP.INI : Shortcuts" OVER_WORD},
       1},
      {{{"Shortcuts", "0"}, {"Shortcut0", std::nullopt}}, 0, true, {}, 1},
      {Join({{"Shortcuts", "4"}, {"Shortcut3", "ONLY.EXE"}}, Numbered("Shortcut%i", 1, 3, "A,B")),
       1,
       false,
       {"SETUP.INI : Shortcut3" ERROR_WORD},
       1},
      {{{"Shortcut0", ",A.EXE"}}, 1, false, {"SETUP.INI : Shortcut0" ERROR_WORD}, 1},
      {{{"ExecApp", "Explorer.exe"}}, 0, false, {"SETUP.INI : ExecApp" ERROR_WORD}, 1},
      {{{"ExecApp", ",README.TXT"}}, 0, false, {"SETUP.INI : ExecApp" ERROR_WORD}, 1},
  };
  cases.insert(cases.end(), more.begin(), more.end());
  return cases;
}

TEST_F(ConfigTest, LoadSetupConfigReportsEveryFailureOfItsChecks) {
  const std::vector<LoadMessageCase> cases = LoadMessageCases();
  for (size_t i = 0; i < cases.size(); ++i) {
    const LoadMessageCase& c = cases[i];
    ResetUpdaterState();
    const std::string path = TestFilePath("setup-check-" + std::to_string(i) + ".ini");
    ASSERT_TRUE(WriteInstalledSetupIni(path, EditedSetup(c.edits))) << "case " << i;
    UseSetupIni(path);
    g_updater.silentMissingKeys = c.silentBefore;
    MessageBoxCapture capture;
    EXPECT_EQ(c.loaded, LoadSetupConfig()) << "case " << i;
    ExpectSetupErrors(capture.boxes(), c.messages, i);
    EXPECT_EQ(c.silentAfter, g_updater.silentMissingKeys) << "case " << i;
  }
}

TEST_F(ConfigTest, LoadSetupConfigWithoutAFileFailsAtTheFirstKey) {
  UseSetupIni(TestFilePath("no-such-installed-setup.ini"));
  MessageBoxCapture capture;
  EXPECT_FALSE(LoadSetupConfig());
  ExpectSetupErrors(capture.boxes(), {"SETUP.INI : CompanyName" KEY_MISSING}, 0);
}

TEST_F(ConfigTest, LoadSetupConfigReplacesTheManifestIdentityAndKeepsItAfterAFailure) {
  const ProfileSection setup = EditedSetup({{"CompanyName", "MAKER"},
                                            {"GameTitle", SO HYO " 2"},
                                            {"GameDir", "GAME2"},
                                            {"GameClass", "Game2Window"},
                                            {"UninstExe", std::nullopt}});
  const std::string path = TestFilePath("setup-identity.ini");
  ASSERT_TRUE(WriteInstalledSetupIni(path, setup));
  for (int complete = 0; complete <= 1; ++complete) {
    ResetUpdaterState();
    g_updater.silentMissingKeys = 1;
    UpdateManifest& m = g_updater.manifest;
    lstrcpyA(m.companyName, "OLD");
    lstrcpyA(m.gameTitle, "OLD");
    lstrcpyA(m.gameDir, "OLD");
    lstrcpyA(m.gameClass, "OLD");
    const std::string file = complete ? TestFilePath("setup-identity-complete.ini") : path;
    if (complete) {
      ASSERT_TRUE(WriteInstalledSetupIni(file, ProfileSection(setup).Set("UninstExe", "U.EXE")));
    }
    UseSetupIni(file);
    MessageBoxCapture capture;
    EXPECT_EQ(complete == 1, LoadSetupConfig()) << "case " << complete;
    EXPECT_TRUE(capture.boxes().empty()) << "case " << complete;
    EXPECT_STREQ("MAKER", m.companyName) << "case " << complete;
    EXPECT_STREQ(SO HYO " 2", m.gameTitle) << "case " << complete;
    EXPECT_STREQ("GAME2", m.gameDir) << "case " << complete;
    EXPECT_STREQ(complete ? "Game2Window" : "OLD", m.gameClass) << "case " << complete;
    EXPECT_STREQ(setup.Get("GameExe").c_str(), g_updater.setupConfig.gameExe)
        << "case " << complete;
  }
}

using Observe = std::function<std::string(const UpdaterState&)>;

struct LoadValueCase {
  std::vector<Edit> edits;
  Observe observe;
  std::string expected;
};

std::string Number(std::int64_t value) { return std::to_string(value); }

// The names of one install selection up to its first empty slot, each with its disk number,
// then its disk flag.
std::string Files(const SetupConfig& config, int n) {
  std::string all;
  int j = 0;
  for (; j < kMaxInstallFiles && config.installFiles[n][j][0]; ++j) {
    all += std::string(config.installFiles[n][j]) + ":" + Number(config.installDisks[n][j]) + " ";
  }
  return all + "count=" + Number(j) + " uses=" + Number(config.installUsesDisks[n]);
}

std::string SetupBmps(const SetupConfig& config) {
  std::string all;
  int j = 0;
  for (; j < kMaxSetupBmps && config.setupBmps[j][0]; ++j)
    all += std::string(config.setupBmps[j]) + " ";
  return all + "count=" + Number(j) + " last=" + Number(config.setupBmpLast);
}

std::string Fields(const char (*fields)[kPathCapacity], int count) {
  std::string all = fields[0];
  for (int f = 1; f < count; ++f) all += std::string("|") + fields[f];
  return all;
}

// prefix0, prefix1, ... prefix<count - 1>, joined by separator.
std::string ListOf(const char* prefix, int count, const char* separator = ",") {
  std::string all;
  for (int i = 0; i < count; ++i) all += (i ? separator : "") + std::string(prefix) + Number(i);
  return all;
}

std::vector<LoadValueCase> LoadValueCases() {
  const Observe gameTitle = [](const UpdaterState& s) { return std::string(s.manifest.gameTitle); };
  const Observe gameClass = [](const UpdaterState& s) {
    return std::string(s.manifest.gameClass) + " tvp=" + Number(s.setupConfig.tvpWindowForm);
  };
  const Observe bmps = [](const UpdaterState& s) { return SetupBmps(s.setupConfig); };
  const Observe files0 = [](const UpdaterState& s) { return Files(s.setupConfig, 0); };
  const Observe files1 = [](const UpdaterState& s) { return Files(s.setupConfig, 1); };
  const Observe shortcut0 = [](const UpdaterState& s) {
    return Fields(s.setupConfig.shortcuts[0], 3);
  };
  const Observe execApp = [](const UpdaterState& s) { return Fields(s.setupConfig.execApp, 2); };
  const Observe disks = [](const UpdaterState& s) {
    return Fields(s.setupConfig.diskCheckFiles, 10);
  };
  const Observe directX = [](const UpdaterState& s) { return Number(s.setupConfig.directXFlags); };
  const Observe defaultSelect = [](const UpdaterState& s) {
    return Number(s.setupConfig.defaultSelect);
  };
  const Observe size0 = [](const UpdaterState& s) {
    return Number(static_cast<std::int64_t>(s.setupConfig.installSizes[0]));
  };
  const Observe flags = [](const UpdaterState& s) {
    return Number(s.setupConfig.useCompanyNameForShortcutGroup) +
           Number(s.setupConfig.chooseSaveDataFolder) + Number(s.setupConfig.cancelSaveData);
  };
  const Observe messages = [](const UpdaterState& s) {
    return std::string(s.setupConfig.installDXMessage) + "|" + s.setupConfig.selectSetupMessage;
  };
  const Observe saveData = [](const UpdaterState& s) {
    return std::string(s.setupConfig.saveDataFolderName);
  };
  const Observe texts = [](const UpdaterState& s) {
    return std::string(s.setupConfig.gameExe) + "|" + s.setupConfig.uninstExe + "|" +
           s.setupConfig.installTitles[0] + "|" + Number(s.setupConfig.installSelects) + "|" +
           Number(s.setupConfig.shortcutCount);
  };

  return {
      {{{"GameTitle", SO HYO}}, gameTitle, SO HYO},
      {{{"GameExe", "G.EXE"}, {"UninstExe", "U.EXE"}, {"InstallTitle0", HYO SO}},
       texts,
       "G.EXE|U.EXE|" HYO SO "|1|1"},
      {{}, bmps, "SETUP1.BMP SETUP2.BMP count=2 last=1"},
      {{{"SetupBmp", "ONE.BMP"}}, bmps, "ONE.BMP count=1 last=0"},
      {{{"SetupBmp", " 1:A.BMP , B.BMP"}}, bmps, "A.BMP  B.BMP count=2 last=1"},
      {{{"SetupBmp", ListOf("B", 25)}}, bmps, ListOf("B", 20, " ") + " count=20 last=19"},
      {{{"InstallFiles0", "1:A.DAT,B.DAT,2:C.DAT"}},
       files0,
       "A.DAT:1 B.DAT:1 C.DAT:2 count=3 uses=1"},
      {{{"InstallFiles0", "A.DAT,B.DAT"}}, files0, "A.DAT:0 B.DAT:0 count=2 uses=0"},
      {{{"InstallFiles0", "A.DAT,0:B.DAT"}}, files0, "A.DAT:0 B.DAT:0 count=2 uses=0"},
      {{{"InstallSelects", "2"},
        {"InstallFiles0", "3:A.DAT"},
        {"InstallTitle1", "T"},
        {"InstallFiles1", "B.DAT"}},
       files1,
       "B.DAT:0 count=1 uses=0"},
      {{{"InstallFiles0", ListOf("F", 45)}},
       files0,
       "F0:0 F1:0 F2:0 F3:0 F4:0 F5:0 F6:0 F7:0 F8:0 F9:0 F10:0 F11:0 F12:0 F13:0 F14:0 F15:0 "
       "F16:0 "
       "F17:0 F18:0 F19:0 F20:0 F21:0 F22:0 F23:0 F24:0 F25:0 F26:0 F27:0 F28:0 F29:0 F30:0 F31:0 "
       "F32:0 F33:0 F34:0 F35:0 F36:0 F37:0 F38:0 F39:0 count=40 uses=0"},
      {{{"Shortcut0", SO HYO ",GAME.EXE"}}, shortcut0, SO HYO "|GAME.EXE|"},
      {{{"Shortcut0", "A,B,C,D"}}, shortcut0, "A|B|C"},
      {{{"Shortcut0", ("A," + std::string(300, 'b'))}},
       shortcut0,
       "A|" + std::string(257, 'b') + "|"},
      {{{"GameClass", std::nullopt}, {"GameTitle", SO HYO}}, gameClass, SO HYO " tvp=0"},
      {{{"GameClass", "TTVPWindowForm"}}, gameClass, "TTVPWindowForm tvp=1"},
      {{{"GameClass", "ttvpwindowform"}}, gameClass, "ttvpwindowform tvp=0"},
      {{{"GameClass", "TTVP-WindowForm"}}, gameClass, "TTVP-WindowForm tvp=0"},
      {{{"GameClass", std::nullopt}, {"GameTitle", "TTVPWindowForm"}},
       gameClass,
       "TTVPWindowForm tvp=1"},
      {{}, defaultSelect, "0"},
      {{{"DefaultSelect", "2"}}, defaultSelect, "2"},
      {{{"DefaultSelect", "7"}}, defaultSelect, "7"},
      {{}, size0, "0"},
      {{{"InstallSize0", "650000000"}}, size0, "650000000"},
      {{{"InstallSize0", " 4294967296000 bytes"}}, size0, "4294967296000"},
      {{{"InstallSize0", "123456789012345678901"}}, size0, "1234567890123456789"},
      {{{"InstallSize0", "-5"}}, size0, "0"},
      // No selection: no InstallSize key is read, the stale value stays.
      {{{"InstallSelects", "0"}, {"InstallSize0", "5"}}, size0, "99"},
      {{}, disks, "|||||||||"},
      {{{"DiskCheckFile1", "DISK1.TXT"}, {"DiskCheckFile9", HYO ".TXT"}, {"DiskCheckFile10", "X"}},
       disks,
       "|DISK1.TXT||||||||" HYO ".TXT"},
      {{}, execApp, "|stale"},
      {{{"ExecApp", "Explorer.exe,README.TXT"}}, execApp, "Explorer.exe|README.TXT"},
      {{{"ExecApp", "A.EXE,B.TXT,C.TXT"}}, execApp, "A.EXE|B.TXT"},
      {{}, directX, "0"},
      {{{"InstallDirectX", "0"}}, directX, "65536"},
      {{{"InstallDirectX", "1"}}, directX, "65544"},
      {{{"InstallDirectX", "2"}}, directX, "65552"},
      {{{"InstallDirectX", "3"}}, directX, "65560"},
      {{{"InstallDirectX", "6"}}, directX, "65552"},
      {{{"InstallDirectX", "abc"}}, directX, "65536"},
      {{},
       messages,
       "\x82\x63\x82\x89\x82\x92\x82\x85\x82\x83\x82\x94\x82\x77\x82\xF0\x83\x43\x83\x93\x83\x58"
       "\x83\x67"
       "\x81\x5B\x83\x8B\x82\xB7\x82\xE9|"
       "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x95\xFB\x96\x40"
       "\x82\xF0\x91\x49\x91\xF0\x82\xB5\x82\xC4\x89\xBA\x82\xB3\x82\xA2"},
      {{{"InstallDXMessage", "DX " HYO}, {"SelectSetupMessage", SO "?"}},
       messages,
       "DX " HYO "|" SO "?"},
      {{{"GameDir", "SAVEDIR"}}, saveData, "SAVEDIR"},
      {{{"SaveDataFolderName", "SAVE " HYO}}, saveData, "SAVE " HYO},
      {{}, flags, "000"},
      {{{"UseCompanyNameForShortcutGroup", "1"},
        {"ChooseSaveDataFolder", "5"},
        {"CancelSaveData", "1"}},
       flags,
       "111"},
      {{{"UseCompanyNameForShortcutGroup", "0"},
        {"ChooseSaveDataFolder", "abc"},
        {"CancelSaveData", "0"}},
       flags,
       "000"},
  };
}

// Values an earlier load could have left: the loader must write every one of them.
void FillStaleValues(SetupConfig& config) {
  lstrcpyA(config.setupBmps[1], "stale");
  lstrcpyA(config.setupBmps[2], "stale");
  lstrcpyA(config.installFiles[0][2], "stale");
  lstrcpyA(config.installFiles[0][3], "stale");
  lstrcpyA(config.shortcuts[0][2], "stale");
  lstrcpyA(config.execApp[0], "stale");
  lstrcpyA(config.execApp[1], "stale");
  for (char* file : config.diskCheckFiles) lstrcpyA(file, "stale");
  config.defaultSelect = 99;
  config.installSizes[0] = 99;
  config.directXFlags = 99;
  config.useCompanyNameForShortcutGroup = 99;
  config.chooseSaveDataFolder = 99;
  config.cancelSaveData = 99;
}

TEST_F(ConfigTest, LoadSetupConfigFillsEveryValueWithItsDefaults) {
  const std::vector<LoadValueCase> cases = LoadValueCases();
  for (size_t i = 0; i < cases.size(); ++i) {
    const LoadValueCase& c = cases[i];
    ResetUpdaterState();
    FillStaleValues(g_updater.setupConfig);
    const std::string path = TestFilePath("setup-value-" + std::to_string(i) + ".ini");
    ASSERT_TRUE(WriteInstalledSetupIni(path, EditedSetup(c.edits))) << "case " << i;
    UseSetupIni(path);
    MessageBoxCapture capture;
    ASSERT_TRUE(LoadSetupConfig()) << "case " << i << ": " << Describe(capture.boxes());
    EXPECT_EQ(c.expected, c.observe(g_updater)) << "case " << i;
  }
}

}  // namespace
