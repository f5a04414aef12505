#include "app/append_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/cp932.h"

namespace {

struct JoinCase {
  const char* path;
  const char* name;
  const char* joined;
};

// "\x83\x5C" is the katakana so and "\x95\x5C" the kanji hyo: trail byte 0x5C, not a separator.
const JoinCase kJoinCases[] = {
    {"C:\\Games", "UPDATE.INI", "C:\\Games\\UPDATE.INI"},
    {"C:\\Games\\", "UPDATE.INI", "C:\\Games\\UPDATE.INI"},
    {"C:/Games/", "UPDATE.INI", "C:/Games/UPDATE.INI"},
    {"", "UPDATE.INI", "UPDATE.INI"},
    {"C:\\Games", "\\A.DAT", "C:\\Games\\\\A.DAT"},
    {"C:\\\x83\x5C", "A.DAT", "C:\\\x83\x5C\\A.DAT"},
    {"C:\\\x95\x5C", "A.DAT", "C:\\\x95\x5C\\A.DAT"},
    {"C:\\\x83\x5C\\", "A.DAT", "C:\\\x83\x5C\\A.DAT"},
    {"C:\\Games", "", "C:\\Games\\"},
};

TEST(AppendPath, JoinsWithOneSeparatorAndTwoNuls) {
  for (size_t i = 0; i < sizeof kJoinCases / sizeof kJoinCases[0]; ++i) {
    const JoinCase& c = kJoinCases[i];
    char buffer[260];
    std::memset(buffer, 'x', sizeof buffer);
    std::strcpy(buffer, c.path);
    ASSERT_TRUE(AppendPath(buffer, sizeof buffer, c.name)) << "case " << i;
    EXPECT_STREQ(c.joined, buffer) << "case " << i;
    const size_t length = std::strlen(c.joined);
    EXPECT_EQ('\0', buffer[length + 1]) << "case " << i;
    EXPECT_EQ('x', buffer[length + 2]) << "case " << i << ": nothing written past the two NULs";
  }
}

TEST(AppendPath, RefusesWhatDoesNotFitAndLeavesTheBufferAlone) {
  // "AB" + "\" + "CD" + two NULs needs 7 bytes.
  char exact[8] = "AB";
  exact[7] = 'z';
  ASSERT_TRUE(AppendPath(exact, 7, "CD"));
  EXPECT_STREQ("AB\\CD", exact);
  EXPECT_EQ('z', exact[7]);

  char shortByOne[8] = "AB";
  std::memset(shortByOne + 3, 'z', 5);
  EXPECT_FALSE(AppendPath(shortByOne, 6, "CD"));
  EXPECT_STREQ("AB", shortByOne);
  EXPECT_EQ('z', shortByOne[3]);

  char empty[4] = "";
  EXPECT_FALSE(AppendPath(empty, 0, ""));
  EXPECT_TRUE(AppendPath(empty, 2, ""));
}

TEST(Cp932, NextCharStepsOverDoubleByteCharactersButNeverOverTheNul) {
  const char text[] = "a\x83\x5Cn\x83";  // a, so, n, a lone lead byte at the end
  const char* p = text;
  p = NextCp932Char(p);
  EXPECT_EQ(text + 1, p);
  p = NextCp932Char(p);
  EXPECT_EQ(text + 3, p);
  p = NextCp932Char(p);
  EXPECT_EQ(text + 4, p);
  p = NextCp932Char(p);
  EXPECT_EQ(text + 5, p);
  EXPECT_EQ(text + 5, NextCp932Char(p));
}

TEST(Cp932, LeadByteRanges) {
  for (int b = 0; b < 256; ++b) {
    const bool expected = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    EXPECT_EQ(expected, IsCp932LeadByte(static_cast<unsigned char>(b))) << b;
  }
}

}  // namespace
