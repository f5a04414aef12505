// Runs of the real UPDATE.exe, from its embedded package to its exit: the manifest extracted
// into a folder of the run's own under the temp folder, and nothing left behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/win32_handles.h"
#include "app/bootstrap.h"
#include "app/updater_state.h"
#include "package/package_format.h"
#include "tests/support/message_box_capture.h"
#include "tests/support/test_files.h"
#include "tests/support/test_updater.h"
#include "tests/support/updater_process.h"
#include "tools/packer/package_writer.h"

namespace {

constexpr std::uint64_t kMemberTime = 134405892000000000;  // 2026-12-01 09:00 UTC

// Where the bootstrap has ended: the installation check's first read of the manifest.
const std::vector<std::string> kBootstrapEnd = {"GetPrivateProfileStringA"};
constexpr int kProfileFileArgument = 5;  // GetPrivateProfileStringA's lpFileName

const char kManifestText[] =
    "[SETUP]\r\nCompanyName=NORVALE Test\r\nGameTitle=\xE8\xA9\xA6\xE9\xA8\x93\r\n"
    "GameClass=QwTestGame\r\nGameDir=Bootstrap\r\n\r\n[UPDATE]\r\nUpdateFile00=DATA.BIN\r\n";

const char kPackageReadError[] = "RESOURCE READ ERROR";
const char kMissingMember[] = "Can't Find File in Resource !!";
const char kTempFolderError[] = "Can't Create Temporary Folder !!";

PackageMemberInput Member(const char* name, const std::string& text, bool compress) {
  PackageMemberInput member;
  member.name = name;
  member.bytes = ToBytes(text);
  member.lastWriteTime = kMemberTime;
  member.compress = compress;
  return member;
}

std::vector<std::uint8_t> Package(const std::vector<PackageMemberInput>& members,
                                  bool compressIndex) {
  std::vector<std::uint8_t> package;
  std::string error;
  EXPECT_TRUE(BuildPackage(members, compressIndex, &package, &error)) << error;
  return package;
}

// A manifest and one data member; the manifest packed or stored, the index likewise.
std::vector<std::uint8_t> ManifestPackage(bool compressManifest, bool compressIndex) {
  return Package({Member("DATA.BIN", std::string(300, 'x'), false),
                  Member("UPDATE.INI", kManifestText, compressManifest)},
                 compressIndex);
}

PackageHeader HeaderOf(const std::vector<std::uint8_t>& package) {
  PackageHeader header{};
  std::memcpy(&header, package.data(), sizeof header);
  return header;
}

void SetHeader(std::vector<std::uint8_t>* package, const PackageHeader& header) {
  std::memcpy(package->data(), &header, sizeof header);
}

// "UPD" and eight hex digits followed by a backslash: a run's own folder in a ListTree.
bool IsRunFolderEntry(const std::string& entry) {
  if (entry.size() != 12 || entry.compare(0, 3, "UPD") != 0 || entry.back() != '\\') return false;
  for (size_t i = 3; i < 11; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(entry[i]))) return false;
  }
  return true;
}

// The temp folder's entries that are not in planted: exactly one run folder holding exactly
// UPDATE.INI. Returns the run folder's name (with its backslash), or empty after a failure.
std::string OwnManifestFolder(const std::string& temp, const std::vector<std::string>& planted) {
  std::vector<std::string> own;
  for (const std::string& entry : ListTree(temp)) {
    bool isPlanted = false;
    for (const std::string& p : planted) isPlanted = isPlanted || entry.compare(0, p.size(), p) == 0;
    if (!isPlanted) own.push_back(entry);
  }
  if (own.size() != 2 || !IsRunFolderEntry(own[0]) || own[1] != own[0] + "UPDATE.INI") {
    ADD_FAILURE() << "expected one run folder holding UPDATE.INI: " << Describe(ListTree(temp));
    return {};
  }
  return own[0];
}

