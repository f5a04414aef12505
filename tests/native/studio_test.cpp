// The studio commands of the built qwpack (QWPACK_PATH) on real files: check over a table of
// manifests with one mistake each, plan over a real installation folder, make-updater's refusals.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/packer/package_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kUnixEpochFileTime = 11644473600ull * 10000000ull;
constexpr std::uint64_t kMemberTime = 134405892000000000;  // 2026-12-01 09:00 UTC

class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/qwstudio-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~Scratch() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

// Sets the file's modification time to the FILETIME.
void Stamp(const std::string& path, std::uint64_t fileTime) {
  const std::uint64_t ticks = fileTime - kUnixEpochFileTime;
  const struct timespec times[2] = {
      {static_cast<time_t>(ticks / 10000000), static_cast<long>(ticks % 10000000 * 100)},
      {static_cast<time_t>(ticks / 10000000), static_cast<long>(ticks % 10000000 * 100)}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0)) << path;
}

struct ToolRun {
  int status;
  std::string output;  // stdout and stderr
};

ToolRun RunQwpack(const std::string& arguments) {
  const std::string command = std::string("'") + QWPACK_PATH + "' " + arguments + " 2>&1";
  ToolRun run{-1, {}};
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// The lines of text in order, CR LF after each: the form the packer and installers leave.
std::string ProfileText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

void WritePackage(const std::string& path, const std::vector<PackageMemberInput>& members) {
  Bytes package;
  std::string error;
  ASSERT_TRUE(BuildPackage(members, false, &package, &error)) << error;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(package.data()),
             static_cast<std::streamsize>(package.size()));
}

// ---- check

const std::vector<std::string> kSetupLines = {
    "[SETUP]",
    "CompanyName=NORVALE",
    "GameTitle=Hoshiori",
    "GameClass=HoshioriMainWindow",
    "GameDir=Hoshiori",
    "AgreementText=AGREE.TXT",
};

struct CheckCase {
  std::vector<std::string> setupLines;   // replaces kSetupLines when not empty
  std::vector<std::string> updateLines;  // section UPDATE, after its header
  const char* finding;                   // the start of the expected line: key and reason
};

std::string Repeat(char c, std::size_t count) { return std::string(count, c); }

std::vector<std::string> SetupWithout(const std::string& key) {
  std::vector<std::string> lines;
  for (const std::string& line : kSetupLines) {
    if (line.compare(0, key.size() + 1, key + "=") != 0) lines.push_back(line);
  }
  return lines;
}

// kSetupLines with the key's line replaced by (or extended with) line.
std::vector<std::string> SetupWith(const std::string& line) {
  std::vector<std::string> lines = SetupWithout(line.substr(0, line.find('=')));
  lines.push_back(line);
  return lines;
}

std::vector<std::string> SixteenPlusOne() {
  std::vector<std::string> lines;
  for (int i = 0; i <= 16; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "UpdateFile%02d=A.DAT", i);
    lines.push_back(line);
  }
  return lines;
}

