// The package reader over real packages (made with the writer and set into g_updater) and real
// files, attributes and time stamps. The free-space cases use drive S:, a small tmpfs that
// scripts/test-drives mounts as root; without it they skip.
#include "package/package_reader.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "tests/support/file_holder.h"
#include "tests/support/message_box_capture.h"
#include "tests/support/test_files.h"
#include "tools/packer/package_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kMemberTime = 0x01D9A0B0C0D0E0F0ull;  // a FILETIME in 2023
constexpr std::uint32_t kSizeSentinel = 0xA5A5A5A5u;
constexpr std::uint64_t kSmallDriveLimit = 64ull << 20;  // S: is a few MiB; more is another drive

Bytes Sample(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = (i % 50 < 30) ? static_cast<std::uint8_t>("UPDATE data "[i % 12])
                             : static_cast<std::uint8_t>(seed * 31 + i * 7);
  }
  return bytes;
}

std::uint64_t Value(const FILETIME& time) {
  return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

FILETIME Time(std::uint64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

// ---- real files

class Scratch {
 public:
  Scratch() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    static unsigned counter = 0;
    char name[64];
    wsprintfA(name, "qw-reader-%lu-%u", GetCurrentProcessId(), ++counter);
    path_ = std::string(temp) + name;
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~Scratch() { RemoveTree(path_); }
  std::string Join(const std::string& name) const { return path_ + "\\" + name; }

  static void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string child = path + "\\" + name;
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(child);
        } else {
          DeleteFileA(child.c_str());
        }
      } while (FindNextFileA(find, &found));
      FindClose(find);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
  }

 private:
  std::string path_;
};

Bytes ReadBytes(const std::string& path) {
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  Bytes bytes(GetFileSize(file.get(), nullptr));
  DWORD read = 0;
  if (!bytes.empty()) ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  bytes.resize(read);
  return bytes;
}

struct FileTimes {
  std::uint64_t creation, access, write;
};

FileTimes TimesOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return {Value(data.ftCreationTime), Value(data.ftLastAccessTime), Value(data.ftLastWriteTime)};
}

void StampWriteTime(const std::string& path, std::uint64_t time) {
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  const FILETIME stamp = Time(time);
  ASSERT_TRUE(file && SetFileTime(file.get(), nullptr, nullptr, &stamp)) << path;
}

std::uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Value(now);
}

// ---- packages set into the process state

class PackageReaderTest : public ::testing::Test {
 public:
  void SetUp() override { ResetUpdaterState(); }
  void TearDown() override {
    if (g_updater.packageIndex) GlobalFree(g_updater.packageIndex);
    ResetUpdaterState();
  }

  // Builds the package, makes it the process's package and opens it.
  void Load(const std::vector<PackageMemberInput>& members, bool compressIndex = false) {
    std::string error;
    ASSERT_TRUE(BuildPackage(members, compressIndex, &package_, &error)) << error;
    Install();
  }
  // Makes package_ (as it is now) the process's package and opens it.
  void Install() {
    if (g_updater.packageIndex) GlobalFree(g_updater.packageIndex);
    g_updater.packageData = package_.data();
    g_updater.packageSize = static_cast<std::uint32_t>(package_.size());
    g_updater.packageIndex = OpenPackage();
    ASSERT_NE(nullptr, g_updater.packageIndex);
  }
  // A field of entry i of a plain index.
  std::uint8_t* EntryField(std::size_t i, std::size_t offset) {
    std::uint32_t indexOffset;
    std::memcpy(&indexOffset, &package_[8], 4);
    return &package_[indexOffset + i * kPackageEntrySize + offset];
  }
  void PutEntry32(std::size_t i, std::size_t offset, std::uint32_t value) {
    std::memcpy(EntryField(i, offset), &value, 4);
  }

  Bytes package_;
};

PackageMemberInput Member(const char* name, const Bytes& bytes, bool compress = false,
                          std::uint64_t time = kMemberTime) {
  return {name, bytes, time, compress};
}