// Takes a run that got past the bootstrap to its exit: message boxes get OK, and a wizard (when
// the prefix holds an installation the manifest names) is cancelled. The run's exit code.
int FinishRun(UpdaterProcess& run) {
  run.WaitUntil([&run] { return run.wizard() != nullptr; }, "the exit or the wizard");
  if (run.wizard()) run.Command(IDCANCEL);
  return run.WaitForExit();
}

class BootstrapRun : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(MakeFolder(temp_)); }

  RunOptions Options(bool pause) const {
    RunOptions options;
    options.tempFolder = temp_;
    if (pause) options.pauseAt = kBootstrapEnd;
    return options;
  }

  ScratchFolder work_{"bootstrap"};
  const std::string temp_ = work_.Join("temp");
};

TEST_F(BootstrapRun, ExtractsTheManifestIntoAFolderOfItsOwnAndRemovesBothAtTheExit) {
  const struct {
    const char* label;
    std::vector<std::uint8_t> package;
  } cases[] = {
      {"the built package", BuiltPackage()},
      {"stored manifest, stored index", ManifestPackage(false, false)},
      {"packed manifest, packed index", ManifestPackage(true, true)},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << cases[i].label);
    PackageMemberCopy manifest;
    ASSERT_TRUE(ReadPackageMember(cases[i].package, "UPDATE.INI", &manifest));
    ScratchFolder folder{"case"};
    const std::string exe = MakeTestUpdater(folder.path(), cases[i].package);
    ASSERT_FALSE(exe.empty());

    UpdaterProcess run;
    ASSERT_TRUE(run.Start(exe, Options(true)));
    ASSERT_FALSE(run.WaitForPause().empty()) << run.Describe();
    EXPECT_TRUE(run.boxes().empty()) << run.Describe();
    const std::string own = OwnManifestFolder(temp_, {});
    ASSERT_FALSE(own.empty());
    const std::string extracted = JoinPath(temp_, own + "UPDATE.INI");
    EXPECT_EQ(extracted, run.PausedStringArgument(kProfileFileArgument));
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(ReadBytes(extracted, &bytes));
    EXPECT_EQ(manifest.bytes, bytes);
    EXPECT_EQ(manifest.lastWriteTime, LastWriteTime(extracted));
    EXPECT_EQ(0u, Attributes(extracted) & FILE_ATTRIBUTE_READONLY);

    run.Resume();
    EXPECT_EQ(0, FinishRun(run)) << run.Describe();
    EXPECT_EQ(std::vector<std::string>{}, ListTree(temp_));
  }
}

// The run folders standing directly in folder.
std::vector<std::string> RunFolders(const std::string& folder) {
  std::vector<std::string> found;
  for (const std::string& entry : ListTree(folder)) {
    if (IsRunFolderEntry(entry)) found.push_back(entry);
  }
  return found;
}

TEST(BootstrapRunInTheUsersTemp, LeavesNoFolderBehindInTheInheritedTempFolder) {
  const std::string temp = ProcessTempFolder();
  const std::vector<std::string> before = RunFolders(temp);
  ScratchFolder folder{"inherited"};
  const std::string exe = MakeTestUpdater(folder.path(), BuiltPackage());
  ASSERT_FALSE(exe.empty());
  RunOptions options;
  options.pauseAt = kBootstrapEnd;

  UpdaterProcess run;
  ASSERT_TRUE(run.Start(exe, options));
  ASSERT_FALSE(run.WaitForPause().empty()) << run.Describe();
  const std::string manifest = run.PausedStringArgument(kProfileFileArgument);
  EXPECT_EQ(temp, manifest.substr(0, temp.size())) << manifest;
  EXPECT_TRUE(IsFile(manifest)) << manifest;
  run.Resume();
  EXPECT_EQ(0, FinishRun(run)) << run.Describe();
  EXPECT_EQ(before, RunFolders(temp));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(manifest));
}

