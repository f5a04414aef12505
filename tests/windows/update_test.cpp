// ReadWholeFile on real files and FindDiskDrive on the test prefix's real drives: P: and Q: are
// CD-ROM drives, R: a fixed drive (scripts/test-drives), each empty until a test fills it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/disk_drive.h"
#include "app/read_whole_file.h"
#include "app/updater_state.h"
#include "tests/support/message_box_capture.h"

namespace {

constexpr char kSentinelSize = 0x5A;

std::string TempFolder() {
  char path[MAX_PATH];
  GetTempPathA(sizeof path, path);
  return path;
}

void WriteFile(const std::string& path, const std::string& contents) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written,
                          nullptr));
  CloseHandle(file);
}

void RemoveFile(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
}

// ---- ReadWholeFile

TEST(ReadWholeFile, GivesTheWholeContentsAndTheirSize) {
  const std::string path = TempFolder() + "qw-read-whole.bin";
  std::string large(70000, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 251);
  const std::vector<std::string> cases = {"", "x", "\x82\xB1\x82\xEA\r\n\0tail", large};
  for (size_t i = 0; i < cases.size(); ++i) {
    WriteFile(path, cases[i]);
    std::uint32_t size = kSentinelSize;
    UniqueGlobal block = ReadWholeFile(path.c_str(), &size);
    ASSERT_TRUE(block) << "case " << i;
    EXPECT_EQ(cases[i].size(), size) << "case " << i;
    EXPECT_EQ(cases[i], std::string(static_cast<const char*>(block.get()), size)) << "case " << i;
    EXPECT_TRUE(ReadWholeFile(path.c_str(), nullptr)) << "case " << i << ", no size asked for";
  }
  RemoveFile(path);
}

TEST(ReadWholeFile, ReadsAReadOnlyFile) {
  const std::string path = TempFolder() + "qw-read-only.bin";
  WriteFile(path, "kept");
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  std::uint32_t size = 0;
  UniqueGlobal block = ReadWholeFile(path.c_str(), &size);
  ASSERT_TRUE(block);
  EXPECT_EQ("kept", std::string(static_cast<const char*>(block.get()), size));
  RemoveFile(path);
}

// Every failure gives no block and leaves the size alone.
TEST(ReadWholeFile, FailsWithoutTouchingTheSize) {
  const std::string folder = TempFolder() + "qw-read-folder";
  const std::string held = TempFolder() + "qw-read-held.bin";
  CreateDirectoryA(folder.c_str(), nullptr);
  WriteFile(held, "busy");
  // Held open for writing: a reader that shares only reading cannot open it.
  HANDLE writer = CreateFileA(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);

  const std::string cases[] = {TempFolder() + "qw-read-missing.bin", folder, held};
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    std::uint32_t size = kSentinelSize;
    EXPECT_FALSE(ReadWholeFile(cases[i].c_str(), &size)) << "case " << i;
    EXPECT_EQ(static_cast<std::uint32_t>(kSentinelSize), size) << "case " << i;
  }
  CloseHandle(writer);
  RemoveFile(held);
  RemoveDirectoryA(folder.c_str());
}

// ---- FindDiskDrive

struct DriveFiles {
  std::vector<std::string> paths;
  void Put(const std::string& path) {
    WriteFile(path, "disk");
    paths.push_back(path);
  }
  ~DriveFiles() {
    for (const std::string& path : paths) RemoveFile(path);
  }
};

class FindDiskDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetUpdaterState();
    lstrcpyA(g_updater.captionText, "ソフト アップデータ");
    lstrcpyA(g_updater.manifest.gameTitle, "表示テスト");
    lstrcpyA(g_updater.setupConfig.diskCheckFiles[1], "DISK1.CHK");
    lstrcpyA(g_updater.setupConfig.diskCheckFiles[2], "ソ\\DISK2.CHK");
  }
};

TEST_F(FindDiskDriveTest, TestPrefixHasTwoCdromDrivesAndAFixedDrive) {
  EXPECT_EQ(static_cast<UINT>(DRIVE_CDROM), GetDriveTypeA("P:")) << "run scripts/test-drives";
  EXPECT_EQ(static_cast<UINT>(DRIVE_CDROM), GetDriveTypeA("Q:")) << "run scripts/test-drives";
  EXPECT_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeA("R:")) << "run scripts/test-drives";
}