const CheckCase kCheckCases[] = {
    // Required keys.
    {SetupWithout("GameDir"), {"UpdateFile00=A.DAT"}, "[SETUP] GameDir: required key is missing"},
    {SetupWith("GameClass="), {"UpdateFile00=A.DAT"}, "[SETUP] GameClass: required key is missing"},
    {SetupWithout("CompanyName"), {"UpdateFile00=A.DAT"}, "[SETUP] CompanyName: required key"},
    // List keys the updater never reads.
    {{}, SixteenPlusOne(), "[UPDATE] UpdateFile16: never read: past the sixteenth"},
    {{},
     {"UpdateFile00=A.DAT", "UpdateFile02=A.DAT"},
     "[UPDATE] UpdateFile02: never read: the list ends at the gap"},
    {{},
     {"UpdateFile00=A.DAT", "UpdateFile01=", "UpdateFile02=A.DAT"},
     "[UPDATE] UpdateFile02: never read: the list ends at the gap"},
    {{}, {"CopyFile01=MOVIE"}, "[UPDATE] CopyFile01: never read: the list ends at the gap"},
    {{}, {"UpdateFile00=A.DAT", "UpdateFile1=A.DAT"}, "[UPDATE] UpdateFile1: never read"},
    {{}, {"UpdateFile00=A.DAT", "updatefile00=B.DAT"}, "[UPDATE] updatefile00: duplicate key"},
    // Entries outside the accepted forms.
    {{}, {"UpdateFile00=u"}, "[UPDATE] UpdateFile00: no path"},
    {{},
     {"UpdateFile00=,A.DAT"},
     "[UPDATE] UpdateFile00: never read: \",A.DAT\" after an empty field"},
    {{}, {"UpdateFile00=12,A.DAT"}, "[UPDATE] UpdateFile00: never read: \"A.DAT\" after the path"},
    {{}, {"UpdateFile00=A.DAT,u"}, "[UPDATE] UpdateFile00: never read: \"u\" after the path"},
    {{},
     {"UpdateFile00=X:A.DAT"},
     "[UPDATE] UpdateFile00: the path's first two characters are taken as a disk prefix"},
    {{}, {"UpdateFile00=DATA\\"}, "[UPDATE] UpdateFile00: the path ends in a backslash"},
    {{},
     {"UpdateFile00=A.DAT", "CopyFile00=A:MOVIE"},
     "[UPDATE] CopyFile00: 'A:' is no disk number"},
    {{},
     {"UpdateFile00=A.DAT", "CopyFile00=X,1:MOVIE"},
     "[UPDATE] CopyFile00: install-mode filter 'X' is no digit"},
    {{},
     {"UpdateFile00=A.DAT", "CopyFile00=MOVIE"},
     "[UPDATE] CopyFile00: names no disk, and no earlier entry"},
    {{},
     {"UpdateFile00=A.DAT", "RequiredDiskSpace=64KB"},
     "[UPDATE] RequiredDiskSpace: \"64KB\" is not a decimal number: the updater reads 64"},
    {{}, {}, "[UPDATE]: no UpdateFile00 and no CopyFile00"},
    {{},
     {"UpdateFile00=A.DAT", "RequiredDiskSpce=4096"},
     "[UPDATE] RequiredDiskSpce: not a key the updater reads"},
    {SetupWith("GameTitel=Hoshiori"),
     {"UpdateFile00=A.DAT"},
     "[SETUP] GameTitel: not a key the updater reads"},
    {{},
     {"UpdateFile00=A.DAT", "[update]", "UpdateFile01=A.DAT"},
     "[update]: second section of this name (line 9): never read"},
    // Members the package lacks.
    {{},
     {"UpdateFile00=DATA\\MISSING.DAT"},
     "[UPDATE] UpdateFile00: names member MISSING.DAT, which the package lacks"},
    {SetupWithout("AgreementText"),
     {"UpdateFile00=A.DAT", "UpdateFile01=d,2,A.DAT"},
     "[UPDATE] UpdateFile01: names member 2, which the package lacks"},
    {SetupWith("AgreementTitle=TITLE.TXT"),
     {"UpdateFile00=A.DAT"},
     "[SETUP] AgreementTitle: names member TITLE.TXT, which the package lacks"},
    // Disks without a check file in SETUP.INI (which names DiskCheckFile1 only).
    {{},
     {"UpdateFile00=A.DAT", "CopyFile00=2:MOVIE"},
     "[UPDATE] CopyFile00: disk 2 has no DiskCheckFile2 in SETUP.INI"},
    // Values cut by their buffers.
    {SetupWith("GameTitleA=" + Repeat('T', 300)),
     {"UpdateFile00=A.DAT"},
     "[SETUP] GameTitleA: value of 300 bytes is cut to 259"},
    {SetupWith("UpdateMessage=" + Repeat('M', 1030)),
     {"UpdateFile00=A.DAT"},
     "[SETUP] UpdateMessage: value of 1030 bytes is cut to 1023"},
    {{}, {"UpdateFile00=" + Repeat('P', 270)}, "[UPDATE] UpdateFile00: field"},
    {{},
     {"UpdateFile00=A.DAT", "CopyFile00=1:" + Repeat('C', 300)},
     "[UPDATE] CopyFile00: value of 302 bytes is cut to 259"},
    // Text that is not code page 932.
    {SetupWith("UpdaterTitle=\x82"),
     {"UpdateFile00=A.DAT"},
     "[SETUP] UpdaterTitle: not valid code page 932 text: byte 0x82 at offset 0"},
    {SetupWith("UpdaterTitle=A\xFD"),
     {"UpdateFile00=A.DAT"},
     "[SETUP] UpdaterTitle: not valid code page 932 text: byte 0xFD at offset 1"},
    {SetupWith("UpdaterTitle=\xE6\x98\x9F\xE7\xB9\x94"),
     {"UpdateFile00=A.DAT"},
     "[SETUP] UpdaterTitle: text is UTF-8"},
    {{"\xEF\xBB\xBF[SETUP]", "CompanyName=N", "GameTitle=T", "GameClass=C", "GameDir=D"},
     {"UpdateFile00=A.DAT"},
     "file: starts with a UTF-8 byte order mark"},
};