TEST_F(BootstrapRun, EndsSilentlyWithoutAPackage) {
  const struct {
    const char* label;
    bool withResource;
  } cases[] = {
      {"no resource UPDATE/102", false},
      {"an empty resource UPDATE/102", true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << cases[i].label);
    ScratchFolder folder{"case"};
    const std::string exe = cases[i].withResource ? MakeTestUpdater(folder.path(), {})
                                                  : MakeTestUpdaterWithoutPackage(folder.path());
    ASSERT_FALSE(exe.empty());
    std::vector<std::uint8_t> resource;
    if (cases[i].withResource) {
      ASSERT_TRUE(ReadPackageResource(exe, &resource));
      ASSERT_TRUE(resource.empty());
    } else {
      ASSERT_FALSE(ReadPackageResource(exe, &resource));
    }

    UpdaterProcess run;
    ASSERT_TRUE(run.Start(exe, Options(false)));
    EXPECT_EQ(0, run.WaitForExit()) << run.Describe();
    EXPECT_TRUE(run.windows().empty()) << run.Describe();
    EXPECT_EQ(std::vector<std::string>{}, ListTree(temp_));
    EXPECT_EQ(std::vector<std::string>{"UPDATE.exe"}, ListTree(folder.path()));
  }
}

TEST_F(BootstrapRun, ReportsAPackageWhoseIndexCannotBeLoaded) {
  const std::vector<std::uint8_t> packed = ManifestPackage(true, true);
  const std::vector<std::uint8_t> stored = ManifestPackage(false, false);
  const PackageHeader packedHeader = HeaderOf(packed);
  const PackageHeader storedHeader = HeaderOf(stored);

  std::vector<std::uint8_t> cutStream(packed.begin(), packed.begin() + packedHeader.indexOffset + 6);
  std::vector<std::uint8_t> noisyStream = packed;
  for (size_t i = packedHeader.indexOffset; i < noisyStream.size(); ++i) noisyStream[i] = 0xFF;
  std::vector<std::uint8_t> shortIndex = stored;
  shortIndex.resize(shortIndex.size() - 1);
  std::vector<std::uint8_t> indexOutside = stored;
  PackageHeader outside = storedHeader;
  outside.indexOffset = static_cast<std::uint32_t>(stored.size()) + 16;
  SetHeader(&indexOutside, outside);
  std::vector<std::uint8_t> moreEntries = stored;
  PackageHeader more = storedHeader;
  more.entryCount += 1;
  SetHeader(&moreEntries, more);

  const struct {
    const char* label;
    std::vector<std::uint8_t> package;
  } cases[] = {
      {"packed index cut short", cutStream},
      {"packed index of 0xFF bytes", noisyStream},
      {"plain index one byte short", shortIndex},
      {"index offset behind the end", indexOutside},
      {"one entry more than the index holds", moreEntries},
      {"shorter than a header", {'Q', 'W', '2', 0, 1}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << cases[i].label);
    ScratchFolder folder{"case"};
    const std::string exe = MakeTestUpdater(folder.path(), cases[i].package);
    ASSERT_FALSE(exe.empty());

    UpdaterProcess run;
    ASSERT_TRUE(run.Start(exe, Options(false)));
    EXPECT_EQ(0, run.WaitForExit()) << run.Describe();
    ASSERT_EQ(1u, run.boxes().size()) << run.Describe();
    const CapturedBox& box = run.boxes()[0];
    EXPECT_EQ(kPackageReadError, box.text);
    EXPECT_EQ("UPDATE", box.caption);
    EXPECT_TRUE(box.hasIcon);
    EXPECT_FALSE(box.hasCancel);
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ(std::vector<std::string>{}, ListTree(temp_));
  }
}

TEST_F(BootstrapRun, ReportsAPackageWithoutTheManifest) {
  const struct {
    const char* label;
    std::vector<std::uint8_t> package;
  } cases[] = {
      {"other members only", Package({Member("UPDATE.IN", "x", false),
                                      Member("README.TXT", kManifestText, true)},
                                     true)},
      {"no members", Package({}, false)},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << cases[i].label);
    ScratchFolder folder{"case"};
    const std::string exe = MakeTestUpdater(folder.path(), cases[i].package);
    ASSERT_FALSE(exe.empty());

    UpdaterProcess run;
    ASSERT_TRUE(run.Start(exe, Options(false)));
    EXPECT_EQ(0, run.WaitForExit()) << run.Describe();
    ASSERT_EQ(1u, run.boxes().size()) << run.Describe();
    EXPECT_EQ(kMissingMember, run.boxes()[0].text);
    EXPECT_EQ("UPDATE", run.boxes()[0].caption);
    EXPECT_TRUE(run.boxes()[0].hasIcon);
    EXPECT_EQ(std::vector<std::string>{}, ListTree(temp_));
  }
}