void ExpectOneError(const MessageBoxCapture& capture, const std::string& text, const char* what) {
  ASSERT_EQ(1u, capture.boxes().size()) << what << ": " << Describe(capture.boxes());
  EXPECT_EQ("UPDATE", capture.boxes()[0].caption) << what;
  EXPECT_EQ(text, capture.boxes()[0].text) << what;
  EXPECT_TRUE(capture.boxes()[0].hasIcon) << what;
  EXPECT_FALSE(capture.boxes()[0].hasCancel) << what;
  EXPECT_EQ(nullptr, capture.boxes()[0].owner) << what;
}

// ---- OpenPackage

TEST_F(PackageReaderTest, OpensPlainAndPackedIndexesIntoAHeaderCopyAndTheEntries) {
  for (bool compressIndex : {false, true}) {
    Load({Member("UPDATE.INI", Sample(300, 1), true), Member("DATA.BIN", Sample(700, 2))},
         compressIndex);
    const PackageIndex* index = g_updater.packageIndex;
    EXPECT_EQ(0, std::memcmp(index, package_.data(), kPackageHeaderSize)) << compressIndex;
    EXPECT_EQ(kPackageHeaderSize + 2 * kPackageEntrySize, GlobalSize(g_updater.packageIndex));
    EXPECT_STREQ("UPDATE.INI", index->entries()[0].name);
    EXPECT_STREQ("DATA.BIN", index->entries()[1].name);
    EXPECT_EQ(700u, index->entries()[1].memberSize);
    EXPECT_EQ(kMemberTime, index->entries()[1].lastWriteTime);
  }
}

TEST_F(PackageReaderTest, RefusesIndexesThatReachOutsideOrDoNotDecode) {
  const std::vector<PackageMemberInput> members = {Member("A.TXT", Sample(100, 3))};
  struct Case {
    const char* what;
    bool compressIndex;
    void (*damage)(Bytes*);
  };
  const Case cases[] = {
      {"shorter than a header", false, [](Bytes* p) { p->resize(15); }},
      {"index cut by one byte", false, [](Bytes* p) { p->pop_back(); }},
      {"entry count past the end", false, [](Bytes* p) { (*p)[12] = 2; }},
      {"entry count that wraps 32 bits", false,
       [](Bytes* p) { std::memcpy(&(*p)[12], "\x0F\xEA\xA0\x0E", 4); }},
      {"packed index cut by one byte", true, [](Bytes* p) { p->pop_back(); }},
      {"packed index decoding short", true, [](Bytes* p) { (*p)[12] = 2; }},
      {"name without NUL", false, [](Bytes* p) { std::memset(&(*p)[p->size() - 280], 'N', 260); }},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    std::string error;
    ASSERT_TRUE(BuildPackage(members, cases[i].compressIndex, &package_, &error)) << error;
    cases[i].damage(&package_);
    g_updater.packageData = package_.data();
    g_updater.packageSize = static_cast<std::uint32_t>(package_.size());
    MessageBoxCapture capture;
    PackageIndex* index = OpenPackage();
    EXPECT_EQ(nullptr, index) << "case " << i << ": " << cases[i].what;
    if (index) GlobalFree(index);
    EXPECT_TRUE(capture.boxes().empty()) << "case " << i << ": " << Describe(capture.boxes());
  }
}

// ---- FindPackageMember

TEST_F(PackageReaderTest, HandsOutStoredMembersInPlaceAndPackedOnesInANewBlock) {
  const Bytes stored = Sample(480, 4), packed = Sample(2000, 5), third = Sample(217, 6);
  Load({Member("STORED.DAT", stored), Member("PACKED.TXT", packed, true),
        Member("THIRD.DAT", third)});
  MessageBoxCapture capture;

  std::uint32_t size = kSizeSentinel;
  UniqueGlobal block;
  const std::uint8_t* contents = FindPackageMember("stored.dat", &size, &block);
  EXPECT_EQ(package_.data() + 16, contents);
  EXPECT_FALSE(block);
  EXPECT_EQ(480u, size);

  size = kSizeSentinel;
  contents = FindPackageMember("Packed.Txt", &size, &block);
  ASSERT_TRUE(block);
  EXPECT_EQ(block.get(), contents);
  EXPECT_EQ(2000u, GlobalSize(block.get()));
  EXPECT_EQ(2000u, size);
  EXPECT_EQ(packed, Bytes(contents, contents + size));

  // The packed member's slot lies between: the third member is found by summing slots.
  UniqueGlobal none;
  contents = FindPackageMember("THIRD.DAT", nullptr, &none);
  const std::uint32_t packedStored = g_updater.packageIndex->entries()[1].storedSize;
  EXPECT_EQ(package_.data() + 16 + 480 + SlotSize(packedStored), contents);
  EXPECT_EQ(third, Bytes(contents, contents + third.size()));
  EXPECT_FALSE(none);
  EXPECT_TRUE(capture.boxes().empty()) << Describe(capture.boxes());
}

