// Packed streams: DecodePacked on hand-assembled and damaged streams, EncodePacked against a slow
// greedy packer written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "package/packed_decoder.h"
#include "tools/packer/packed_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kCanary = 0xCC;
constexpr std::size_t kCanaryBytes = 16;

const char kExampleText[] = "abcabcabcabc, ababab; aaaaaaaa! abcabc";
const Bytes kExampleStream = {0xA2, 0x8D, 0x36, 0xE4, 0x61, 0x62, 0x63, 0x01, 0x2C, 0x20, 0x04, 0x00,
                              0x3B, 0x07, 0x00, 0x80, 0x5F, 0x73, 0x12, 0x21, 0x08, 0x0C, 0xFF};

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Assembles a stream by hand: control bits go into 32-bit words (bit 31 first, stored little-
// endian), and a word is placed in the byte sequence where a decoder runs out of bits.
class Assembler {
 public:
  Assembler& Bit(bool one) {
    if (used_ == 32) {
      Store();
      wordAt_ = bytes_.size();
      bytes_.resize(bytes_.size() + 4);
      word_ = 0;
      used_ = 0;
    }
    if (one) word_ |= std::uint32_t{1} << (31 - used_);
    ++used_;
    return *this;
  }
  Assembler& Bits(std::uint32_t value, unsigned width) {
    for (unsigned i = width; i > 0; --i) Bit((value >> (i - 1)) & 1);
    return *this;
  }
  Assembler& Byte(std::uint8_t value) {
    bytes_.push_back(value);
    return *this;
  }
  // "1 #61 011 #FF 111": runs of 0 and 1 are control bits, #hh is a data byte.
  Assembler& Script(const std::string& script) {
    for (std::size_t i = 0; i < script.size(); ++i) {
      const char c = script[i];
      if (c == '0' || c == '1') {
        Bit(c == '1');
      } else if (c == '#') {
        Byte(static_cast<std::uint8_t>(std::stoul(script.substr(i + 1, 2), nullptr, 16)));
        i += 2;
      }
    }
    return *this;
  }
  // padOne: the bits left in the last word are one 1 bit then 0 bits; otherwise all 0 bits.
  Bytes Finish(bool padOne = true) {
    if (padOne && used_ < 32) word_ |= std::uint32_t{1} << (31 - used_);
    Store();
    return bytes_;
  }

 private:
  void Store() {
    if (wordAt_ == SIZE_MAX) return;
    for (int i = 0; i < 4; ++i) bytes_[wordAt_ + i] = static_cast<std::uint8_t>(word_ >> (8 * i));
  }
  Bytes bytes_;
  std::size_t wordAt_ = SIZE_MAX;
  std::uint32_t word_ = 0;
  unsigned used_ = 32;
};

const char kEndMarker[] = " 011 #FF 111";

Bytes Assemble(const std::string& script) { return Assembler().Script(script).Finish(); }

struct Decoded {
  DecodeResult result;
  Bytes output;       // the first `capacity` bytes of the destination
  bool canaryIntact;  // the bytes behind the destination were not written
};

// Decodes from an exact-size heap copy of `stream` (so that a one-byte over-read is caught by
// AddressSanitizer) into `capacity` bytes prefilled with the canary, with a canary behind them.
Decoded Decode(const Bytes& stream, std::size_t capacity) {
  std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[stream.size()]);
  if (!stream.empty()) std::memcpy(source.get(), stream.data(), stream.size());
  Bytes destination(capacity + kCanaryBytes, kCanary);
  Decoded d;
  d.result = DecodePacked(destination.data(), capacity, source.get(), stream.size());
  d.output.assign(destination.begin(), destination.begin() + capacity);
  d.canaryIntact = std::all_of(destination.begin() + capacity, destination.end(),
                               [](std::uint8_t b) { return b == kCanary; });
  return d;
}

// The copy rule: each byte is the one `distance` positions before it.
void CopyRule(Bytes& out, std::size_t distance, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
}