TEST_F(BootstrapRun, LeavesWhatAlreadyStandsInTheTempFolderAlone) {
  const std::string planted = JoinPath(temp_, "UPDATE.INI");
  const std::string plantedText = "[SETUP]\r\nCompanyName=planted\r\n";
  const struct {
    const char* label;
    bool asFolder;
  } cases[] = {
      {"a read-only file UPDATE.INI", false},
      {"a folder UPDATE.INI holding a file", true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << cases[i].label);
    std::vector<std::string> plantedTree;
    std::string plantedFile = planted;
    if (cases[i].asFolder) {
      ASSERT_TRUE(MakeFolder(planted));
      plantedFile = JoinPath(planted, "NOTE.TXT");
      plantedTree = {"UPDATE.INI\\", "UPDATE.INI\\NOTE.TXT"};
    } else {
      plantedTree = {"UPDATE.INI"};
    }
    ASSERT_TRUE(WriteText(plantedFile, plantedText));
    ASSERT_TRUE(SetFileAttributesA(plantedFile.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::uint64_t plantedTime = LastWriteTime(plantedFile);
    const DWORD plantedAttributes = Attributes(plantedFile);

    ScratchFolder folder{"case"};
    const std::string exe = MakeTestUpdater(folder.path(), ManifestPackage(true, true));
    ASSERT_FALSE(exe.empty());
    UpdaterProcess run;
    ASSERT_TRUE(run.Start(exe, Options(true)));
    ASSERT_FALSE(run.WaitForPause().empty()) << run.Describe();
    EXPECT_TRUE(run.boxes().empty()) << run.Describe();
    EXPECT_FALSE(OwnManifestFolder(temp_, {"UPDATE.INI"}).empty());
    run.Resume();
    EXPECT_EQ(0, FinishRun(run)) << run.Describe();

    EXPECT_EQ(plantedTree, ListTree(temp_));
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(ReadBytes(plantedFile, &bytes));
    EXPECT_EQ(ToBytes(plantedText), bytes);
    EXPECT_EQ(plantedTime, LastWriteTime(plantedFile));
    EXPECT_EQ(plantedAttributes, Attributes(plantedFile));
    EXPECT_TRUE(plantedAttributes & FILE_ATTRIBUTE_READONLY);
    RemoveTree(planted);
  }
}

TEST_F(BootstrapRun, EndsWithAMessageWhenNoFolderOfItsOwnFitsTheTempFolder) {
  // A temp folder of 240 bytes with its backslash: room for the run's folder (+11 bytes) but
  // not for UPDATE.INI inside it with the two NULs of a joined path.
  std::string deep = temp_;
  while (deep.size() < 239) {
    const size_t room = 239 - deep.size() - 1;  // for the next name, after its backslash
    deep = JoinPath(deep, std::string(room > 80 ? 40 : room, 'd'));
    ASSERT_TRUE(MakeFolder(deep)) << deep;
  }
  ASSERT_EQ(239u, deep.size());
  const struct {
    const char* label;
    std::string temp;
  } cases[] = {
      {"a temp folder that does not exist", JoinPath(temp_, "missing")},
      {"a temp folder of 300 bytes", JoinPath(temp_, std::string(300, 'm'))},
      {"no room for UPDATE.INI in the run's folder", deep},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << cases[i].label);
    ScratchFolder folder{"case"};
    const std::string exe = MakeTestUpdater(folder.path(), ManifestPackage(true, true));
    ASSERT_FALSE(exe.empty());
    RunOptions options = Options(false);
    options.tempFolder = cases[i].temp;

    UpdaterProcess run;
    ASSERT_TRUE(run.Start(exe, options));
    EXPECT_EQ(0, run.WaitForExit()) << run.Describe();
    ASSERT_EQ(1u, run.boxes().size()) << run.Describe();
    EXPECT_EQ(kTempFolderError, run.boxes()[0].text);
    EXPECT_EQ("UPDATE", run.boxes()[0].caption);
    EXPECT_TRUE(run.boxes()[0].hasIcon);
    EXPECT_EQ(std::vector<std::string>{}, ListTree(deep));
  }
}

TEST_F(BootstrapRun, ASecondRunLeavesTheFirstRunsManifestAlone) {
  const std::vector<std::uint8_t> package = ManifestPackage(true, true);
  ScratchFolder firstFolder{"first"};
  ScratchFolder secondFolder{"second"};
  const std::string firstExe = MakeTestUpdater(firstFolder.path(), package);
  const std::string secondExe = MakeTestUpdater(secondFolder.path(), package);
  ASSERT_FALSE(firstExe.empty());
  ASSERT_FALSE(secondExe.empty());

  UpdaterProcess first;
  ASSERT_TRUE(first.Start(firstExe, Options(true)));
  ASSERT_FALSE(first.WaitForPause().empty()) << first.Describe();
  const std::string own = OwnManifestFolder(temp_, {});
  ASSERT_FALSE(own.empty());
  const std::string manifest = JoinPath(temp_, own + "UPDATE.INI");
  std::vector<std::uint8_t> before;
  ASSERT_TRUE(ReadBytes(manifest, &before));
  const std::uint64_t timeBefore = LastWriteTime(manifest);
  const std::vector<std::string> treeBefore = ListTree(temp_);

  UpdaterProcess second;
  ASSERT_TRUE(second.Start(secondExe, Options(false)));
  EXPECT_EQ(0, FinishRun(second)) << second.Describe();

  EXPECT_EQ(treeBefore, ListTree(temp_));
  std::vector<std::uint8_t> after;
  EXPECT_TRUE(ReadBytes(manifest, &after));
  EXPECT_EQ(before, after);
  EXPECT_EQ(timeBefore, LastWriteTime(manifest));

  first.Resume();
  EXPECT_EQ(0, FinishRun(first)) << first.Describe();
  EXPECT_EQ(std::vector<std::string>{}, ListTree(temp_));
}

TEST_F(BootstrapRun, TakesAnotherFolderWhenItsFolderNameIsTaken) {
  const struct {
    const char* label;
    bool asFolder;
  } cases[] = {
      {"a file of that name", false},
      {"a folder of that name holding UPDATE.INI", true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << ": " << cases[i].label);
    ScratchFolder folder{"case"};
    const std::string exe = MakeTestUpdater(folder.path(), ManifestPackage(true, true));
    ASSERT_FALSE(exe.empty());
    RunOptions options = Options(true);
    options.pauseAt.push_back("CreateDirectoryA");

    UpdaterProcess run;
    ASSERT_TRUE(run.Start(exe, options));
    ASSERT_EQ("CreateDirectoryA", run.WaitForPause()) << run.Describe();
    const std::string taken = run.PausedStringArgument(0);
    ASSERT_EQ(JoinPath(temp_, ""), taken.substr(0, temp_.size() + 1)) << taken;
    const std::string name = taken.substr(temp_.size() + 1);
    ASSERT_TRUE(IsRunFolderEntry(name + "\\")) << taken;
    std::string plantedFile = taken;
    std::vector<std::string> plantedTree = {name};
    if (cases[i].asFolder) {
      ASSERT_TRUE(MakeFolder(taken));
      plantedFile = JoinPath(taken, "UPDATE.INI");
      plantedTree = {name + "\\", name + "\\UPDATE.INI"};
    }
    ASSERT_TRUE(WriteText(plantedFile, "planted"));

    run.Resume(true);
    ASSERT_FALSE(run.WaitForPause().empty()) << run.Describe();
    EXPECT_TRUE(run.boxes().empty()) << run.Describe();
    EXPECT_NE(name + "\\", OwnManifestFolder(temp_, {name}));
    run.Resume();
    EXPECT_EQ(0, FinishRun(run)) << run.Describe();

    EXPECT_EQ(plantedTree, ListTree(temp_));
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(ReadBytes(plantedFile, &bytes));
    EXPECT_EQ(ToBytes("planted"), bytes);
    RemoveTree(taken);
  }
}

// In process: the exit's clean-up over a manifest folder made here.
TEST(RemoveTempManifest, ReleasesTheIndexAndRemovesTheManifestAndItsFolderOnlyOnce) {
  ScratchFolder work{"remove"};
  const std::string folder = work.Join("UPD0000ABCD");
  const std::string manifest = JoinPath(folder, "UPDATE.INI");
  ASSERT_TRUE(MakeFolder(folder));
  ASSERT_TRUE(WriteText(manifest, kManifestText));
  ResetUpdaterState();
  lstrcpyA(g_updater.tempManifestFolder, folder.c_str());
  lstrcpyA(g_updater.tempManifestPath, manifest.c_str());
  g_updater.packageIndex = static_cast<PackageIndex*>(GlobalAlloc(GMEM_FIXED, kPackageHeaderSize));
  ASSERT_NE(nullptr, g_updater.packageIndex);

  MessageBoxCapture capture;
  RemoveTempManifest();
  EXPECT_EQ(nullptr, g_updater.packageIndex);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(folder));

  // What stands at those paths afterwards belongs to someone else: a second call leaves it.
  ASSERT_TRUE(MakeFolder(folder));
  ASSERT_TRUE(WriteText(manifest, "another run's"));
  RemoveTempManifest();
  EXPECT_TRUE(IsFile(manifest));
  EXPECT_TRUE(capture.boxes().empty()) << Describe(capture.boxes());
  ResetUpdaterState();
}

