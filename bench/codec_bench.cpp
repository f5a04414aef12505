// Throughput of DecodePacked and EncodePacked on corpora made here, each beside baselines
// measured in the same run: memcpy and zlib's inflate for decoding, zlib level 9 for packing.
// Prints figures only; it judges nothing.
//
//   codec_bench [MB per corpus]      (default 4)
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <time.h>

#include "package/packed_decoder.h"
#include "tools/packer/packed_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr double kMinSeconds = 0.4;  // each figure: repeat until at least this long
constexpr double kMega = 1e6;        // MB/s counts 10^6 bytes

// English-like prose: words drawn with a skewed frequency from a fixed vocabulary, sentences
// with capitals, commas and full stops, lines wrapped with CR LF.
Bytes EnglishText(std::size_t size, std::mt19937& rng) {
  static const char* const kWords[] = {
      "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with", "be",
      "by", "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have",
      "an", "had", "they", "you", "were", "their", "one", "all", "we", "can", "her", "has",
      "there", "been", "if", "more", "when", "will", "would", "who", "so", "no", "update",
      "game", "player", "folder", "install", "version", "file", "window", "castle", "river",
      "journey", "ancient", "kingdom", "silver", "northern", "village", "dragon", "harbour",
      "merchant", "lantern", "shadow", "forest", "through", "between", "however", "without",
      "remember", "morning", "evening", "thousand", "question", "answered", "together"};
  constexpr std::size_t kCount = sizeof kWords / sizeof kWords[0];
  Bytes out;
  std::size_t column = 0;
  bool capital = true;
  while (out.size() < size) {
    // Skewed choice: small indices are far more frequent.
    const double u = std::uniform_real_distribution<double>(0, 1)(rng);
    std::string word = kWords[static_cast<std::size_t>(u * u * u * kCount) % kCount];
    if (capital) word[0] = static_cast<char>(word[0] - 'a' + 'A');
    capital = false;
    const unsigned r = rng() % 100;
    if (r < 6) word += ",";
    else if (r < 12) word += ".", capital = true;
    if (column + word.size() > 72) {
      out.push_back('\r');
      out.push_back('\n');
      column = 0;
    } else if (column != 0) {
      out.push_back(' ');
      ++column;
    }
    out.insert(out.end(), word.begin(), word.end());
    column += word.size();
  }
  out.resize(size);
  return out;
}

// Japanese prose in code page 932: a vocabulary of words made of hiragana, katakana and kanji
// (double-byte), joined with particles, 、 and 。, lines ended with CR LF.
Bytes JapaneseText(std::size_t size, std::mt19937& rng) {
  auto hiragana = [&rng]() { return Bytes{0x82, static_cast<std::uint8_t>(0x9F + rng() % 83)}; };
  auto katakana = [&rng]() { return Bytes{0x83, static_cast<std::uint8_t>(0x40 + rng() % 63)}; };
  auto kanji = [&rng]() {
    return Bytes{static_cast<std::uint8_t>(0x88 + rng() % 24), static_cast<std::uint8_t>(0x9F + rng() % 94)};
  };
  std::vector<Bytes> vocabulary;
  for (int i = 0; i < 1500; ++i) {
    Bytes word;
    const unsigned kind = rng() % 3;
    const unsigned chars = 1 + rng() % 4;
    for (unsigned c = 0; c < chars; ++c) {
      const Bytes ch = kind == 0 ? kanji() : kind == 1 ? katakana() : hiragana();
      word.insert(word.end(), ch.begin(), ch.end());
    }
    if (kind == 0) {  // okurigana
      const Bytes ch = hiragana();
      word.insert(word.end(), ch.begin(), ch.end());
    }
    vocabulary.push_back(word);
  }
  const Bytes particles[] = {{0x82, 0xCC}, {0x82, 0xC9}, {0x82, 0xF0}, {0x82, 0xCD}, {0x82, 0xAA},
                             {0x82, 0xC6}, {0x82, 0xC5}};
  const Bytes comma = {0x81, 0x41};
  const Bytes stop = {0x81, 0x42};
  Bytes out;
  std::size_t sentence = 0;
  while (out.size() < size) {
    const double u = std::uniform_real_distribution<double>(0, 1)(rng);
    const Bytes& word = vocabulary[static_cast<std::size_t>(u * u * vocabulary.size())];
    out.insert(out.end(), word.begin(), word.end());
    const Bytes& particle = particles[rng() % 7];
    out.insert(out.end(), particle.begin(), particle.end());
    const unsigned r = rng() % 10;
    if (r == 0) out.insert(out.end(), comma.begin(), comma.end());
    if (r == 1) {
      out.insert(out.end(), stop.begin(), stop.end());
      if (++sentence % 3 == 0) {
        out.push_back('\r');
        out.push_back('\n');
      }
    }
  }
  out.resize(size);
  return out;
}