TEST_F(PackageReaderTest, FindsTheFirstOfTwoEntriesOfOneName) {
  Load({Member("UPDATE.INI", Sample(40, 7)), Member("OTHER.INI", Sample(50, 8))});
  std::memcpy(EntryField(1, 0), "update.ini", 11);  // the writer refuses this; the reader must cope
  Install();
  std::uint32_t size = kSizeSentinel;
  UniqueGlobal block;
  const std::uint8_t* contents = FindPackageMember("Update.Ini", &size, &block);
  EXPECT_EQ(package_.data() + 16, contents);
  EXPECT_EQ(40u, size);
}

TEST_F(PackageReaderTest, ReportsMissingAndUnreadableMembers) {
  struct Case {
    const char* what;
    const char* name;
    void (*damage)(PackageReaderTest*);
    const char* message;
  };
  const Case cases[] = {
      {"no such name", "NONE.TXT", nullptr, "Can't Find File in Resource !!"},
      {"a prefix is no match", "STORED", nullptr, "Can't Find File in Resource !!"},
      {"stored member reaching past the package", "STORED.DAT",
       [](PackageReaderTest* t) { t->PutEntry32(0, 276, 0x7FFFFFFF); }, "RESOURCE READ ERROR"},
      {"memberSize above storedSize", "STORED.DAT",
       [](PackageReaderTest* t) { t->PutEntry32(0, 272, 481); }, "RESOURCE READ ERROR"},
      {"packed member decoding short", "PACKED.TXT",
       [](PackageReaderTest* t) { t->PutEntry32(1, 272, 2001); }, "RESOURCE READ ERROR"},
      {"packed member decoding past its block", "PACKED.TXT",
       [](PackageReaderTest* t) { t->PutEntry32(1, 272, 1999); }, "RESOURCE READ ERROR"},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    Load({Member("STORED.DAT", Sample(480, 9)), Member("PACKED.TXT", Sample(2000, 10), true)});
    if (cases[i].damage) {
      cases[i].damage(this);
      Install();
    }
    MessageBoxCapture capture;
    std::uint32_t size = kSizeSentinel;
    UniqueGlobal block;
    EXPECT_EQ(nullptr, FindPackageMember(cases[i].name, &size, &block)) << "case " << i;
    EXPECT_FALSE(block) << "case " << i;
    EXPECT_EQ(kSizeSentinel, size) << "case " << i << ": size written on failure";
    ExpectOneError(capture, cases[i].message, cases[i].what);
  }
}

TEST_F(PackageReaderTest, ReportsABlockThatCannotBeAllocated) {
  // A packed member may claim up to 91 bytes per stored byte: this one claims nearly 4 GiB, more
  // than a 32-bit process can allocate.
  const std::uint32_t claimed = 0xFFFFFFF0u;
  Load({Member("HUGE.DAT", Bytes(claimed / 91 + 1, 0))});
  PutEntry32(0, 260, kMemberCompressed);
  PutEntry32(0, 272, claimed);
  Install();
  MessageBoxCapture capture;
  std::uint32_t size = kSizeSentinel;
  UniqueGlobal block;
  EXPECT_EQ(nullptr, FindPackageMember("HUGE.DAT", &size, &block));
  EXPECT_FALSE(block);
  EXPECT_EQ(kSizeSentinel, size);
  ExpectOneError(capture, "Can't Allocate Memory !!", "a block of nearly 4 GiB");
}