TEST(RemoveTempManifest, KeepsItsFolderWhenSomethingElseWasPutInIt) {
  ScratchFolder work{"remove"};
  const std::string folder = work.Join("UPD0000ABCE");
  const std::string other = JoinPath(folder, "OTHER.TXT");
  ASSERT_TRUE(MakeFolder(folder));
  ASSERT_TRUE(WriteText(JoinPath(folder, "UPDATE.INI"), kManifestText));
  ASSERT_TRUE(WriteText(other, "not the updater's"));
  ResetUpdaterState();
  lstrcpyA(g_updater.tempManifestFolder, folder.c_str());
  lstrcpyA(g_updater.tempManifestPath, JoinPath(folder, "UPDATE.INI").c_str());

  RemoveTempManifest();
  EXPECT_EQ(std::vector<std::string>{"OTHER.TXT"}, ListTree(folder));
  ResetUpdaterState();
}

// The attributes of the first element named element in xml.
std::map<std::string, std::string> XmlAttributes(const std::string& xml, const std::string& element) {
  std::map<std::string, std::string> attributes;
  const size_t start = xml.find("<" + element + " ");
  if (start == std::string::npos) return attributes;
  const size_t end = xml.find('>', start);
  size_t at = start + element.size() + 2;
  for (;;) {
    const size_t equals = xml.find("=\"", at);
    if (equals == std::string::npos || equals > end) break;
    const size_t close = xml.find('"', equals + 2);
    size_t nameStart = xml.find_last_of(" \t\r\n", equals) + 1;
    attributes[xml.substr(nameStart, equals - nameStart)] =
        xml.substr(equals + 2, close - equals - 2);
    at = close + 1;
  }
  return attributes;
}