Bytes Pseudorandom(std::size_t size, std::uint32_t seed, unsigned alphabet = 256) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng() % alphabet);
  return out;
}

std::string Hex(const Bytes& bytes) {
  std::string s;
  char buf[4];
  for (auto b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    s += buf;
  }
  return s;
}

// ---------------------------------------------------------------------------------------------
// Decoding

TEST(DecodePacked, WorkedExample) {
  const Decoded d = Decode(kExampleStream, 38);
  EXPECT_EQ(d.result.status, DecodeStatus::ok);
  EXPECT_EQ(d.result.consumed, 23u);
  EXPECT_EQ(d.result.produced, 38u);
  EXPECT_EQ(d.output, ToBytes(kExampleText));
  EXPECT_TRUE(d.canaryIntact);
}

TEST(DecodePacked, WorkedExampleFetchesSecondWordInsideTheMatchAtByte14) {
  // The match whose distance byte is byte 14 takes its length code from the word at 15-18:
  // with that word missing the match cannot be decoded; with it, the decoder gets as far as the
  // literal at byte 19.
  for (std::size_t cut = 15; cut <= 18; ++cut) {
    const Decoded d = Decode(Bytes(kExampleStream.begin(), kExampleStream.begin() + cut), 38);
    EXPECT_EQ(d.result.status, DecodeStatus::corrupt) << "cut " << cut;
    EXPECT_EQ(d.result.consumed, 14u) << "cut " << cut;
    EXPECT_EQ(d.result.produced, 23u) << "cut " << cut;
  }
  const Decoded d = Decode(Bytes(kExampleStream.begin(), kExampleStream.begin() + 19), 38);
  EXPECT_EQ(d.result.status, DecodeStatus::corrupt);
  EXPECT_EQ(d.result.consumed, 19u);
  EXPECT_EQ(d.result.produced, 30u);
  EXPECT_EQ(Bytes(d.output.begin(), d.output.begin() + 30),
            Bytes(kExampleText, kExampleText + 30));
}

// Well-formed streams with the output they must give; the destination has room to spare, which
// must stay untouched.
struct StreamCase {
  Bytes stream;
  std::string expected;
};

std::vector<StreamCase> WellFormedStreams() {
  Bytes thirtyTwoLiterals = {0xFF, 0xFF, 0xFF, 0xFF};
  std::string thirtyTwo;
  for (int i = 0; i < 32; ++i) {
    thirtyTwoLiterals.push_back(static_cast<std::uint8_t>('A' + i));
    thirtyTwo += static_cast<char>('A' + i);
  }
  // The 32nd literal's value byte comes before the next control word.
  for (std::uint8_t b : {0x00, 0x00, 0x00, 0x7E, 0xFF}) thirtyTwoLiterals.push_back(b);

  return {
      {{0x00, 0x00, 0x00, 0x7E, 0xFF}, ""},
      {{0x00, 0x00, 0x00, 0x7C, 0xFF}, ""},
      {thirtyTwoLiterals, thirtyTwo},
      // Near form, B = 0: the last byte twice.
      {Assemble(std::string("1 #71 010 #00") + kEndMarker), "qqq"},
      // x y z, then distance 3 length 4.
      {Assemble(std::string("1 #78 1 #79 1 #7A 00 1 #01 0 01") + kEndMarker), "xyzxyzx"},
      // x y, then distance 2 length 5.
      {Assemble(std::string("1 #78 1 #79 00 1 #00 1 001 0") + kEndMarker), "xyxyxyx"},
      // One byte, then distance 1 length 282.
      {Assemble(std::string("1 #61 00 1 #00 0 00000 #FF") + kEndMarker), std::string(283, 'a')},
      // A run longer than 282 takes two matches.
      {Assemble(std::string("1 #62 00 1 #00 0 00000 #FF 00 1 #00 0 0001 11") + kEndMarker),
       std::string(293, 'b')},
  };
}