TEST(StudioCheck, FindsEachMistakeOfTheTable) {
  for (std::size_t i = 0; i < sizeof kCheckCases / sizeof kCheckCases[0]; ++i) {
    const CheckCase& c = kCheckCases[i];
    Scratch scratch;
    std::vector<std::string> lines = c.setupLines.empty() ? kSetupLines : c.setupLines;
    lines.push_back("[UPDATE]");
    lines.insert(lines.end(), c.updateLines.begin(), c.updateLines.end());
    const std::string manifest = ProfileText(lines);
    WriteText(scratch / "UPDATE.INI", manifest);
    WritePackage(scratch / "update.qw", {{"UPDATE.INI", ToBytes(manifest), kMemberTime},
                                         {"A.DAT", ToBytes("a"), kMemberTime},
                                         {"AGREE.TXT", ToBytes("agree"), kMemberTime}});
    WriteText(scratch / "SETUP.INI", ProfileText({"[SETUP]", "DiskCheckFile1=DISK1.CHK"}));
    const ToolRun run =
        RunQwpack("check " + Quote(scratch / "UPDATE.INI") + " --package " +
                  Quote(scratch / "update.qw") + " --setup " + Quote(scratch / "SETUP.INI"));
    EXPECT_EQ(1, run.status) << "case " << i << "\n" << run.output;
    EXPECT_NE(std::string::npos, ("\n" + run.output).find(std::string("\n") + c.finding))
        << "case " << i << " expected a line starting " << c.finding << "\n"
        << run.output;
  }
}

// The same manifest with none of the mistakes: the control for every row above.
TEST(StudioCheck, PassesASoundManifestAndTheDemo) {
  Scratch scratch;
  const std::string manifest =
      ProfileText({"[SETUP]", "CompanyName=NORVALE", "GameTitle=Hoshiori",
                   "GameClass=HoshioriMainWindow", "GameDir=Hoshiori", "AgreementText=AGREE.TXT",
                   "[UPDATE]", "RequiredDiskSpace=4096", "UpdateFile00=A.DAT",
                   "UpdateFile01=1,u,DATA\\A.DAT", "CopyFile00=1:MOVIE", "CopyFile01=MOVIE2"});
  WriteText(scratch / "UPDATE.INI", manifest);
  WritePackage(scratch / "update.qw", {{"UPDATE.INI", ToBytes(manifest), kMemberTime},
                                       {"A.DAT", ToBytes("a"), kMemberTime},
                                       {"AGREE.TXT", ToBytes("agree"), kMemberTime}});
  WriteText(scratch / "SETUP.INI", ProfileText({"[SETUP]", "DiskCheckFile1=DISK1.CHK"}));
  ToolRun run =
      RunQwpack("check " + Quote(scratch / "UPDATE.INI") + " --package " +
                Quote(scratch / "update.qw") + " --setup " + Quote(scratch / "SETUP.INI"));
  EXPECT_EQ(0, run.status) << run.output;

  const std::string demo = std::string(QW_SOURCE_DIR) + "/res/demo-update/";
  run = RunQwpack(
      "create " + Quote(scratch / "demo.qw") + " UPDATE.INI=" + Quote(demo + "UPDATE.INI") +
      " AGREE.TXT=" + Quote(demo + "AGREE.TXT") + " README.TXT=" + Quote(demo + "README.TXT") +
      " SCENARIO.DAT=" + Quote(demo + "SCENARIO.DAT"));
  ASSERT_EQ(0, run.status) << run.output;
  run =
      RunQwpack("check " + Quote(demo + "UPDATE.INI") + " --package " + Quote(scratch / "demo.qw"));
  EXPECT_EQ(0, run.status) << run.output;
}

