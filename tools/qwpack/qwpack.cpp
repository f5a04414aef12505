// qwpack: the studio tool that makes, lists and unpacks update packages and raw packed streams.
// Exit status: 0 done, 1 bad input or a failed write, 2 a command line that does not parse.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "package/package_view.h"
#include "package/packed_decoder.h"
#include "tools/packer/package_writer.h"
#include "tools/packer/packed_encoder.h"
#include "tools/qwpack/file_io.h"
#include "tools/qwpack/loaded_package.h"
#include "tools/qwpack/progress.h"
#include "tools/qwpack/studio_commands.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// FILETIME of the Unix epoch, for SOURCE_DATE_EPOCH: seconds from 1601 to 1970 in 100 ns ticks.
constexpr std::uint64_t kUnixEpochFileTime = 11644473600ull * 10000000ull;

constexpr char kCreateUsage[] =
    "usage: qwpack create OUT [--compress-index] [--compress NAME]... [--compress-all] "
    "[--time FILETIME] MEMBER...";
constexpr char kListUsage[] = "usage: qwpack list PKG";
constexpr char kExtractUsage[] = "usage: qwpack extract PKG NAME [OUT]";
constexpr char kEncodeUsage[] = "usage: qwpack encode IN OUT";
constexpr char kDecodeUsage[] = "usage: qwpack decode IN OUT SIZE";

constexpr char kHelp[] =
    "qwpack: makes and reads the update packages that UPDATE.exe carries.\n"
    "\n"
    "  qwpack create OUT [--compress-index] [--compress NAME]... [--compress-all]\n"
    "                    [--time FILETIME] MEMBER...\n"
    "      MEMBER is FILE (named by its last path component) or NAME=FILE (NAME in code page\n"
    "      932, split at the first '='). Members keep their order. --compress NAME packs that\n"
    "      member, --compress-all packs all, --compress-index packs the index. Each member\n"
    "      gets its file's last-write time, or the FILETIME of --time, or else of\n"
    "      SOURCE_DATE_EPOCH (Unix seconds) when it is set.\n"
    "  qwpack list PKG            name, flags, size, stored size and time of every member\n"
    "  qwpack extract PKG NAME [OUT]\n"
    "      writes member NAME (found as UPDATE.exe finds it: any letter case, first match in\n"
    "      index order) to OUT, by default to the member's own name\n"
    "  qwpack encode IN OUT       packs IN as one raw stream\n"
    "  qwpack decode IN OUT SIZE  unpacks a raw stream that must decode to exactly SIZE bytes\n"
    "  qwpack check UPDATE.INI [--package PKG] [--setup SETUP.INI]\n"
    "      reads the manifest with the updater's rules and prints one line per problem\n"
    "  qwpack plan UPDATE.INI --package PKG --inst DIR [--data DIR] --mode N\n"
    "      prints what the updater would do for an installation in DIR with install mode N\n"
    "  qwpack make-updater STUB.exe PACKAGE OUT.exe\n"
    "      writes a copy of the built UPDATE.exe that carries PACKAGE\n"
    "  check, plan and make-updater explain themselves with --help.\n"
    "\n"
    "Outputs are written beside their target and renamed into place: a failure leaves nothing.\n"
    "Exit status: 0 done, 1 bad input or failed write, 2 bad command line.\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "qwpack: %s\n", message.c_str());
  return kFailed;
}

int Usage(const char* usage, const std::string& problem = {}) {
  if (!problem.empty()) std::fprintf(stderr, "qwpack: %s\n", problem.c_str());
  std::fprintf(stderr, "%s\n", usage);
  return kUsageError;
}

// A decimal unsigned number that fits max, the whole text.
bool ParseNumber(const char* text, std::uint64_t max, std::uint64_t* value) {
  if (*text < '0' || *text > '9') return false;
  std::uint64_t result = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(*text - '0');
    if (result > (max - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

// A name compared as the updater compares it, from a zero-filled name field.
bool SameName(const std::string& entryName, const std::string& name) {
  char field[kMemberNameCapacity] = {};
  std::memcpy(field, entryName.data(), entryName.size() < sizeof field ? entryName.size() : 0);
  return entryName.size() < sizeof field && MemberNameEquals(field, name.c_str());
}

struct CreateRequest {
  std::string out;
  bool compressIndex = false;
  bool compressAll = false;
  std::vector<std::string> compressNames;
  bool haveTime = false;
  std::uint64_t time = 0;
  std::vector<std::string> members;
};

int ParseCreate(int argc, char** argv, CreateRequest* request) {
  if (argc < 1) return Usage(kCreateUsage, "create needs OUT");
  request->out = argv[0];
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--compress-index") {
      request->compressIndex = true;
    } else if (arg == "--compress-all") {
      request->compressAll = true;
    } else if (arg == "--compress" || arg == "--time") {
      if (i + 1 == argc) return Usage(kCreateUsage, arg + " needs a value");
      const char* value = argv[++i];
      if (arg == "--compress") {
        request->compressNames.push_back(value);
      } else if (!ParseNumber(value, UINT64_MAX, &request->time)) {
        return Usage(kCreateUsage, std::string("--time needs a FILETIME number: ") + value);
      } else {
        request->haveTime = true;
      }
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      return Usage(kCreateUsage, "unknown option " + arg);
    } else {
      request->members.push_back(arg);
    }
  }
  if (request->members.empty()) return Usage(kCreateUsage, "create needs at least one MEMBER");
  if (!request->haveTime) {
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
      std::uint64_t seconds;
      if (!ParseNumber(epoch, (UINT64_MAX - kUnixEpochFileTime) / 10000000ull, &seconds)) {
        return Usage(kCreateUsage, std::string("SOURCE_DATE_EPOCH is no number of seconds: ") +
                                       epoch);
      }
      request->time = seconds * 10000000ull + kUnixEpochFileTime;
      request->haveTime = true;
    }
  }
  return 0;
}