TEST_F(FindDiskDriveTest, FirstCdromDriveHoldingTheCheckFileWins) {
  struct Case {
    std::vector<std::string> files;
    int disk;
    const char* drive;
  };
  const Case cases[] = {
      {{"Q:\\DISK1.CHK"}, 1, "Q:"},
      {{"Q:\\DISK1.CHK", "P:\\DISK1.CHK"}, 1, "P:"},
      {{"P:\\DISK2.CHK", "Q:\\DISK1.CHK"}, 1, "Q:"},  // the other disk's file does not count
      {{"R:\\DISK1.CHK", "Q:\\DISK1.CHK"}, 1, "Q:"},  // a fixed drive is no CD-ROM
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    DriveFiles files;
    for (const std::string& path : cases[i].files) files.Put(path);
    MessageBoxCapture capture;
    char drive[kDriveDesignationCapacity] = {'#', '#', '#'};
    ASSERT_TRUE(FindDiskDrive(nullptr, cases[i].disk, drive)) << "case " << i;
    EXPECT_STREQ(cases[i].drive, drive) << "case " << i;
    EXPECT_TRUE(capture.boxes().empty()) << "case " << i << ": " << Describe(capture.boxes());
  }
}

TEST_F(FindDiskDriveTest, CheckFileInASubfolderWithADoubleByteName) {
  CreateDirectoryA("Q:\\ソ", nullptr);
  DriveFiles files;
  files.Put("Q:\\ソ\\DISK2.CHK");
  char drive[kDriveDesignationCapacity] = {};
  EXPECT_TRUE(FindDiskDrive(nullptr, 2, drive));
  EXPECT_STREQ("Q:", drive);
  RemoveFile("Q:\\ソ\\DISK2.CHK");
  RemoveDirectoryA("Q:\\ソ");
}

// Without the disk in any CD-ROM drive the prompt repeats while the user answers OK.
TEST_F(FindDiskDriveTest, PromptsUntilTheUserRefuses) {
  DriveFiles files;
  files.Put("R:\\DISK1.CHK");
  HWND owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             nullptr, nullptr);
  for (int oks = 0; oks <= 1; ++oks) {
    MessageBoxCapture capture;
    for (int k = 0; k < oks; ++k) capture.QueueAnswer(IDOK);
    capture.QueueAnswer(IDCANCEL);
    char drive[kDriveDesignationCapacity] = {'#', '#', '\0'};
    EXPECT_FALSE(FindDiskDrive(owner, 1, drive)) << "OKs " << oks;
    EXPECT_STREQ("##", drive) << "OKs " << oks;
    ASSERT_EQ(static_cast<size_t>(oks + 1), capture.boxes().size())
        << "OKs " << oks << ": " << Describe(capture.boxes());
    for (const CapturedBox& box : capture.boxes()) {
      EXPECT_EQ("ソフト アップデータ", box.caption) << "OKs " << oks;
      EXPECT_EQ("ＣＤ－ＲＯＭドライブに「表示テスト」ディスク 1 を入れて下さい", box.text)
          << "OKs " << oks;
      EXPECT_EQ(owner, box.owner) << "OKs " << oks;
      EXPECT_TRUE(box.hasCancel) << "OKs " << oks;
      EXPECT_FALSE(box.hasIcon) << "OKs " << oks;
    }
  }
  DestroyWindow(owner);
}

// A disk number outside the table of check files is refused without a prompt.
TEST_F(FindDiskDriveTest, RefusesADiskNumberOutsideTheTable) {
  MessageBoxCapture capture;
  char drive[kDriveDesignationCapacity] = {};
  for (int disk : {-1, 10, 0x7fffffff}) {
    EXPECT_FALSE(FindDiskDrive(nullptr, disk, drive)) << "disk " << disk;
  }
  EXPECT_TRUE(capture.boxes().empty()) << Describe(capture.boxes());
}

}  // namespace