// ---- plan

struct PlanRow {
  const char* key;
  const char* mode;
  const char* outcome;
  const char* target;  // as the updater forms it, below the install (or save) folder
};

std::map<std::string, std::vector<std::string>> PlanLines(const std::string& output) {
  std::map<std::string, std::vector<std::string>> rows;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::size_t start = 0, tab;
    while ((tab = line.find('\t', start)) != std::string::npos) {
      fields.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    fields.push_back(line.substr(start));
    if (fields.size() >= 4) rows[fields[0]] = fields;
  }
  return rows;
}

TEST(StudioPlan, PredictsEachEntryFromTheFilesThereNowAndWritesNothing) {
  Scratch scratch;
  const std::string inst = scratch / "game";
  const std::string save = scratch / "save";
  ASSERT_EQ(0, mkdir(inst.c_str(), 0755));
  ASSERT_EQ(0, mkdir(save.c_str(), 0755));
  ASSERT_EQ(0, mkdir((inst + "/DATA").c_str(), 0755));
  // Existing files: older or newer than the members, some in other letter case.
  for (const char* name :
       {"DATA/plain.dat", "DATA/OLDER.DAT", "DATA/NEWER.DAT", "DATA/THERE.DAT"}) {
    WriteText(inst + "/" + name, "old");
  }
  Stamp(inst + "/DATA/plain.dat", kMemberTime + 1);
  Stamp(inst + "/DATA/OLDER.DAT", kMemberTime - 1);
  Stamp(inst + "/DATA/NEWER.DAT", kMemberTime + 1);
  ASSERT_EQ(0, mkdir((save + "/DATA").c_str(), 0755));
  WriteText(save + "/DATA/KEPT.SAV", "progress");
  ASSERT_EQ(0, mkdir((inst + "/DATA/FOLDER.DAT").c_str(), 0755));

  const std::string manifest = ProfileText({"[SETUP]",
                                            "CompanyName=NORVALE",
                                            "GameTitle=Hoshiori",
                                            "GameClass=H",
                                            "GameDir=Hoshiori",
                                            "DataFolder=DATA",
                                            "[UPDATE]",
                                            "UpdateFile00=PLAIN.DAT",
                                            "UpdateFile01=u,OLDER.DAT",
                                            "UpdateFile02=U,NEWER.DAT",
                                            "UpdateFile03=o,ABSENT.DAT",
                                            "UpdateFile04=o,THERE.DAT",
                                            "UpdateFile05=d,KEPT.SAV",
                                            "UpdateFile06=d,NEW.SAV",
                                            "UpdateFile07=2,OTHER.DAT",
                                            "UpdateFile08=1,u,MINE.DAT",
                                            "UpdateFile09=o,FOLDER.DAT",
                                            "UpdateFile10=SUB\\DEEP.DAT",
                                            "UpdateFile11=LAST.DAT",
                                            "CopyFile00=1:MOVIE"});
  WriteText(scratch / "UPDATE.INI", manifest);
  std::vector<PackageMemberInput> members = {{"UPDATE.INI", ToBytes(manifest), kMemberTime}};
  for (const char* name :
       {"PLAIN.DAT", "OLDER.DAT", "NEWER.DAT", "ABSENT.DAT", "THERE.DAT", "KEPT.SAV", "NEW.SAV",
        "OTHER.DAT", "MINE.DAT", "FOLDER.DAT", "DEEP.DAT", "LAST.DAT"}) {
    members.push_back({name, ToBytes(std::string("new ") + name), kMemberTime});
  }
  WritePackage(scratch / "update.qw", members);
  WriteText(inst + "/SETUP.INI", ProfileText({"[SETUP]", "DiskCheckFile1=DISK1.CHK"}));
  const std::string before = ReadText(inst + "/DATA/plain.dat");

  const ToolRun run = RunQwpack("plan " + Quote(scratch / "UPDATE.INI") + " --package " +
                                Quote(scratch / "update.qw") + " --inst " + Quote(inst) +
                                " --data " + Quote(save) + " --mode 1");
  ASSERT_EQ(0, run.status) << run.output;
  const PlanRow rows[] = {
      {"UpdateFile00", "plain", "written", "game\\DATA\\PLAIN.DAT"},
      {"UpdateFile01", "newer", "written", "game\\DATA\\OLDER.DAT"},
      {"UpdateFile02", "newer", "kept", "game\\DATA\\NEWER.DAT"},
      {"UpdateFile03", "existing", "passed-over", "game\\DATA\\ABSENT.DAT"},
      {"UpdateFile04", "existing", "written", "game\\DATA\\THERE.DAT"},
      {"UpdateFile05", "data", "kept", "save\\DATA\\KEPT.SAV"},
      {"UpdateFile06", "data", "written", "save\\DATA\\NEW.SAV"},
      {"UpdateFile08", "newer", "written", "game\\DATA\\MINE.DAT"},
      {"UpdateFile09", "existing", "passed-over", "game\\DATA\\FOLDER.DAT"},
      {"UpdateFile10", "plain", "fails", "game\\DATA\\SUB\\DEEP.DAT"},
      {"UpdateFile11", "plain", "not-reached", "game\\DATA\\LAST.DAT"},
  };
  const auto lines = PlanLines(run.output);
  for (std::size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    const auto found = lines.find(rows[i].key);
    ASSERT_NE(lines.end(), found) << "row " << i << "\n" << run.output;
    EXPECT_EQ(rows[i].mode, found->second[1]) << "row " << i;
    EXPECT_EQ(rows[i].outcome, found->second[2]) << "row " << i;
    EXPECT_EQ(scratch.path() + "/" + rows[i].target, found->second[3]) << "row " << i;
  }
  EXPECT_EQ(lines.end(), lines.find("UpdateFile07")) << "another install mode's entry\n"
                                                     << run.output;
  const auto copy = lines.find("CopyFile00");
  ASSERT_NE(lines.end(), copy) << run.output;
  EXPECT_EQ("disk 1", copy->second[1]);
  EXPECT_EQ("not-reached", copy->second[2]) << "the update stops at UpdateFile10";

  EXPECT_EQ(before, ReadText(inst + "/DATA/plain.dat"));
  EXPECT_FALSE(Exists(save + "/DATA/NEW.SAV"));
  EXPECT_FALSE(Exists(inst + "/DATA/ABSENT.DAT"));
}