TEST_F(PackageReaderTest, AnEmptyIndexFindsNothing) {
  Load({});
  MessageBoxCapture capture;
  UniqueGlobal block;
  EXPECT_EQ(nullptr, FindPackageMember("UPDATE.INI", nullptr, &block));
  EXPECT_FALSE(ExtractPackageMember("C:\\never-written.txt", "UPDATE.INI", false));
  ASSERT_EQ(2u, capture.boxes().size()) << Describe(capture.boxes());
  EXPECT_EQ("Can't Find File in Resource !!", capture.boxes()[1].text);
}

// ---- ExtractPackageMember onto real files

TEST_F(PackageReaderTest, ExtractsOntoMissingAndReadOnlyFilesWithTheMembersTimes) {
  const Bytes stored = Sample(1000, 11), packed = Sample(5000, 12);
  Load({Member("STORED.DAT", stored), Member("PACKED.TXT", packed, true)});
  Scratch scratch;
  struct Case {
    const char* member;
    const Bytes* contents;
    bool existsReadOnly;
    bool newerOnly;
  };
  const Case cases[] = {
      {"STORED.DAT", &stored, false, false}, {"packed.txt", &packed, false, false},
      {"STORED.DAT", &stored, true, false},  {"PACKED.TXT", &packed, true, true},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const std::string target = scratch.Join("target" + std::to_string(i));
    if (cases[i].existsReadOnly) {
      ASSERT_TRUE(WriteBytes(target, Sample(3, 99)));
      StampWriteTime(target, kMemberTime - 10000000);
      ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    }
    MessageBoxCapture capture;
    EXPECT_TRUE(ExtractPackageMember(target.c_str(), cases[i].member, cases[i].newerOnly))
        << "case " << i;
    EXPECT_TRUE(capture.boxes().empty()) << "case " << i << ": " << Describe(capture.boxes());
    const FileTimes times = TimesOf(target);  // before reading, which would touch the access time
    EXPECT_EQ(*cases[i].contents, ReadBytes(target)) << "case " << i;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    EXPECT_EQ(0u, attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                FILE_ATTRIBUTE_DIRECTORY))
        << "case " << i << ": attributes " << attributes;
    EXPECT_EQ(kMemberTime, times.creation) << "case " << i;
    EXPECT_EQ(kMemberTime, times.access) << "case " << i;
    EXPECT_EQ(kMemberTime, times.write) << "case " << i;
  }
}

TEST_F(PackageReaderTest, LeavesAnExistingFolderAloneWithoutAMessage) {
  Load({Member("UPDATE.INI", Sample(100, 13), true)});
  Scratch scratch;
  const std::string folder = scratch.Join("UPDATE.INI");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(folder + "\\inside.txt", Sample(5, 14)));
  for (bool newerOnly : {false, true}) {
    MessageBoxCapture capture;
    EXPECT_FALSE(ExtractPackageMember(folder.c_str(), "UPDATE.INI", newerOnly)) << newerOnly;
    EXPECT_TRUE(capture.boxes().empty()) << Describe(capture.boxes());
    EXPECT_NE(0u, GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(Sample(5, 14), ReadBytes(folder + "\\inside.txt"));
  }
}