// x86-like machine code: function prologues and epilogues, register moves, stack-relative
// loads and stores with small displacements, calls with 32-bit relative targets, short jumps.
Bytes MachineCode(std::size_t size, std::mt19937& rng) {
  Bytes out;
  auto put = [&out](std::initializer_list<std::uint8_t> bytes) { out.insert(out.end(), bytes); };
  auto put32 = [&out](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  std::vector<std::uint32_t> targets;
  for (int i = 0; i < 300; ++i) targets.push_back(0x401000 + (rng() % 0x40000));
  while (out.size() < size) {
    put({0x55, 0x8B, 0xEC});
    if (rng() % 2) put({0x83, 0xEC, static_cast<std::uint8_t>(4 * (1 + rng() % 16))});
    put({0x53, 0x56, 0x57});
    const unsigned body = 4 + rng() % 20;
    for (unsigned i = 0; i < body; ++i) {
      switch (rng() % 8) {
        case 0: put({0x8B, 0x45, static_cast<std::uint8_t>(8 + 4 * (rng() % 6))}); break;
        case 1: put({0x89, 0x45, static_cast<std::uint8_t>(0xFC - 4 * (rng() % 8))}); break;
        case 2: put({0x50}); put({0xE8}); put32(targets[rng() % targets.size()] - static_cast<std::uint32_t>(out.size())); break;
        case 3: put({0x85, 0xC0, 0x74, static_cast<std::uint8_t>(rng() % 64)}); break;
        case 4: put({0x8B, static_cast<std::uint8_t>(0xC0 + rng() % 64)}); break;
        case 5: put({0x68}); put32(targets[rng() % targets.size()]); break;
        case 6: put({0x83, 0xC4, static_cast<std::uint8_t>(4 * (1 + rng() % 4))}); break;
        default: put({0x33, 0xC0}); break;
      }
    }
    put({0x5F, 0x5E, 0x5B, 0x8B, 0xE5, 0x5D, 0xC3});
    while (out.size() % 16) out.push_back(0xCC);
  }
  out.resize(size);
  return out;
}

// A structured table: fixed 32-byte records with an increasing id, a small category, a price,
// flags and a short name padded with zeros.
Bytes RecordTable(std::size_t size, std::mt19937& rng) {
  static const char* const kNames[] = {"SWORD", "SHIELD", "POTION", "SCROLL", "RING", "BOW",
                                       "ARROW", "HELM", "BOOTS", "CLOAK", "GEM", "KEY"};
  Bytes out;
  std::uint32_t id = 1000;
  while (out.size() < size) {
    std::uint8_t record[32] = {};
    id += 1 + rng() % 3;
    std::memcpy(record, &id, 4);
    record[4] = static_cast<std::uint8_t>(rng() % 8);
    const std::uint32_t price = 10 * (1 + rng() % 500);
    std::memcpy(record + 8, &price, 4);
    record[12] = static_cast<std::uint8_t>(1u << (rng() % 4));
    const char* name = kNames[rng() % 12];
    std::memcpy(record + 16, name, std::strlen(name));
    record[16 + std::strlen(name)] = static_cast<std::uint8_t>('0' + rng() % 10);
    out.insert(out.end(), record, record + 32);
  }
  out.resize(size);
  return out;
}

// Long runs: byte runs of 1 to 3000 bytes of a few values, as in bitmaps and zero-filled data.
Bytes LongRuns(std::size_t size, std::mt19937& rng) {
  Bytes out;
  const std::uint8_t values[] = {0x00, 0x00, 0x00, 0xFF, 0x20, 0x7F, 0x80};
  while (out.size() < size) {
    const std::size_t length = 1 + rng() % 3000;
    out.insert(out.end(), length, values[rng() % sizeof values]);
  }
  out.resize(size);
  return out;
}

// CPU time of this thread: the machine may be shared, and time spent waiting for a core is not
// the code's.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs `work` until kMinSeconds of CPU time have passed; returns the mean seconds per run.
double Time(const std::function<void()>& work) {
  work();  // warm-up
  int runs = 0;
  const double start = ThreadSeconds();
  double elapsed = 0;
  do {
    work();
    ++runs;
    elapsed = ThreadSeconds() - start;
  } while (elapsed < kMinSeconds);
  return elapsed / runs;
}

struct Corpus {
  const char* name;
  Bytes data;
};

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 4.0;
  const std::size_t size = static_cast<std::size_t>(std::max(0.1, megabytes) * kMega);
  std::mt19937 rng(20261211);
  std::vector<Corpus> corpora;
  corpora.push_back({"english text", EnglishText(size, rng)});
  corpora.push_back({"japanese cp932", JapaneseText(size, rng)});
  corpora.push_back({"x86-like code", MachineCode(size, rng)});
  corpora.push_back({"record table", RecordTable(size, rng)});
  corpora.push_back({"long runs", LongRuns(size, rng)});

  std::printf("Packed stream codec, %.1f MB per corpus (MB = 10^6 bytes; decode figures are MB/s of "
              "output, pack figures MB/s of input)\n\n", static_cast<double>(size) / kMega);
  std::printf("%-15s | %9s %9s %9s | %8s %8s | %9s %9s %8s | %7s %7s\n", "corpus", "decode",
              "inflate", "memcpy", "dec/infl", "dec/mcpy", "pack", "zlib-9", "pack/z9",
              "ratio", "z9 ratio");
  std::printf("%s\n", std::string(128, '-').c_str());

  for (const Corpus& corpus : corpora) {
    const Bytes& data = corpus.data;
    const double mb = static_cast<double>(data.size()) / kMega;

    Bytes packed;
    const double packSeconds = Time([&] { packed = EncodePacked(data.data(), data.size()); });

    uLongf zlibSize = compressBound(static_cast<uLong>(data.size()));
    Bytes zlibbed(zlibSize);
    const double zlibSeconds = Time([&] {
      zlibSize = compressBound(static_cast<uLong>(data.size()));
      compress2(zlibbed.data(), &zlibSize, data.data(), static_cast<uLong>(data.size()), 9);
    });
    zlibbed.resize(zlibSize);

    Bytes output(data.size());
    DecodeResult result{};
    const double decodeSeconds = Time([&] {
      result = DecodePacked(output.data(), output.size(), packed.data(), packed.size());
    });
    const bool decodedRight = result.status == DecodeStatus::ok && output == data;

    Bytes inflated(data.size());
    const double inflateSeconds = Time([&] {
      uLongf length = static_cast<uLongf>(inflated.size());
      uncompress(inflated.data(), &length, zlibbed.data(), static_cast<uLong>(zlibbed.size()));
    });
    const bool inflatedRight = inflated == data;

    Bytes copy(data.size());
    const double memcpySeconds = Time([&] {
      std::memcpy(copy.data(), data.data(), data.size());
      // Keep the copy observable so that it is not dropped.
      asm volatile("" : : "r"(copy.data()) : "memory");
    });

    const double decode = mb / decodeSeconds;
    const double inflate = mb / inflateSeconds;
    const double memcpyRate = mb / memcpySeconds;
    const double pack = mb / packSeconds;
    const double zlib9 = mb / zlibSeconds;
    std::printf("%-15s | %9.1f %9.1f %9.1f | %7.2fx %7.3fx | %9.1f %9.1f %7.2fx | %6.1f%% %6.1f%%%s\n",
                corpus.name, decode, inflate, memcpyRate, decode / inflate, decode / memcpyRate,
                pack, zlib9, pack / zlib9,
                100.0 * static_cast<double>(packed.size()) / static_cast<double>(data.size()),
                100.0 * static_cast<double>(zlibbed.size()) / static_cast<double>(data.size()),
                decodedRight && inflatedRight ? "" : "  (round trip differs!)");
  }
  std::printf("\nratio: compressed size as a share of the input (smaller is better)\n");
  return 0;
}