// A copy entry without a disk takes the drive of the latest entry with one; before any, it fails.
TEST(StudioPlan, CopyEntriesWithoutADiskNeedAnEarlierOne) {
  struct CopyCase {
    std::vector<std::string> copyLines;
    std::vector<const char*> outcomes;  // CopyFile00, CopyFile01
  };
  const CopyCase cases[] = {
      {{"CopyFile00=1:MOVIE", "CopyFile01=VOICE"}, {"copy", "copy"}},
      {{"CopyFile00=MOVIE", "CopyFile01=1:VOICE"}, {"fails", "not-reached"}},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    Scratch scratch;
    ASSERT_EQ(0, mkdir((scratch / "game").c_str(), 0755));
    std::vector<std::string> lines = {"[SETUP]",     "CompanyName=N", "GameTitle=T",
                                      "GameClass=C", "GameDir=D",     "[UPDATE]"};
    lines.insert(lines.end(), cases[i].copyLines.begin(), cases[i].copyLines.end());
    const std::string manifest = ProfileText(lines);
    WriteText(scratch / "UPDATE.INI", manifest);
    WritePackage(scratch / "update.qw", {{"UPDATE.INI", ToBytes(manifest), kMemberTime}});
    const ToolRun run = RunQwpack("plan " + Quote(scratch / "UPDATE.INI") + " --package " +
                                  Quote(scratch / "update.qw") + " --inst " +
                                  Quote(scratch / "game") + " --mode 0");
    ASSERT_EQ(0, run.status) << "case " << i << "\n" << run.output;
    const auto planned = PlanLines(run.output);
    for (std::size_t k = 0; k < cases[i].outcomes.size(); ++k) {
      const std::string key = "CopyFile0" + std::to_string(k);
      ASSERT_EQ(1u, planned.count(key)) << "case " << i << "\n" << run.output;
      EXPECT_EQ(cases[i].outcomes[k], planned.at(key)[2]) << "case " << i << " " << key;
    }
  }
}

