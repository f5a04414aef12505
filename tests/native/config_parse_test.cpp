// The configuration's pure parts: the list splitter, the manifest's two entry forms and the
// number and character rules of profile values.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "config/list_field.h"
#include "config/profile_value.h"
#include "config/update_entry.h"

namespace {

// "\x83\x5C" is the katakana so, "\x95\x5C" the kanji hyo: their trail byte is the backslash code.
#define SO "\x83\x5C"
#define HYO "\x95\x5C"

struct Field {
  std::string text;
  std::int32_t disk;
};

struct SplitCase {
  const char* value;
  std::int32_t diskBefore;
  std::vector<Field> fields;
  const char* restAtEnd;  // where the cursor stands once the list has ended
};

const SplitCase kSplitCases[] = {
    {"A, B ,C", 0, {{"A", 0}, {"B ", 0}, {"C", 0}}, ""},
    {"A,,B", 0, {{"A", 0}}, ",B"},
    {",A", 0, {}, ",A"},
    {"", 0, {}, ""},
    {"   ", 0, {}, ""},
    {"  ,A", 0, {}, ",A"},
    {"2:X.DAT,Y.DAT", 0, {{"X.DAT", 2}, {"Y.DAT", 2}}, ""},
    {"1:A.DAT,B.DAT,2:C.DAT", 0, {{"A.DAT", 1}, {"B.DAT", 1}, {"C.DAT", 2}}, ""},
    {"C:\\DIR", 7, {{"\\DIR", 0}}, ""},
    {"x:A", 5, {{"A", 0}}, ""},
    {"1: X", 0, {{" X", 1}}, ""},
    {"2:,X", 0, {{"", 2}, {"X", 2}}, ""},
    {"3:", 0, {{"", 3}}, ""},
    {"12:A", 4, {{"12:A", 4}}, ""},
    {"A\nB", 0, {{"A", 0}, {"B", 0}}, ""},
    {"A\rB", 0, {{"A", 0}, {"B", 0}}, ""},
    {"A\r\nB", 0, {{"A", 0}}, "\nB"},
    {"\tA\t, B", 0, {{"\tA\t", 0}, {"B", 0}}, ""},
    {SO HYO ",1:" HYO SO, 0, {{SO HYO, 0}, {HYO SO, 1}}, ""},
};

TEST(NextListField, SplitsListsAndTakesDiskPrefixes) {
  for (size_t i = 0; i < sizeof kSplitCases / sizeof kSplitCases[0]; ++i) {
    const SplitCase& c = kSplitCases[i];
    const std::string value = c.value;
    std::int32_t disk = c.diskBefore;
    const char* cursor = value.c_str();
    for (size_t f = 0; f < c.fields.size(); ++f) {
      char field[260];
      std::memset(field, 'z', sizeof field);
      ASSERT_TRUE(NextListField(field, sizeof field, &cursor, &disk))
          << "case " << i << " field " << f;
      EXPECT_EQ(c.fields[f].text, field) << "case " << i << " field " << f;
      EXPECT_EQ(c.fields[f].disk, disk) << "case " << i << " field " << f;
    }
    for (int repeat = 0; repeat < 2; ++repeat) {
      char field[8] = "keep";
      const std::int32_t diskAtEnd = disk;
      EXPECT_FALSE(NextListField(field, sizeof field, &cursor, &disk)) << "case " << i;
      EXPECT_STREQ("keep", field) << "case " << i << ": field written at the end of the list";
      EXPECT_EQ(diskAtEnd, disk) << "case " << i;
      EXPECT_EQ(std::string(c.restAtEnd), cursor) << "case " << i;
    }
    EXPECT_EQ(c.value, value) << "case " << i << ": the value was changed";
  }
}

struct LongFieldCase {
  std::string value;
  std::string first;  // the first field as cut into 260 bytes
  std::string second;
};

std::vector<LongFieldCase> LongFieldCases() {
  std::string doubleBytes;
  for (int i = 0; i < 150; ++i) doubleBytes += SO;
  return {
      {std::string(259, 'a') + ",B", std::string(259, 'a'), "B"},
      {std::string(260, 'a') + ",B", std::string(259, 'a'), "B"},
      {std::string(1000, 'a') + "\r\nB", std::string(259, 'a'), ""},
      {"7:" + std::string(300, 'a') + ",B", std::string(259, 'a'), "B"},
      // 1 + 129 characters of two bytes fill 259 bytes exactly; with 2 the last one no longer fits.
      {"a" + doubleBytes + ",B", "a" + doubleBytes.substr(0, 258), "B"},
      {"aa" + doubleBytes + ",B", "aa" + doubleBytes.substr(0, 256), "B"},
  };
}

TEST(NextListField, CutsAnOverlongFieldToWholeCharactersAndGoesOnAfterIt) {
  const std::vector<LongFieldCase> cases = LongFieldCases();
  for (size_t i = 0; i < cases.size(); ++i) {
    const LongFieldCase& c = cases[i];
    char field[261];
    std::memset(field, 'z', sizeof field);
    std::int32_t disk = 0;
    const char* cursor = c.value.c_str();
    ASSERT_TRUE(NextListField(field, 260, &cursor, &disk)) << "case " << i;
    EXPECT_EQ(c.first, field) << "case " << i;
    EXPECT_EQ('z', field[260]) << "case " << i << ": written past the field";
    const bool more = NextListField(field, 260, &cursor, &disk);
    EXPECT_EQ(!c.second.empty(), more) << "case " << i;
    if (more) EXPECT_EQ(c.second, field) << "case " << i;
  }
}

struct UpdateEntryCase {
  const char* value;
  std::int32_t installMode;
  bool accepted;
  UpdateMode mode;
  const char* relativePath;
  std::int32_t baseNameOffset;
};

const UpdateEntryCase kUpdateEntryCases[] = {
    {"DATA\\GAME.DAT", 0, true, modePlain, "DATA\\GAME.DAT", 5},
    {"SETUP.INI", 4, true, modePlain, "SETUP.INI", 0},
    {"1,u,SAVE\\A.DAT", 1, true, modeNewer, "SAVE\\A.DAT", 5},
    {"1,u,SAVE\\A.DAT", 2, false, modePlain, "", 0},
    {"0,A.DAT", 0, true, modePlain, "A.DAT", 0},
    {"3,o,A\\B\\C.DAT", 3, true, modeExisting, "A\\B\\C.DAT", 4},
    {"9,A.DAT", 8, false, modePlain, "", 0},
    {"12,u,A.DAT", 0, true, modePlain, "12", 0},
    {"1,2,A.DAT", 1, true, modePlain, "2", 0},
    {"U,A.DAT", 0, true, modeNewer, "A.DAT", 0},
    {"u,A.DAT", 0, true, modeNewer, "A.DAT", 0},
    {"d,SAVE.DAT", 0, true, modeData, "SAVE.DAT", 0},
    {"D,SAVE.DAT", 0, true, modeData, "SAVE.DAT", 0},
    {"O,A.DAT", 0, true, modeExisting, "A.DAT", 0},
    {"x,A.DAT", 0, true, modePlain, "x", 0},
    {"A.DAT,u", 0, true, modePlain, "A.DAT", 0},
    {"d,A.DAT,B.DAT", 0, true, modeData, "A.DAT", 0},
    {"u", 0, true, modeNewer, "", 0},
    {"2,d", 2, true, modeData, "", 0},
    {"2", 2, true, modePlain, "", 0},
    {"C:\\GAME\\A.DAT", 0, true, modePlain, "\\GAME\\A.DAT", 6},
    {"u,1:A.DAT", 0, true, modeNewer, "A.DAT", 0},
    {"u,,A.DAT", 0, true, modeNewer, "", 0},
    {" u , A.DAT", 0, true, modePlain, "u ", 0},
    {SO HYO ".DAT", 0, true, modePlain, SO HYO ".DAT", 0},
    {"DIR\\" SO ".DAT", 0, true, modePlain, "DIR\\" SO ".DAT", 4},
    {SO "\\A.DAT", 0, true, modePlain, SO "\\A.DAT", 3},
    {"A\\" HYO, 0, true, modePlain, "A\\" HYO, 2},
};

TEST(ParseUpdateEntry, FormsFiltersModesAndMemberNames) {
  for (size_t i = 0; i < sizeof kUpdateEntryCases / sizeof kUpdateEntryCases[0]; ++i) {
    const UpdateEntryCase& c = kUpdateEntryCases[i];
    UpdateEntry entry;
    std::memset(&entry, 0xAB, sizeof entry);
    ASSERT_EQ(c.accepted, ParseUpdateEntry(c.value, c.installMode, &entry)) << "case " << i;
    if (!c.accepted) {
      UpdateEntry untouched;
      std::memset(&untouched, 0xAB, sizeof untouched);
      EXPECT_EQ(0, std::memcmp(&untouched, &entry, sizeof entry)) << "case " << i;
      continue;
    }
    EXPECT_EQ(c.mode, entry.mode) << "case " << i;
    EXPECT_STREQ(c.relativePath, entry.relativePath) << "case " << i;
    EXPECT_EQ(c.baseNameOffset, entry.baseNameOffset) << "case " << i;
  }
}

struct CopyEntryCase {
  const char* value;
  std::int32_t installMode;
  bool accepted;
  std::int32_t diskNumber;
  const char* sourcePath;
};

const CopyEntryCase kCopyEntryCases[] = {
    {"MOVIE\\OP.MPG", 0, true, 0, "MOVIE\\OP.MPG"},
    {"2:MOVIE\\OP.MPG", 0, true, 2, "MOVIE\\OP.MPG"},
    {"9:Z", 0, true, 9, "Z"},
    {"0:A", 0, true, 0, "A"},
    {"2,1:MOVIE", 2, true, 1, "MOVIE"},
    {"2,1:MOVIE", 3, false, 0, ""},
    {"3,A, B", 3, true, 0, "A, B"},
    {" A , B", 0, true, 0, " A , B"},
    {"a,MOVIE", 0, false, 0, ""},
    // A disk character that is no digit names no disk: the colon stays in the path.
    {"X:\\MOVIE", 0, true, 0, "X:\\MOVIE"},
    {"2,X:A", 2, true, 0, "X:A"},
    {"2,:A", 2, true, 0, ":A"},
    {SO ":" HYO, 0, true, 0, SO ":" HYO},
};

TEST(ParseCopyEntry, FormsFiltersAndDiskNumbers) {
  for (size_t i = 0; i < sizeof kCopyEntryCases / sizeof kCopyEntryCases[0]; ++i) {
    const CopyEntryCase& c = kCopyEntryCases[i];
    CopyEntry entry;
    std::memset(&entry, 0xAB, sizeof entry);
    ASSERT_EQ(c.accepted, ParseCopyEntry(c.value, c.installMode, &entry)) << "case " << i;
    if (!c.accepted) {
      EXPECT_EQ(static_cast<std::int32_t>(0xABABABAB), entry.diskNumber) << "case " << i;
      continue;
    }
    EXPECT_EQ(c.diskNumber, entry.diskNumber) << "case " << i;
    EXPECT_STREQ(c.sourcePath, entry.sourcePath) << "case " << i;
  }
}

TEST(ParseCopyEntry, CutsAnOverlongPathToWholeCharacters) {
  std::string doubleBytes;
  for (int i = 0; i < 150; ++i) doubleBytes += HYO;
  const std::string cases[][2] = {
      {"1:" + std::string(300, 'a'), std::string(259, 'a')},
      {"1:a" + doubleBytes, "a" + doubleBytes.substr(0, 258)},
      {"1:aa" + doubleBytes, "aa" + doubleBytes.substr(0, 256)},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    CopyEntry entry;
    ASSERT_TRUE(ParseCopyEntry(cases[i][0].c_str(), 0, &entry)) << "case " << i;
    EXPECT_EQ(1, entry.diskNumber) << "case " << i;
    EXPECT_EQ(cases[i][1], entry.sourcePath) << "case " << i;
  }
}

TEST(ProfileValue, SignedDecimals) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"  -42", -42},
      {"+7", 7},
      {"\t\r\n 5", 5},
      {"- 5", 0},
      {"0x10", 0},
      {"2147483647", 2147483647},
      {"2147483648", std::numeric_limits<std::int32_t>::max()},
      {"99999999999999999", std::numeric_limits<std::int32_t>::max()},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"-99999999999999999", std::numeric_limits<std::int32_t>::min()},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    EXPECT_EQ(cases[i].value, ParseDecimalInt32(cases[i].text)) << "case " << i;
  }
}

TEST(ProfileValue, UnsignedDecimalsOf64Bits) {
  const struct {
    const char* text;
    std::uint64_t value;
  } cases[] = {
      {"650000000", 650000000u},
      {" 4294967296MB", 4294967296u},
      {"+5", 5},
      {"-5", 0},
      {"x1", 0},
      {"9999999999999999999", 9999999999999999999u},
      {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {"18446744073709551616", std::numeric_limits<std::uint64_t>::max()},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    EXPECT_EQ(cases[i].value, ParseDecimalUint64(cases[i].text)) << "case " << i;
  }
}

TEST(ProfileValue, DropsOnlyALoneLeadByteAtTheEnd) {
  const char* cases[][2] = {
      {"A\x83", "A"},   {"\x83", ""},   {"A" SO, "A" SO}, {SO "\x95", SO},
      {"\\\x83", "\\"}, {"ABC", "ABC"}, {"", ""},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    char value[16];
    std::strcpy(value, cases[i][0]);
    DropCutLeadByte(value);
    EXPECT_STREQ(cases[i][1], value) << "case " << i;
  }
}

}  // namespace
