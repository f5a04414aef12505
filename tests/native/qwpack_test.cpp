// Runs the built qwpack (QWPACK_PATH) on real files in a scratch folder.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "package/package_format.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kUnixEpochFileTime = 11644473600ull * 10000000ull;

class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/qwpack-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~Scratch() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path_.c_str())) {
      while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

void Write(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

Bytes Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
  const Bytes bytes = Read(path);
  return std::string(bytes.begin(), bytes.end());
}

Bytes Sample(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  unsigned state = seed;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = (i % 64 < 40) ? static_cast<std::uint8_t>("the quick brown fox "[i % 20])
                             : static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

// Runs qwpack with the arguments (each quoted) from the scratch folder.
ToolRun Qwpack(const Scratch& scratch, const std::vector<std::string>& args,
           const std::string& environment = "") {
  std::string command = "cd '" + scratch.path() + "' && " + environment + " '" QWPACK_PATH "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  const std::string outPath = "/tmp/qwpack-test-out-" + std::to_string(getpid());
  const std::string errPath = outPath + ".err";
  const int raw = std::system((command + " >'" + outPath + "' 2>'" + errPath + "'").c_str());
  ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(outPath), ReadText(errPath)};
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void SetFileTime(const std::string& path, time_t seconds, long nanoseconds) {
  const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
}

TEST(Qwpack, CreatesListsAndExtractsPackages) {
  Scratch scratch;
  const Bytes manifest = Sample(700, 1), data = Sample(5000, 2), empty;
  Write(scratch / "manifest.ini", manifest);
  Write(scratch / "data.bin", data);
  Write(scratch / "empty.txt", empty);
  SetFileTime(scratch / "data.bin", 1700000000, 123456789);

  for (bool compressIndex : {false, true}) {
    std::vector<std::string> args = {"create", "out.qw"};
    if (compressIndex) args.push_back("--compress-index");
    args.insert(args.end(), {"--compress", "update.ini", "UPDATE.INI=manifest.ini",
                             scratch / "data.bin", "Empty.txt=empty.txt"});
    const ToolRun created = Qwpack(scratch, args);
    ASSERT_EQ(0, created.status) << "compressIndex " << compressIndex << ": " << created.err;

    const Bytes package = Read(scratch / "out.qw");
    ASSERT_GE(package.size(), 16u);
    PackageHeader header;
    std::memcpy(&header, package.data(), sizeof header);
    EXPECT_EQ(compressIndex ? kIndexCompressed : 0u, header.flags);
    EXPECT_EQ(3u, header.entryCount);

    const ToolRun listed = Qwpack(scratch, {"list", "out.qw"});
    ASSERT_EQ(0, listed.status) << listed.err;
    const std::vector<std::string> lines = Lines(listed.out);
    ASSERT_EQ(4u, lines.size()) << listed.out;
    const std::uint64_t dataTime = 1700000000ull * 10000000ull + kUnixEpochFileTime + 1234567;
    EXPECT_EQ(0u, lines[1].find("UPDATE.INI\tflags=0x00000002\tsize=700\tstored=")) << lines[1];
    EXPECT_EQ("data.bin\tflags=0x00000001\tsize=5000\tstored=5000\ttime=" + std::to_string(dataTime),
              lines[2]);
    EXPECT_EQ(0u, lines[3].find("Empty.txt\tflags=0x00000001\tsize=0\tstored=0\ttime=")) << lines[3];

    struct Extraction {
      const char* name;
      const char* out;  // empty: the default, the member's own name
      const Bytes* contents;
      const char* written;
    };
    const Extraction extractions[] = {
        {"update.ini", "m.out", &manifest, "m.out"},
        {"DATA.BIN", "", &data, "data.bin"},
        {"empty.TXT", "e.out", &empty, "e.out"},
    };
    for (const Extraction& e : extractions) {
      std::vector<std::string> extractArgs = {"extract", "out.qw", e.name};
      if (*e.out) extractArgs.push_back(e.out);
      std::remove((scratch / e.written).c_str());
      const ToolRun extracted = Qwpack(scratch, extractArgs);
      EXPECT_EQ(0, extracted.status) << e.name << ": " << extracted.err;
      EXPECT_EQ(*e.contents, Read(scratch / e.written)) << e.name;
    }
    Write(scratch / "data.bin", data);
    SetFileTime(scratch / "data.bin", 1700000000, 123456789);
  }
}

TEST(Qwpack, FixedTimesMakeReproduciblePackages) {
  Scratch scratch;
  Write(scratch / "a.txt", Sample(3000, 3));
  struct Case {
    std::vector<std::string> timeArgs;
    std::string environment;
    std::uint64_t expected;
  };
  const Case cases[] = {
      {{"--time", "134405892000000000"}, "", 134405892000000000ull},
      {{}, "SOURCE_DATE_EPOCH=1764579600", 1764579600ull * 10000000ull + kUnixEpochFileTime},
      {{"--time", "7"}, "SOURCE_DATE_EPOCH=1764579600", 7},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    Bytes first;
    for (int round = 0; round < 2; ++round) {
      SetFileTime(scratch / "a.txt", 1600000000 + round * 1000, 0);
      std::vector<std::string> args = {"create", "p.qw", "--compress-all", "--compress-index"};
      args.insert(args.end(), cases[i].timeArgs.begin(), cases[i].timeArgs.end());
      args.push_back("a.txt");
      const ToolRun run = Qwpack(scratch, args, cases[i].environment);
      ASSERT_EQ(0, run.status) << "case " << i << ": " << run.err;
      if (round == 0) first = Read(scratch / "p.qw");
    }
    EXPECT_EQ(first, Read(scratch / "p.qw")) << "case " << i;
    const ToolRun listed = Qwpack(scratch, {"list", "p.qw"});
    EXPECT_NE(std::string::npos, listed.out.find("\ttime=" + std::to_string(cases[i].expected) + "\n"))
        << "case " << i << ": " << listed.out;
  }
}

TEST(Qwpack, EncodesAndDecodesRawStreams) {
  Scratch scratch;
  const std::string example = "abcabcabcabc, ababab; aaaaaaaa! abcabc";
  Write(scratch / "example.txt", Bytes(example.begin(), example.end()));
  ASSERT_EQ(0, Qwpack(scratch, {"encode", "example.txt", "example.qz"}).status);
  EXPECT_EQ((Bytes{0xA2, 0x8D, 0x36, 0xE4, 0x61, 0x62, 0x63, 0x01, 0x2C, 0x20, 0x04, 0x00,
                   0x3B, 0x07, 0x00, 0x80, 0x5F, 0x73, 0x12, 0x21, 0x08, 0x0C, 0xFF}),
            Read(scratch / "example.qz"));

  for (std::size_t size : {0u, 1u, 70000u}) {
    const Bytes data = Sample(size, static_cast<unsigned>(size));
    Write(scratch / "in.bin", data);
    ASSERT_EQ(0, Qwpack(scratch, {"encode", "in.bin", "in.qz"}).status) << size;
    const ToolRun decoded = Qwpack(scratch, {"decode", "in.qz", "back.bin", std::to_string(size)});
    ASSERT_EQ(0, decoded.status) << size << ": " << decoded.err;
    EXPECT_EQ(data, Read(scratch / "back.bin")) << size;
  }
}

TEST(Qwpack, RefusesBadInputWithOneLineAndLeavesNothingBehind) {
  Scratch scratch;
  Write(scratch / "a.txt", Sample(100, 4));
  Write(scratch / "b.txt", Sample(100, 5));
  Write(scratch / "junk.qw", Sample(64, 6));
  Write(scratch / "example.qz", {0xA2, 0x8D, 0x36, 0xE4, 0x61, 0x62, 0x63, 0x01, 0x2C, 0x20, 0x04,
                                 0x00, 0x3B, 0x07, 0x00, 0x80, 0x5F, 0x73, 0x12, 0x21, 0x08, 0x0C,
                                 0xFF});
  Write(scratch / "zeros.qz", Bytes(16, 0));
  const Bytes existing = {'k', 'e', 'e', 'p'};
  Write(scratch / "old.out", existing);
  ASSERT_EQ(0, Qwpack(scratch, {"create", "good.qw", "a.txt", "B.TXT=b.txt"}).status);
  const std::vector<std::string> before = scratch.Names();
  const std::string longName(260, 'N');

  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;  // part of the one line on stderr
  };
  const Case cases[] = {
      {{"create", "new.qw", "missing.txt"}, 1, "missing.txt"},
      {{"create", "old.out", "a.txt", "missing.txt"}, 1, "missing.txt"},
      {{"create", "new.qw", longName + "=a.txt"}, 1, "260 bytes"},
      {{"create", "old.out", "A.TXT=a.txt", "a.txt=b.txt"}, 1, "two members of one name"},
      {{"create", "new.qw", "--compress", "c.txt", "a.txt"}, 1, "c.txt"},
      {{"create", "new.qw", "=a.txt"}, 1, "empty member name"},
      {{"create", "new.qw", "--time", "soon", "a.txt"}, 2, "--time"},
      {{"create", "new.qw", "--bogus", "a.txt"}, 2, "--bogus"},
      {{"create", "new.qw"}, 2, "MEMBER"},
      {{"list", "junk.qw"}, 1, "not a readable package"},
      {{"list", "missing.qw"}, 1, "missing.qw"},
      {{"list", "a.txt"}, 1, "not a readable package"},
      {{"extract", "junk.qw", "A.TXT", "new.out"}, 1, "not a readable package"},
      {{"extract", "good.qw", "C.TXT", "old.out"}, 1, "no member named C.TXT"},
      {{"decode", "zeros.qz", "new.out", "16"}, 1, "corrupt"},
      {{"decode", "example.qz", "old.out", "39"}, 1, "decodes to 38 bytes"},
      {{"decode", "example.qz", "old.out", "37"}, 1, "corrupt"},
      {{"decode", "example.qz", "new.out", "many"}, 2, "SIZE"},
      {{"encode", "missing.bin", "new.out"}, 1, "missing.bin"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"list"}, 2, "usage: qwpack list"},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const ToolRun run = Qwpack(scratch, cases[i].args);
    EXPECT_EQ(cases[i].status, run.status) << "case " << i << ": " << run.err;
    const std::vector<std::string> lines = Lines(run.err);
    ASSERT_FALSE(lines.empty()) << "case " << i;
    EXPECT_NE(std::string::npos, lines[0].find(cases[i].message)) << "case " << i << ": " << run.err;
    EXPECT_LE(lines.size(), cases[i].status == 2 ? 2u : 1u) << "case " << i << ": " << run.err;
    EXPECT_EQ(before, scratch.Names()) << "case " << i;
    EXPECT_EQ(existing, Read(scratch / "old.out")) << "case " << i;
  }
}

TEST(Qwpack, HelpNamesEverySubcommand) {
  Scratch scratch;
  const ToolRun help = Qwpack(scratch, {"--help"});
  EXPECT_EQ(0, help.status);
  for (const char* command : {"create", "list", "extract", "encode", "decode", "--compress-index",
                              "--compress-all", "--time", "SOURCE_DATE_EPOCH"}) {
    EXPECT_NE(std::string::npos, help.out.find(command)) << command;
  }
}

}  // namespace