// The manifest's names are code page 932, the file system's UTF-8: "\x83\x5C\x95\x5C" and
// "\xE3\x82\xBD\xE8\xA1\xA8" are the same two characters (both trail bytes of the first are a
// backslash's code). The install folder comes from the command line, already in UTF-8.
TEST(StudioPlan, FindsCodePage932NamesUnderTheirUtf8Spelling) {
  Scratch scratch;
  const std::string inst = scratch / "\xE3\x82\xBD\xE8\xA1\xA8 Game";
  ASSERT_EQ(0, mkdir(inst.c_str(), 0755));
  ASSERT_EQ(0, mkdir((inst + "/\xE3\x82\xBD\xE8\xA1\xA8").c_str(), 0755));
  WriteText(inst + "/\xE3\x82\xBD\xE8\xA1\xA8/\xE3\x82\xBD\xE8\xA1\xA8.DAT", "newer");
  Stamp(inst + "/\xE3\x82\xBD\xE8\xA1\xA8/\xE3\x82\xBD\xE8\xA1\xA8.DAT", kMemberTime + 1);
  const std::string manifest =
      ProfileText({"[SETUP]", "CompanyName=N", "GameTitle=T", "GameClass=C", "GameDir=D",
                   "DataFolder=\x83\x5C\x95\x5C", "[UPDATE]", "UpdateFile00=u,\x83\x5C\x95\x5C.DAT",
                   "UpdateFile01=o,\x83\x5C.DAT"});
  WriteText(scratch / "UPDATE.INI", manifest);
  WritePackage(scratch / "update.qw", {{"UPDATE.INI", ToBytes(manifest), kMemberTime},
                                       {"\x83\x5C\x95\x5C.DAT", ToBytes("member"), kMemberTime},
                                       {"\x83\x5C.DAT", ToBytes("member"), kMemberTime}});
  const ToolRun run =
      RunQwpack("plan " + Quote(scratch / "UPDATE.INI") + " --package " +
                Quote(scratch / "update.qw") + " --inst " + Quote(inst) + " --mode 0");
  ASSERT_EQ(0, run.status) << run.output;
  const auto lines = PlanLines(run.output);
  ASSERT_EQ(1u, lines.count("UpdateFile00")) << run.output;
  EXPECT_EQ("kept", lines.at("UpdateFile00")[2]) << run.output;
  EXPECT_EQ(inst + "\\\x83\x5C\x95\x5C\\\x83\x5C\x95\x5C.DAT", lines.at("UpdateFile00")[3]);
  ASSERT_EQ(1u, lines.count("UpdateFile01")) << run.output;
  EXPECT_EQ("passed-over", lines.at("UpdateFile01")[2]) << run.output;
}