// The PE headers of an image file read as bytes.
struct PeFacts {
  WORD machine = 0;
  WORD magic = 0;
  WORD subsystem = 0;
  std::vector<std::string> importedDlls;
};

bool ReadPeFacts(const std::vector<std::uint8_t>& file, PeFacts* facts) {
  IMAGE_DOS_HEADER dos;
  if (file.size() < sizeof dos) return false;
  std::memcpy(&dos, file.data(), sizeof dos);
  IMAGE_NT_HEADERS32 nt;
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || file.size() < dos.e_lfanew + sizeof nt) return false;
  std::memcpy(&nt, file.data() + dos.e_lfanew, sizeof nt);
  if (nt.Signature != IMAGE_NT_SIGNATURE) return false;
  facts->machine = nt.FileHeader.Machine;
  facts->magic = nt.OptionalHeader.Magic;
  facts->subsystem = nt.OptionalHeader.Subsystem;

  const size_t sectionsAt = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                            nt.FileHeader.SizeOfOptionalHeader;
  std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
  if (file.size() < sectionsAt + sections.size() * sizeof(IMAGE_SECTION_HEADER)) return false;
  std::memcpy(sections.data(), file.data() + sectionsAt,
              sections.size() * sizeof(IMAGE_SECTION_HEADER));
  auto offsetOf = [&](DWORD rva) -> size_t {
    for (const IMAGE_SECTION_HEADER& s : sections) {
      if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
        return rva - s.VirtualAddress + s.PointerToRawData;
      }
    }
    return 0;
  };
  const DWORD importsRva = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (size_t at = offsetOf(importsRva); at && at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= file.size();
       at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    std::memcpy(&descriptor, file.data() + at, sizeof descriptor);
    if (descriptor.Name == 0) break;
    const size_t name = offsetOf(descriptor.Name);
    if (!name) return false;
    facts->importedDlls.push_back(reinterpret_cast<const char*>(file.data() + name));
  }
  return true;
}