TEST(DecodePacked, WellFormedStreams) {
  const auto cases = WellFormedStreams();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const StreamCase& c = cases[i];
    const Decoded d = Decode(c.stream, c.expected.size() + 8);
    EXPECT_EQ(d.result.status, DecodeStatus::ok) << "case " << i;
    EXPECT_EQ(d.result.consumed, c.stream.size()) << "case " << i;
    ASSERT_EQ(d.result.produced, c.expected.size()) << "case " << i;
    EXPECT_EQ(Bytes(d.output.begin(), d.output.begin() + c.expected.size()), ToBytes(c.expected))
        << "case " << i;
    EXPECT_TRUE(std::all_of(d.output.begin() + c.expected.size(), d.output.end(),
                            [](std::uint8_t b) { return b == kCanary; }))
        << "case " << i << ": bytes after the end were written";

    const Decoded exact = Decode(c.stream, c.expected.size());
    EXPECT_EQ(exact.result.status, DecodeStatus::ok) << "case " << i << " at exact capacity";
    EXPECT_TRUE(exact.canaryIntact) << "case " << i;
  }
}

// Every match code, each after enough literals to reach back that far, at every bit position in
// the control word: tokens that run over a word boundary are covered as well.
struct MatchCode {
  const char* bits;  // from the token's first control bit to the end of the distance code
  std::size_t distance;
};
struct LengthCode {
  const char* bits;
  std::size_t length;
};

const MatchCode kShortCodes[] = {
    {"010 #00", 1},         {"010 #FF", 256},       {"011 #00 000", 257},   {"011 #00 111", 264},
    {"011 #FF 000", 2297},  {"011 #FF 001", 2298},  {"011 #FF 010", 2299},  {"011 #FF 011", 2300},
    {"011 #FF 100", 2301},  {"011 #FF 101", 2302},  {"011 #FF 110", 2303},
};

const MatchCode kLongDistanceCodes[] = {
    {"00 1 #00 0", 1},        {"00 1 #00 1", 2},        {"00 1 #01 0", 3},
    {"00 1 #01 1", 4},        {"00 1 #02 0", 5},        {"00 1 #FF 1", 512},
    {"00 01 #00 0", 513},     {"00 01 #FF 1", 1024},    {"00 001 #00 00", 1025},
    {"00 001 #FF 11", 2048},  {"00 0001 #00 000", 2049}, {"00 0001 #FF 111", 4096},
    {"00 0000 #00 0000", 4097}, {"00 0000 #FF 1111", 8192},
};

const LengthCode kLengthCodes[] = {
    {"1", 3},          {"01", 4},         {"001 0", 5},      {"001 1", 6},
    {"0001 00", 7},    {"0001 11", 10},   {"00001 0000", 11}, {"00001 1111", 26},
    {"00000 #00", 27}, {"00000 #FF", 282},
};

void CheckMatch(const std::string& code, std::size_t distance, std::size_t length,
                const std::string& label) {
  for (unsigned phase = 0; phase < 32; ++phase) {
    const Bytes prefix = Pseudorandom(distance + phase, static_cast<std::uint32_t>(distance));
    Assembler a;
    for (std::uint8_t b : prefix) a.Bit(true).Byte(b);
    const Bytes stream = a.Script(code + kEndMarker).Finish();
    Bytes expected = prefix;
    CopyRule(expected, distance, length);

    const Decoded d = Decode(stream, expected.size() + 8);
    ASSERT_EQ(d.result.status, DecodeStatus::ok) << label << " phase " << phase;
    EXPECT_EQ(d.result.consumed, stream.size()) << label << " phase " << phase;
    ASSERT_EQ(d.result.produced, expected.size()) << label << " phase " << phase;
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), d.output.begin()))
        << label << " phase " << phase;
    ASSERT_TRUE(std::all_of(d.output.begin() + expected.size(), d.output.end(),
                            [](std::uint8_t b) { return b == kCanary; }))
        << label << " phase " << phase << ": a store went beyond the match";
  }
}

TEST(DecodePacked, ShortMatchCodes) {
  for (std::size_t i = 0; i < std::size(kShortCodes); ++i)
    CheckMatch(kShortCodes[i].bits, kShortCodes[i].distance, 2, "short case " + std::to_string(i));
}