// ---- make-updater

TEST(StudioMakeUpdater, RefusesWhatIsNoUpdaterOrNoPackageAndWritesNothing) {
  Scratch scratch;
  const std::string manifest = ProfileText(kSetupLines);
  WriteText(scratch / "UPDATE.INI", manifest);
  WritePackage(scratch / "update.qw", {{"UPDATE.INI", ToBytes(manifest), kMemberTime}});
  WritePackage(scratch / "nomanifest.qw", {{"A.DAT", ToBytes("a"), kMemberTime}});
  WriteText(scratch / "MZ.exe", "MZ but nothing behind it");
  struct RefusalCase {
    std::string stub;
    std::string package;
    const char* message;
  };
  const RefusalCase cases[] = {
      {scratch / "UPDATE.INI", scratch / "update.qw", "not a Windows executable"},
      {scratch / "MZ.exe", scratch / "update.qw", "not a Windows executable"},
      {QWPACK_PATH, scratch / "update.qw", "not a Windows executable"},  // an ELF file
      {scratch / "MZ.exe", scratch / "UPDATE.INI", "not a readable package"},
      {scratch / "MZ.exe", scratch / "nomanifest.qw", "has no member UPDATE.INI"},
      {scratch / "absent.exe", scratch / "update.qw", "cannot open"},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const ToolRun run = RunQwpack("make-updater " + Quote(cases[i].stub) + " " +
                                  Quote(cases[i].package) + " " + Quote(scratch / "OUT.exe"));
    EXPECT_EQ(1, run.status) << "case " << i << "\n" << run.output;
    EXPECT_NE(std::string::npos, run.output.find(cases[i].message)) << "case " << i << "\n"
                                                                    << run.output;
    EXPECT_FALSE(Exists(scratch / "OUT.exe")) << "case " << i;
  }
}

// ---- progress

// The command's output when its stdout and stderr are a terminal (a pseudo terminal here).
std::string RunOnTerminal(const std::vector<std::string>& arguments) {
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    std::vector<char*> argv;
    static std::string program = QWPACK_PATH;
    argv.push_back(&program[0]);
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  std::string output;
  char chunk[4096];
  ssize_t got;
  while ((got = read(terminal, chunk, sizeof chunk)) > 0)
    output.append(chunk, static_cast<std::size_t>(got));
  close(terminal);
  int status = 0;
  waitpid(child, &status, 0);
  return output;
}

TEST(StudioProgress, DrawsABarOnATerminalOnlyForLargeInputs) {
  Scratch scratch;
  std::string large(6u << 20, '\0');
  for (std::size_t i = 0; i < large.size(); ++i)
    large[i] = static_cast<char>((i * 2654435761u) >> 13);
  WriteText(scratch / "BIG.DAT", large);
  WriteText(scratch / "SMALL.DAT", "small");
  struct ProgressCase {
    const char* member;
    bool terminal;
    bool bar;
  };
  const ProgressCase cases[] = {
      {"BIG.DAT", true, true}, {"BIG.DAT", false, false}, {"SMALL.DAT", true, false}};
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const std::string out = scratch / ("out" + std::to_string(i) + ".qw");
    const std::string member = scratch / cases[i].member;
    std::string output;
    if (cases[i].terminal) {
      output = RunOnTerminal({"create", out, "--compress-all", member});
    } else {
      output = RunQwpack("create " + Quote(out) + " --compress-all " + Quote(member)).output;
    }
    EXPECT_TRUE(Exists(out)) << "case " << i << ": " << output;
    if (cases[i].bar) {
      EXPECT_NE(std::string::npos, output.find("packing [")) << "case " << i << ": " << output;
      EXPECT_NE(std::string::npos, output.find("6.0 / 6.0 MB")) << "case " << i << ": " << output;
    } else {
      EXPECT_EQ("", output) << "case " << i;
    }
  }
}

}  // namespace