TEST_F(PackageReaderTest, NewerOnlyKeepsOnlyAStrictlyNewerFile) {
  const Bytes contents = Sample(600, 15);
  Load({Member("GAME.DAT", contents)});
  Scratch scratch;
  const Bytes old = Sample(10, 16);
  struct Case {
    std::int64_t fileTimeOffset;  // ticks after the member's time
    bool readOnly;
    bool kept;
  };
  const Case cases[] = {
      {1, false, true}, {1, true, true}, {0, false, false}, {-1, false, false},
      {-10000000, true, false},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const std::string target = scratch.Join("game" + std::to_string(i) + ".dat");
    ASSERT_TRUE(WriteBytes(target, old));
    const std::uint64_t fileTime = kMemberTime + cases[i].fileTimeOffset;
    StampWriteTime(target, fileTime);
    if (cases[i].readOnly) {
      ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    MessageBoxCapture capture;
    EXPECT_TRUE(ExtractPackageMember(target.c_str(), "game.dat", true)) << "case " << i;
    EXPECT_TRUE(capture.boxes().empty()) << "case " << i;
    EXPECT_EQ(cases[i].kept ? old : contents, ReadBytes(target)) << "case " << i;
    EXPECT_EQ(cases[i].kept ? fileTime : kMemberTime, TimesOf(target).write) << "case " << i;
    EXPECT_EQ(0u, GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY)
        << "case " << i << ": read-only dropped either way";
  }
}

TEST_F(PackageReaderTest, NewerOnlyDoesNotKeepAFileThatCannotBeOpenedForReading) {
  const Bytes contents = Sample(600, 17);
  Load({Member("GAME.DAT", contents)});
  Scratch scratch;
  const std::string target = scratch.Join("locked.dat");
  const Bytes old = Sample(10, 18);
  ASSERT_TRUE(WriteBytes(target, old));
  StampWriteTime(target, kMemberTime + 10000000);
  {
    // Another writer without read sharing: the rule cannot read the newer file's time, so it goes
    // on to the write, which the same writer blocks. A kept file would have given 1.
    UniqueFile holder(CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    MessageBoxCapture capture;
    EXPECT_FALSE(ExtractPackageMember(target.c_str(), "GAME.DAT", true));
    EXPECT_TRUE(capture.boxes().empty()) << Describe(capture.boxes());
  }
  EXPECT_EQ(old, ReadBytes(target));
  // Once the writer has gone, the same newer file is kept.
  EXPECT_TRUE(ExtractPackageMember(target.c_str(), "GAME.DAT", true));
  EXPECT_EQ(old, ReadBytes(target));
}

TEST_F(PackageReaderTest, ATargetHeldByAnotherProgramKeepsItsContentsAndTime) {
  const Bytes contents = Sample(70000, 24), old = Sample(5000, 25);
  Load({Member("GAME.DAT", contents), Member("PACKED.DAT", contents, true)});
  Scratch scratch;
  const char* members[] = {"GAME.DAT", "PACKED.DAT"};
  for (std::size_t i = 0; i < 4; ++i) {
    const bool newerOnly = i % 2 == 1;
    const std::string target = scratch.Join("held" + std::to_string(i) + ".dat");
    ASSERT_TRUE(WriteBytes(target, old));
    StampWriteTime(target, kMemberTime - 1);
    {
      FileHolder holder;
      ASSERT_TRUE(holder.Hold(target)) << "case " << i;
      MessageBoxCapture capture;
      EXPECT_FALSE(ExtractPackageMember(target.c_str(), members[i / 2], newerOnly)) << "case " << i;
      EXPECT_TRUE(capture.boxes().empty()) << "case " << i << ": " << Describe(capture.boxes());
    }
    EXPECT_EQ(kMemberTime - 1, TimesOf(target).write) << "case " << i;
    EXPECT_EQ(old, ReadBytes(target)) << "case " << i;
    EXPECT_EQ(std::vector<std::string>{"held" + std::to_string(i) + ".dat"},
              ListTree(scratch.Join("")))
        << "case " << i << ": nothing else stays beside the target";
    RemoveTree(target);
  }
}

TEST_F(PackageReaderTest, FailsWithoutAMessageWhereTheFileCannotBeWritten) {
  Load({Member("A.TXT", Sample(10, 19))});
  Scratch scratch;
  MessageBoxCapture capture;
  EXPECT_FALSE(ExtractPackageMember(scratch.Join("no-such-folder\\A.TXT").c_str(), "A.TXT", false));
  EXPECT_TRUE(capture.boxes().empty()) << Describe(capture.boxes());
}

TEST_F(PackageReaderTest, AnUnreadableMemberWritesNothing) {
  Load({Member("PACKED.TXT", Sample(2000, 20), true)});
  PutEntry32(0, 272, 2001);
  Install();
  Scratch scratch;
  const std::string target = scratch.Join("PACKED.TXT");
  MessageBoxCapture capture;
  EXPECT_FALSE(ExtractPackageMember(target.c_str(), "PACKED.TXT", false));
  ExpectOneError(capture, "RESOURCE READ ERROR", "packed member decoding short");
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(target.c_str()));
}

TEST_F(PackageReaderTest, ATargetWithoutADriveIsExtractedWithoutASpaceCheck) {
  const Bytes contents = Sample(300, 21);
  Load({Member("REL.TXT", contents)});
  Scratch scratch;
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof previous, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(scratch.Join("").c_str()));
  std::uint64_t freeBytes = 7, totalBytes = 8, totalFree = 9;
  EXPECT_FALSE(QueryFreeSpace("re", &freeBytes, &totalBytes, &totalFree));
  EXPECT_EQ(7u, freeBytes);
  EXPECT_EQ(8u, totalBytes);
  EXPECT_EQ(9u, totalFree);
  MessageBoxCapture capture;
  EXPECT_TRUE(ExtractPackageMember("rel.txt", "REL.TXT", false));
  EXPECT_TRUE(capture.boxes().empty()) << Describe(capture.boxes());
  EXPECT_EQ(contents, ReadBytes(scratch.Join("rel.txt")));
  SetCurrentDirectoryA(previous);
}