TEST(DecodePacked, LongMatchCodes) {
  for (std::size_t i = 0; i < std::size(kLongDistanceCodes); ++i) {
    for (std::size_t j = 0; j < std::size(kLengthCodes); ++j) {
      const MatchCode& m = kLongDistanceCodes[i];
      const LengthCode& n = kLengthCodes[j];
      CheckMatch(std::string(m.bits) + " " + n.bits, m.distance, n.length,
                 "distance case " + std::to_string(i) + " length case " + std::to_string(j));
    }
  }
}

// Streams that break a bound: consumed and produced describe the tokens before the faulty one.
struct CorruptCase {
  std::string script;
  std::size_t capacity;
  std::size_t consumed;
  std::size_t produced;
};

const CorruptCase kCorruptCases[] = {
    // Reaching back farther than written.
    {std::string("010 #00") + kEndMarker, 8, 0, 0},
    {std::string("00 1 #00 0 1") + kEndMarker, 8, 0, 0},
    {std::string("1 #61 010 #01") + kEndMarker, 8, 5, 1},
    {std::string("1 #61 1 #62 00 1 #01 0 1") + kEndMarker, 8, 6, 2},
    {std::string("1 #61 011 #00 000") + kEndMarker, 300, 5, 1},
    // Writing past capacity.
    {std::string("1 #61") + kEndMarker, 0, 0, 0},
    {std::string("1 #61 1 #62 1 #63") + kEndMarker, 2, 6, 2},
    {std::string("1 #61 010 #00") + kEndMarker, 2, 5, 1},
    {std::string("1 #61 00 1 #00 0 01") + kEndMarker, 4, 5, 1},
    {std::string("1 #61 00 1 #00 0 00000 #FF") + kEndMarker, 282, 5, 1},
    // No end marker: the source runs out.
    {"1 #61 1 #62", 8, 6, 2},
};

TEST(DecodePacked, CorruptStreams) {
  for (std::size_t i = 0; i < std::size(kCorruptCases); ++i) {
    const CorruptCase& c = kCorruptCases[i];
    const Decoded d = Decode(Assemble(c.script), c.capacity);
    EXPECT_EQ(d.result.status, DecodeStatus::corrupt) << "case " << i;
    EXPECT_EQ(d.result.consumed, c.consumed) << "case " << i;
    EXPECT_EQ(d.result.produced, c.produced) << "case " << i;
    EXPECT_TRUE(d.canaryIntact) << "case " << i;
  }
}

Bytes MixedData() {
  std::string text;
  for (int i = 0; i < 60; ++i) text += "the quick brown fox " + std::to_string(i * 37) + "; ";
  Bytes data = ToBytes(text);
  const Bytes noise = Pseudorandom(700, 5);
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), 600, 0x20);
  return data;
}

TEST(DecodePacked, EveryCutOfAValidStreamIsCorrupt) {
  const Bytes data = MixedData();
  for (const Bytes& stream : {kExampleStream, EncodePacked(data.data(), data.size())}) {
    const Bytes expected = stream == kExampleStream ? ToBytes(kExampleText) : data;
    for (std::size_t cut = 0; cut < stream.size(); ++cut) {
      const Decoded d = Decode(Bytes(stream.begin(), stream.begin() + cut), expected.size());
      ASSERT_EQ(d.result.status, DecodeStatus::corrupt) << "cut " << cut;
      ASSERT_LE(d.result.consumed, cut) << "cut " << cut;
      ASSERT_LE(d.result.produced, expected.size()) << "cut " << cut;
      ASSERT_TRUE(std::equal(d.output.begin(), d.output.begin() + d.result.produced,
                             expected.begin()))
          << "cut " << cut;
      ASSERT_TRUE(d.canaryIntact) << "cut " << cut;
    }
  }
}