TEST(BuiltUpdater, IsAStatic32BitGuiExecutable) {
  std::vector<std::uint8_t> file;
  ASSERT_TRUE(ReadBytes(BuiltUpdaterPath(), &file)) << BuiltUpdaterPath();
  PeFacts facts;
  ASSERT_TRUE(ReadPeFacts(file, &facts));
  EXPECT_EQ(IMAGE_FILE_MACHINE_I386, facts.machine);
  EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, facts.magic);
  EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, facts.subsystem);
  ASSERT_FALSE(facts.importedDlls.empty());
  for (const std::string& dll : facts.importedDlls) {
    // The compiler's runtime DLLs (libstdc++, libgcc, libwinpthread) are linked in.
    EXPECT_NE(0, _strnicmp(dll.c_str(), "lib", 3)) << dll;
  }
}

TEST(BuiltUpdater, HoldsItsApplicationManifestAndTheConfiguredPackage) {
  UniqueLibrary module(
      LoadLibraryExA(BuiltUpdaterPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(module) << BuiltUpdaterPath();
  HRSRC found = FindResourceA(module.get(), MAKEINTRESOURCEA(1), RT_MANIFEST);
  ASSERT_NE(nullptr, found);
  const char* data = static_cast<const char*>(LockResource(LoadResource(module.get(), found)));
  ASSERT_NE(nullptr, data);
  const std::string manifest(data, SizeofResource(module.get(), found));

  const std::map<std::string, std::string> identity = {
      {"name", "NORVALE.Updater.UPDATE"},
      {"version", "1.0.0.0"},
      {"processorArchitecture", "X86"},
      {"type", "win32"},
  };
  EXPECT_EQ(identity, XmlAttributes(manifest, "assemblyIdentity")) << manifest;
  const std::map<std::string, std::string> executionLevel = {
      {"level", "requireAdministrator"},
      {"uiAccess", "false"},
  };
  EXPECT_EQ(executionLevel, XmlAttributes(manifest, "requestedExecutionLevel")) << manifest;

  std::vector<std::uint8_t> configured;
  ASSERT_TRUE(ReadBytes(ToWindowsPath(QW_EMBEDDED_PACKAGE), &configured));
  const std::vector<std::uint8_t> embedded = BuiltPackage();
  ASSERT_FALSE(embedded.empty());
  EXPECT_TRUE(embedded == configured) << "UPDATE/102 is not the configured package";
}

}  // namespace