// ---- QueryFreeSpace and WriteWholeFile

TEST_F(PackageReaderTest, QueriesFreeSpaceAndKeepsTheResolvedFunction) {
  EXPECT_EQ(nullptr, g_updater.getDiskFreeSpaceEx);
  std::uint64_t freeBytes = 0, totalBytes = 0, totalFree = 0;
  ASSERT_TRUE(QueryFreeSpace("C:", &freeBytes, &totalBytes, nullptr));
  EXPECT_NE(nullptr, g_updater.getDiskFreeSpaceEx);
  ASSERT_TRUE(QueryFreeSpace("C:", &freeBytes, &totalBytes, &totalFree));
  ULARGE_INTEGER platformFree, platformTotal, platformTotalFree;
  ASSERT_TRUE(GetDiskFreeSpaceExA("C:", &platformFree, &platformTotal, &platformTotalFree));
  EXPECT_EQ(platformTotal.QuadPart, totalBytes);
  EXPECT_LE(freeBytes, totalBytes);
  EXPECT_GT(freeBytes, 0u);
}

TEST(WriteWholeFile, WritesTheBytesAndStampsAllThreeTimesWhenAsked) {
  Scratch scratch;
  const Bytes contents = Sample(4096 + 3, 22);
  const FILETIME stamp = Time(kMemberTime);
  const std::string stamped = scratch.Join("stamped.bin");
  ASSERT_TRUE(WriteWholeFile(stamped.c_str(), contents.data(), static_cast<std::uint32_t>(contents.size()), &stamp));
  const FileTimes times = TimesOf(stamped);
  EXPECT_EQ(contents, ReadBytes(stamped));
  EXPECT_EQ(kMemberTime, times.creation);
  EXPECT_EQ(kMemberTime, times.access);
  EXPECT_EQ(kMemberTime, times.write);

  const std::uint64_t before = Now();
  const std::string plain = scratch.Join("plain.bin");
  ASSERT_TRUE(WriteWholeFile(plain.c_str(), contents.data(), 10, nullptr));
  EXPECT_EQ(Bytes(contents.begin(), contents.begin() + 10), ReadBytes(plain));
  const std::uint64_t written = TimesOf(plain).write;
  EXPECT_GE(written + 20000000, before) << "the file system's own time, not a stamp";
  EXPECT_LE(written, Now() + 20000000);

  ASSERT_TRUE(WriteWholeFile(stamped.c_str(), contents.data(), 0, nullptr));
  EXPECT_TRUE(ReadBytes(stamped).empty()) << "an existing file is replaced";
  EXPECT_FALSE(WriteWholeFile(scratch.Join("none\\x.bin").c_str(), contents.data(), 1, &stamp));
}