TEST(DecodePacked, EveryCapacityShortOfTheOutputIsCorrupt) {
  const Bytes data = MixedData();
  const Bytes stream = EncodePacked(data.data(), data.size());
  for (std::size_t capacity = 0; capacity < data.size(); ++capacity) {
    const Decoded d = Decode(stream, capacity);
    ASSERT_EQ(d.result.status, DecodeStatus::corrupt) << "capacity " << capacity;
    ASSERT_LE(d.result.produced, capacity) << "capacity " << capacity;
    ASSERT_TRUE(std::equal(d.output.begin(), d.output.begin() + d.result.produced, data.begin()))
        << "capacity " << capacity;
    ASSERT_TRUE(d.canaryIntact) << "capacity " << capacity;
  }
}

// ---------------------------------------------------------------------------------------------
// Packing

// The greedy rule, as plainly as it can be written: every distance from the nearest out, the
// first longest wins.
Bytes ReferenceGreedy(const Bytes& data) {
  Assembler a;
  const std::size_t n = data.size();
  std::size_t p = 0;
  while (p < n) {
    std::size_t bestLength = 0;
    std::size_t bestDistance = 0;
    for (std::size_t d = 1; d <= p && d <= 8192; ++d) {
      std::size_t length = 0;
      while (length < 282 && p + length < n && data[p + length] == data[p + length - d]) ++length;
      if (length > bestLength) {
        bestLength = length;
        bestDistance = d;
      }
    }
    if (bestLength >= 3) {
      struct Class {
        std::size_t reach;
        std::uint32_t selector;
        unsigned selectorBits;
        unsigned lowBits;
        std::size_t prefix;
      };
      const Class classes[] = {{512, 1, 1, 1, 0},
                               {1024, 1, 2, 1, 256},
                               {2048, 1, 3, 2, 256},
                               {4096, 1, 4, 3, 256},
                               {8192, 0, 4, 4, 256}};
      const Class* c = classes;
      while (bestDistance > c->reach) ++c;
      const std::size_t d = bestDistance - 1;
      a.Bits(0, 2).Bits(c->selector, c->selectorBits);
      a.Byte(static_cast<std::uint8_t>((d >> c->lowBits) - c->prefix));
      a.Bits(static_cast<std::uint32_t>(d & ((1u << c->lowBits) - 1)), c->lowBits);
      const std::uint32_t len = static_cast<std::uint32_t>(bestLength);
      if (len == 3) a.Bits(1, 1);
      else if (len == 4) a.Bits(1, 2);
      else if (len <= 6) a.Bits(1, 3).Bits(len - 5, 1);
      else if (len <= 10) a.Bits(1, 4).Bits(len - 7, 2);
      else if (len <= 26) a.Bits(1, 5).Bits(len - 11, 4);
      else a.Bits(0, 5).Byte(static_cast<std::uint8_t>(len - 27));
      p += bestLength;
    } else if (bestLength == 2 && bestDistance <= 256) {
      a.Bits(2, 3).Byte(static_cast<std::uint8_t>(bestDistance - 1));
      p += 2;
    } else if (bestLength == 2 && bestDistance <= 2303) {
      const std::size_t d = bestDistance - 257;
      a.Bits(3, 3).Byte(static_cast<std::uint8_t>(d / 8)).Bits(static_cast<std::uint32_t>(d % 8), 3);
      p += 2;
    } else {
      a.Bit(true).Byte(data[p]);
      p += 1;
    }
  }
  return a.Script(kEndMarker).Finish();
}

// Data that repeats exactly at the reach limits: a block seen again at distance d gives matches
// of every distance around 2303 and 8192.
Bytes RepeatAt(std::size_t distance, std::size_t blockSize, std::uint32_t seed) {
  Bytes data = Pseudorandom(distance + blockSize, seed);
  std::copy(data.begin(), data.begin() + blockSize, data.begin() + distance);
  return data;
}

struct PackCase {
  std::string name;
  Bytes data;
};