int Create(int argc, char** argv) {
  CreateRequest request;
  if (const int status = ParseCreate(argc, argv, &request)) return status;

  std::vector<PackageMemberInput> members;
  std::string error;
  for (const std::string& member : request.members) {
    const std::size_t equals = member.find('=');
    PackageMemberInput input;
    const std::string file = equals == std::string::npos ? member : member.substr(equals + 1);
    input.name = equals == std::string::npos ? BaseName(member) : member.substr(0, equals);
    if (input.name.empty()) return Fail("empty member name in " + member);
    if (!ReadWholeFile(file, &input.bytes, &error)) return Fail(error);
    if (request.haveTime) {
      input.lastWriteTime = request.time;
    } else if (!ReadLastWriteTime(file, &input.lastWriteTime, &error)) {
      return Fail(error);
    }
    input.compress = request.compressAll;
    members.push_back(std::move(input));
  }
  for (const std::string& name : request.compressNames) {
    bool found = false;
    for (PackageMemberInput& member : members) {
      if (SameName(member.name, name)) member.compress = found = true;
    }
    if (!found) return Fail("--compress names no member: " + name);
  }

  std::uint64_t total = 0;
  for (const PackageMemberInput& member : members) total += member.bytes.size();
  ProgressBar progress("packing", total);
  std::vector<std::uint8_t> package;
  if (!BuildPackage(members, request.compressIndex, &package, &error,
                    [&](std::size_t done) { progress.Update(done); })) {
    return Fail(error);
  }
  progress.Finish();
  if (!ReplaceWholeFile(request.out, package, &error)) return Fail(error);
  return 0;
}

int List(int argc, char** argv) {
  if (argc != 1) return Usage(kListUsage);
  LoadedPackage package;
  std::string error;
  if (!LoadPackage(argv[0], &package, &error)) return Fail(error);
  std::uint64_t position = kPackageHeaderSize;
  for (const PackageEntry& entry : package.entries) {
    if (!MemberFitsPackage(MemberLocation{&entry, position}, package.bytes.size())) {
      return Fail(std::string("member ") + entry.name + " lies outside the package");
    }
    position += SlotSize(entry.storedSize);
  }
  std::printf("index: %" PRIu32 " members, %s, at offset %" PRIu32 "\n", package.header.entryCount,
              (package.header.flags & kIndexCompressed) ? "packed" : "stored",
              package.header.indexOffset);
  for (const PackageEntry& entry : package.entries) {
    std::printf("%s\tflags=0x%08" PRIX32 "\tsize=%" PRIu32 "\tstored=%" PRIu32 "\ttime=%" PRIu64
                "\n",
                entry.name, entry.flags, entry.memberSize, entry.storedSize, entry.lastWriteTime);
  }
  return 0;
}

int Extract(int argc, char** argv) {
  if (argc != 2 && argc != 3) return Usage(kExtractUsage);
  LoadedPackage package;
  std::string error;
  if (!LoadPackage(argv[0], &package, &error)) return Fail(error);
  MemberLocation location;
  if (!FindMemberEntry(package.entries.data(), package.header.entryCount, argv[1], &location)) {
    return Fail(std::string("no member named ") + argv[1] + " in " + argv[0]);
  }
  std::vector<std::uint8_t> contents;
  if (!ReadMember(package, location, &contents, &error)) return Fail(error);
  const std::string out = argc == 3 ? argv[2] : location.entry->name;
  if (!ReplaceWholeFile(out, contents, &error)) return Fail(error);
  return 0;
}

int Encode(int argc, char** argv) {
  if (argc != 2) return Usage(kEncodeUsage);
  std::vector<std::uint8_t> input;
  std::string error;
  if (!ReadWholeFile(argv[0], &input, &error)) return Fail(error);
  if (!ReplaceWholeFile(argv[1], EncodePacked(input.data(), input.size()), &error)) {
    return Fail(error);
  }
  return 0;
}

int Decode(int argc, char** argv) {
  if (argc != 3) return Usage(kDecodeUsage);
  std::uint64_t size;
  if (!ParseNumber(argv[2], 0xFFFFFFFFu, &size)) {
    return Usage(kDecodeUsage, std::string("SIZE must be a number of bytes below 4 GiB: ") + argv[2]);
  }
  std::vector<std::uint8_t> stream;
  std::string error;
  if (!ReadWholeFile(argv[0], &stream, &error)) return Fail(error);
  std::vector<std::uint8_t> output(static_cast<std::size_t>(size));
  const DecodeResult result = DecodePacked(output.data(), output.size(), stream.data(), stream.size());
  if (result.status != DecodeStatus::ok) {
    return Fail(std::string("corrupt stream in ") + argv[0] + " after " +
                std::to_string(result.produced) + " bytes");
  }
  if (result.produced != output.size()) {
    return Fail(std::string("stream in ") + argv[0] + " decodes to " +
                std::to_string(result.produced) + " bytes, not " + argv[2]);
  }
  if (!ReplaceWholeFile(argv[1], output, &error)) return Fail(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return kUsageError;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  struct Command {
    const char* name;
    int (*run)(int, char**);
  };
  const Command commands[] = {
      {"create", Create}, {"list", List}, {"extract", Extract},
      {"encode", Encode}, {"decode", Decode},
      {"check", CheckCommand}, {"plan", PlanCommand}, {"make-updater", MakeUpdaterCommand},
  };
  for (const Command& entry : commands) {
    if (command == entry.name) return entry.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "qwpack: unknown command %s (qwpack --help lists them)\n", argv[1]);
  return kUsageError;
}