// Every state the target's folder may be in before a write: the outcome, and what the folder
// holds afterwards. The staged file is the target's name followed by ".~qwnew".
TEST(WriteWholeFile, ReplacesAllOrNothing) {
  const Bytes contents = Sample(3000, 26), old = Sample(700, 27);
  const FILETIME stamp = Time(kMemberTime);
  enum class Before { missing, file, hiddenSystemFile, leftoverStaged, stagedFolder, folder };
  struct Case {
    Before before;
    bool written;
    std::vector<std::string> after;  // the folder's tree
  };
  const Case cases[] = {
      {Before::missing, true, {"T.DAT"}},
      {Before::file, true, {"T.DAT"}},
      {Before::hiddenSystemFile, true, {"T.DAT"}},
      {Before::leftoverStaged, true, {"T.DAT"}},
      {Before::stagedFolder, false, {"T.DAT", "T.DAT.~qwnew\\"}},
      {Before::folder, false, {"T.DAT\\"}},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    Scratch scratch;
    const std::string target = scratch.Join("T.DAT");
    const Case& c = cases[i];
    if (c.before == Before::folder) {
      ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    } else if (c.before != Before::missing) {
      ASSERT_TRUE(WriteBytes(target, old));
      StampWriteTime(target, kMemberTime - 7);
    }
    if (c.before == Before::hiddenSystemFile) {
      ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    }
    if (c.before == Before::leftoverStaged) {
      ASSERT_TRUE(WriteBytes(target + ".~qwnew", Sample(100000, 28)));
    }
    if (c.before == Before::stagedFolder) {
      ASSERT_TRUE(CreateDirectoryA((target + ".~qwnew").c_str(), nullptr));
    }
    EXPECT_EQ(c.written, WriteWholeFile(target.c_str(), contents.data(),
                                        static_cast<std::uint32_t>(contents.size()), &stamp))
        << "case " << i;
    EXPECT_EQ(c.after, ListTree(scratch.Join(""))) << "case " << i;
    if (c.before == Before::folder) continue;
    const FileTimes times = TimesOf(target);
    EXPECT_EQ(c.written ? contents : old, ReadBytes(target)) << "case " << i;
    EXPECT_EQ(c.written ? kMemberTime : kMemberTime - 7, times.write) << "case " << i;
    if (c.written) {
      EXPECT_EQ(kMemberTime, times.creation) << "case " << i;
      EXPECT_EQ(kMemberTime, times.access) << "case " << i;
      const DWORD attributes = GetFileAttributesA(target.c_str());
      EXPECT_EQ(0u, attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY))
          << "case " << i << ": attributes " << attributes;
    }
  }
}

// ---- the free-space check on drive S:

class SmallDriveTest : public PackageReaderTest {
 protected:
  void SetUp() override {
    PackageReaderTest::SetUp();
    std::uint64_t total = 0;
    if (!QueryFreeSpace("S:", &free_, &total, nullptr)) {
      GTEST_SKIP() << "no drive S: (scripts/test-drives mounts a small tmpfs there as root)";
    }
    if (total > kSmallDriveLimit) {
      GTEST_SKIP() << "S: holds " << total << " bytes: not the small test drive";
    }
    Scratch::RemoveTree("S:\\qw-space");
    ASSERT_TRUE(CreateDirectoryA("S:\\qw-space", nullptr));
    ASSERT_TRUE(QueryFreeSpace("S:", &free_, &total, nullptr));
  }
  void TearDown() override {
    Scratch::RemoveTree("S:\\qw-space");
    PackageReaderTest::TearDown();
  }
  std::uint64_t free_ = 0;
};

std::string ShortfallMessage(const char* drive, const char* shortfall) {
  return std::string("ディスク容量が足りません。") + drive + " ドライブに " + shortfall +
         " バイトの空き容量が必要です";
}

TEST_F(SmallDriveTest, AMemberOfExactlyTheFreeBytesFits) {
  const Bytes contents(static_cast<std::size_t>(free_), 0x5A);
  Load({Member("FULL.DAT", contents)});
  MessageBoxCapture capture;
  EXPECT_TRUE(ExtractPackageMember("S:\\qw-space\\FULL.DAT", "FULL.DAT", false));
  EXPECT_TRUE(capture.boxes().empty()) << Describe(capture.boxes());
  EXPECT_EQ(free_, ReadBytes("S:\\qw-space\\FULL.DAT").size());
}

