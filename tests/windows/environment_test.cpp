// The conditions every other Windows test relies on: code page 932 and byte-exact capture of
// real message boxes.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/support/message_box_capture.h"

namespace {

TEST(Environment, AnsiCodePageIs932) { EXPECT_EQ(932u, GetACP()); }

TEST(Environment, CapturesMessageBoxesByteForByteAndAnswersThem) {
  MessageBoxCapture capture;
  capture.QueueAnswer(IDCANCEL);
  const int first = MessageBoxA(nullptr, "「ソ表」のアップデート", "INSTCMMN", MB_OKCANCEL);
  const int second = MessageBoxA(nullptr, "Can't Find File in Resource !!", "UPDATE",
                                 MB_OK | MB_ICONERROR);
  EXPECT_EQ(IDCANCEL, first);
  EXPECT_EQ(IDOK, second);
  ASSERT_EQ(2u, capture.boxes().size()) << Describe(capture.boxes());
  EXPECT_EQ("INSTCMMN", capture.boxes()[0].caption);
  EXPECT_EQ("\x81\x75\x83\x5C\x95\x5C\x81\x76\x82\xCC\x83\x41\x83\x62\x83\x76\x83\x66\x81\x5B\x83\x67",
            capture.boxes()[0].text);
  EXPECT_TRUE(capture.boxes()[0].hasCancel);
  EXPECT_FALSE(capture.boxes()[0].hasIcon);
  EXPECT_EQ("Can't Find File in Resource !!", capture.boxes()[1].text);
  EXPECT_FALSE(capture.boxes()[1].hasCancel);
  EXPECT_TRUE(capture.boxes()[1].hasIcon);
}

}  // namespace