std::vector<PackCase> PackCases() {
  std::vector<PackCase> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"example", ToBytes(kExampleText)});
  cases.push_back({"random", Pseudorandom(20000, 1)});
  cases.push_back({"four letters", Pseudorandom(12000, 2, 4)});
  cases.push_back({"sixteen letters", Pseudorandom(12000, 3, 16)});
  cases.push_back({"zeros", Bytes(10000, 0)});
  {
    // Runs of a few byte values, of every length from 1 to 600.
    std::mt19937 rng(6);
    Bytes runs;
    while (runs.size() < 20000) runs.insert(runs.end(), 1 + rng() % 600, "\0\0\x01 "[rng() % 4]);
    cases.push_back({"runs", runs});
  }
  cases.push_back({"mixed", MixedData()});
  for (std::size_t period : {3u, 7u, 283u, 2303u, 2304u, 8191u, 8192u, 8193u}) {
    Bytes data = Pseudorandom(period, static_cast<std::uint32_t>(period));
    while (data.size() < 18000) data.push_back(data[data.size() - period]);
    cases.push_back({"period " + std::to_string(period), data});
  }
  for (std::size_t distance : {2302u, 2303u, 2304u, 8191u, 8192u, 8193u}) {
    cases.push_back({"repeat at " + std::to_string(distance), RepeatAt(distance, 300, 9)});
    // Two-byte repeats only: pairs taken back from that distance among unrelated bytes.
    Bytes pairs = Pseudorandom(distance + 40, 11);
    for (std::size_t i = 0; i + 1 < 40; i += 4) {
      pairs[distance + i] = pairs[i];
      pairs[distance + i + 1] = pairs[i + 1];
    }
    cases.push_back({"pairs at " + std::to_string(distance), pairs});
  }
  std::string text;
  for (int i = 0; text.size() < 30000; ++i)
    text += "Line " + std::to_string(i % 97) + ": update file " + std::to_string(i * 7919 % 1000) +
            (i % 3 ? " copied\r\n" : " skipped, newer\r\n");
  cases.push_back({"text", ToBytes(text)});
  for (std::size_t size = 0; size <= 300; ++size) {
    cases.push_back({"small random " + std::to_string(size),
                     Pseudorandom(size, static_cast<std::uint32_t>(size), 3)});
  }
  return cases;
}

TEST(EncodePacked, WorkedExample) {
  const Bytes text = ToBytes(kExampleText);
  EXPECT_EQ(Hex(EncodePacked(text.data(), text.size())), Hex(kExampleStream));
}

TEST(EncodePacked, EmptyInputIsTheEndMarkerAlone) {
  EXPECT_EQ(Hex(EncodePacked(nullptr, 0)), Hex({0x00, 0x00, 0x00, 0x7E, 0xFF}));
}

TEST(EncodePacked, RoundTrips) {
  for (const PackCase& c : PackCases()) {
    const Bytes stream = EncodePacked(c.data.data(), c.data.size());
    const Decoded d = Decode(stream, c.data.size());
    EXPECT_EQ(d.result.status, DecodeStatus::ok) << c.name;
    EXPECT_EQ(d.result.consumed, stream.size()) << c.name;
    EXPECT_EQ(d.result.produced, c.data.size()) << c.name;
    EXPECT_TRUE(d.output == c.data) << c.name;
  }
}

TEST(EncodePacked, OutputIsExactlyTheGreedyRules) {
  for (const PackCase& c : PackCases()) {
    const Bytes stream = EncodePacked(c.data.data(), c.data.size());
    const Bytes reference = ReferenceGreedy(c.data);
    ASSERT_EQ(stream.size(), reference.size()) << c.name;
    ASSERT_TRUE(stream == reference) << c.name;
  }
}

TEST(EncodePacked, ReportsProgressUpToTheWholeInput) {
  const Bytes data = Pseudorandom(3 << 20, 4, 8);
  std::vector<std::size_t> reports;
  EncodePacked(data.data(), data.size(), [&reports](std::size_t done) { reports.push_back(done); });
  ASSERT_FALSE(reports.empty());
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_GT(reports.size(), 1u);
  EXPECT_EQ(reports.back(), data.size());
}

}  // namespace