TEST_F(SmallDriveTest, OneByteMoreIsRefusedBeforeAnythingIsTouched) {
  struct Case {
    const char* member;
    bool newerOnly;
  };
  const Case cases[] = {{"FULL.DAT", false}, {"FULL.DAT", true}, {"SAME.DAT", true}};
  const std::size_t caseCount = sizeof cases / sizeof cases[0];
  // Existing newer read-only files, made before the free bytes are measured: newerOnly alone
  // would keep them.
  const Bytes old = Sample(10, 23);
  for (std::size_t i = 0; i < caseCount; ++i) {
    const std::string target = "S:\\qw-space\\target" + std::to_string(i);
    ASSERT_TRUE(WriteBytes(target, old));
    StampWriteTime(target, kMemberTime + 1);
    ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  }
  std::uint64_t total;
  ASSERT_TRUE(QueryFreeSpace("S:", &free_, &total, nullptr));
  const Bytes contents(static_cast<std::size_t>(free_ + 1), 0x5A);
  Load({Member("FULL.DAT", contents), Member("SAME.DAT", contents, true)});

  for (std::size_t i = 0; i < caseCount; ++i) {
    const std::string target = "S:\\qw-space\\target" + std::to_string(i);
    MessageBoxCapture capture;
    EXPECT_FALSE(ExtractPackageMember(target.c_str(), cases[i].member, cases[i].newerOnly))
        << "case " << i;
    ExpectOneError(capture, ShortfallMessage("S:", "1"), cases[i].member);
    EXPECT_EQ(kMemberTime + 1, TimesOf(target).write) << "case " << i;
    EXPECT_EQ(old, ReadBytes(target)) << "case " << i;
    EXPECT_NE(0u, GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY) << "case " << i;
  }
}

TEST_F(SmallDriveTest, AShortfallOfTwoGibibytesOrMoreReadsAsAnUnsignedNumber) {
  // A packed member may claim up to 91 bytes per stored byte; the check runs before decoding.
  const std::uint32_t claimed = static_cast<std::uint32_t>(free_ + 0x80000005ull);
  const std::uint32_t storedSize = claimed / 91 + 1;
  Load({Member("HUGE.DAT", Bytes(storedSize, 0))});
  PutEntry32(0, 260, kMemberCompressed);
  PutEntry32(0, 272, claimed);
  Install();
  MessageBoxCapture capture;
  EXPECT_FALSE(ExtractPackageMember("S:\\qw-space\\HUGE.DAT", "HUGE.DAT", false));
  ExpectOneError(capture, ShortfallMessage("S:", "2147483653"), "shortfall 2^31 + 5");
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("S:\\qw-space\\HUGE.DAT"));
}

// A write that runs out of room part-way: the target lies on the small tmpfs behind S:, reached
// through Wine's root drive Z:, so the free-space check asks Z: (which has room) and passes, and
// the new file cannot be completed on the tmpfs. The old file, too small to make room by itself,
// stays whole, and nothing else is left.
TEST_F(SmallDriveTest, AWriteThatRunsOutOfRoomLeavesTheOldFileWhole) {
  const std::string folder = ToWindowsPath(QW_SMALL_DRIVE_FOLDER) + "\\qw-space";
  const Bytes marker = Sample(10, 29);
  ASSERT_TRUE(WriteBytes("S:\\qw-space\\marker", marker));
  if (ReadBytes(folder + "\\marker") != marker) {
    GTEST_SKIP() << folder << " is not the folder behind S:";
  }
  DeleteFileA("S:\\qw-space\\marker");
  const Bytes old = Sample(256 << 10, 30);
  const std::string target = folder + "\\GAME.DAT";
  ASSERT_TRUE(WriteBytes(target, old));
  StampWriteTime(target, kMemberTime - 3);
  std::uint64_t total;
  ASSERT_TRUE(QueryFreeSpace("S:", &free_, &total, nullptr));
  // Writing in place would have room for all but 64 KiB of it; beside the old file, for less.
  const Bytes contents = Sample(static_cast<std::size_t>(free_ + old.size() + (64 << 10)), 31);
  Load({Member("GAME.DAT", contents)});

  MessageBoxCapture capture;
  EXPECT_FALSE(ExtractPackageMember(target.c_str(), "GAME.DAT", false));
  EXPECT_TRUE(capture.boxes().empty()) << Describe(capture.boxes());
  EXPECT_EQ(std::vector<std::string>{"GAME.DAT"}, ListTree(folder));
  EXPECT_EQ(kMemberTime - 3, TimesOf(target).write);
  EXPECT_TRUE(ReadBytes(target) == old);
  std::uint64_t freeAfter;
  ASSERT_TRUE(QueryFreeSpace("S:", &freeAfter, &total, nullptr));
  EXPECT_EQ(free_, freeAfter) << "the partly written file is gone";
}

}  // namespace
