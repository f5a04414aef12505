#include "tools/packer/packed_encoder.h"

#include <cstdint>
#include <cstring>

namespace {

using std::size_t;
using std::uint32_t;
using std::uint64_t;
using std::uint8_t;

constexpr size_t kWindow = 8192;            // farthest reach of a long match
constexpr size_t kShortReach = 2303;        // farthest reach of a 2-byte (short) match
constexpr size_t kNearReach = 256;          // a short match this close uses the near form
constexpr size_t kMinLongLength = 3;
constexpr size_t kMaxLength = 282;
constexpr size_t kNone = 0;                 // chain slots hold position + 1; 0 is "none"
constexpr unsigned kMinHashBits = 8;
constexpr unsigned kMaxHashBits = 16;
constexpr size_t kMinChainSlots = 256;
constexpr size_t kChainSlots = 2 * kWindow; // a position's slot is never reused while in reach
constexpr size_t kProgressStep = size_t{1} << 20;

// Writes tokens so that every control word lands where the decoder fetches it: a new word is
// reserved at the current end of the stream exactly when a bit is written and the current word
// has no room left.
class StreamWriter {
 public:
  explicit StreamWriter(std::vector<uint8_t>& out) : out_(out) {}

  void Bit(uint32_t bit) {
    if (used_ == 32) {
      StoreWord();
      wordAt_ = out_.size();
      out_.resize(out_.size() + 4);
      word_ = 0;
      used_ = 0;
    }
    word_ |= bit << (31 - used_);
    ++used_;
  }

  void Bits(uint32_t value, unsigned count) {
    while (count > 0) {
      --count;
      Bit((value >> count) & 1);
    }
  }

  void Byte(uint32_t value) { out_.push_back(static_cast<uint8_t>(value)); }

  // The bits left in the last word: one 1 bit, then 0 bits.
  void Finish() {
    if (used_ < 32) word_ |= uint32_t{1} << (31 - used_);
    StoreWord();
  }

 private:
  void StoreWord() {
    if (wordAt_ == kNoWord) return;
    for (unsigned i = 0; i < 4; ++i) out_[wordAt_ + i] = static_cast<uint8_t>(word_ >> (8 * i));
  }

  static constexpr size_t kNoWord = ~size_t{0};
  std::vector<uint8_t>& out_;
  size_t wordAt_ = kNoWord;
  uint32_t word_ = 0;
  unsigned used_ = 32;
};

void WriteLiteral(StreamWriter& w, uint8_t value) {
  w.Bit(1);
  w.Byte(value);
}

void WriteShortMatch(StreamWriter& w, size_t distance) {
  w.Bit(0);
  w.Bit(1);
  if (distance <= kNearReach) {
    w.Bit(0);
    w.Byte(static_cast<uint32_t>(distance - 1));
  } else {
    const uint32_t rest = static_cast<uint32_t>(distance - 257);
    w.Bit(1);
    w.Byte(rest >> 3);
    w.Bits(rest & 7, 3);
  }
}

void WriteLongMatch(StreamWriter& w, size_t distance, size_t length) {
  w.Bit(0);
  w.Bit(0);
  // Classes by reach: 512, 1024, 2048, 4096, 8192; d - 1 = (P + B) * 2^k + x.
  const uint32_t d = static_cast<uint32_t>(distance - 1);
  unsigned lowBits;
  uint32_t prefix;
  if (distance <= 512) {
    w.Bit(1);
    lowBits = 1;
    prefix = 0;
  } else if (distance <= 1024) {
    w.Bits(0x1, 2);
    lowBits = 1;
    prefix = 256;
  } else if (distance <= 2048) {
    w.Bits(0x1, 3);
    lowBits = 2;
    prefix = 256;
  } else if (distance <= 4096) {
    w.Bits(0x1, 4);
    lowBits = 3;
    prefix = 256;
  } else {
    w.Bits(0x0, 4);
    lowBits = 4;
    prefix = 256;
  }
  w.Byte((d >> lowBits) - prefix);
  w.Bits(d & ((1u << lowBits) - 1), lowBits);

  const uint32_t n = static_cast<uint32_t>(length);
  if (n == 3) {
    w.Bit(1);
  } else if (n == 4) {
    w.Bits(0x1, 2);
  } else if (n <= 6) {
    w.Bits(0x1, 3);
    w.Bits(n - 5, 1);
  } else if (n <= 10) {
    w.Bits(0x1, 4);
    w.Bits(n - 7, 2);
  } else if (n <= 26) {
    w.Bits(0x1, 5);
    w.Bits(n - 11, 4);
  } else {
    w.Bits(0x0, 5);
    w.Byte(n - 27);
  }
}

void WriteEndMarker(StreamWriter& w) {
  w.Bits(0x3, 3);
  w.Byte(255);
  w.Bits(0x7, 3);
}

// Length of the common prefix of a and b, at most limit bytes.
size_t CommonLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t n = 0;
  while (limit - n >= 8) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    const uint64_t diff = x ^ y;
    if (diff != 0) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      return n + static_cast<size_t>(__builtin_ctzll(diff)) / 8;
#else
      while (a[n] == b[n]) ++n;
      return n;
#endif
    }
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// Exact greedy match finder. Every position of the input is kept in three sets of hash chains,
// keyed by its first four, three and two bytes. A match of 4 bytes or more is sought along the
// first (every such match shares four bytes); without one, the nearest position sharing three
// bytes is the longest match, and without that the nearest sharing two. Chains are walked
// nearest first and every candidate is compared, so hash collisions cost time but never change
// a result. The tables grow with the input up to kMaxHashBits, so a small input needs little
// set-up; with kMaxHashBits the pair hash is the pair itself.
// Position: the type that holds position + 1 in the tables (32 bits whenever the input allows,
// which keeps the tables small).
template <typename Position>
class MatchFinder {
 public:
  MatchFinder(const uint8_t* data, size_t size) : data_(data), size_(size) {
    while (hashBits_ < kMaxHashBits && (size_t{1} << hashBits_) < size) ++hashBits_;
    while (chainSlots_ < kChainSlots && chainSlots_ < size) chainSlots_ *= 2;
    head4_.assign(size_t{1} << hashBits_, kNone);
    head3_.assign(size_t{1} << hashBits_, kNone);
    head2_.assign(size_t{1} << hashBits_, kNone);
    chain4_.assign(chainSlots_, kNone);
    chain3_.assign(chainSlots_, kNone);
    chain2_.assign(chainSlots_, kNone);
  }

  // Records the positions [begin, end) (every position once, in order). Within a run of one
  // hash the previous position is the chain's head already, so the head is only written.
  void Insert(size_t begin, size_t end) {
    const size_t mask = chainSlots_ - 1;
    const size_t quadEnd = size_ >= 4 ? size_ - 3 : 0;
    const size_t longEnd = size_ >= kMinLongLength ? size_ - kMinLongLength + 1 : 0;
    const size_t pairEnd = size_ >= 2 ? size_ - 1 : 0;
    uint32_t last4 = ~uint32_t{0};
    uint32_t last3 = ~uint32_t{0};
    uint32_t last2 = ~uint32_t{0};
    for (size_t p = begin; p < end && p < pairEnd; ++p) {
      if (p > begin && p < quadEnd && Load32(p) == Load32(p - 1)) {
        // Inside a run of one byte: p has the keys of p - 1, just inserted, so every chain
        // links p to p - 1 and the heads move on once, at the run's end.
        size_t q = p;
        while (q < end && q < quadEnd && Load32(q) == Load32(q - 1)) {
          const Position previous = static_cast<Position>(q);
          chain4_[q & mask] = previous;
          chain3_[q & mask] = previous;
          chain2_[q & mask] = previous;
          ++q;
        }
        head4_[last4] = static_cast<Position>(q);
        head3_[last3] = static_cast<Position>(q);
        head2_[last2] = static_cast<Position>(q);
        p = q - 1;
        continue;
      }
      const size_t slot = p & mask;
      if (p < quadEnd) {
        const uint32_t h = Hash4(data_ + p);
        chain4_[slot] = h == last4 ? static_cast<Position>(p) : head4_[h];
        head4_[h] = static_cast<Position>(p + 1);
        last4 = h;
      }
      if (p < longEnd) {
        const uint32_t h = Hash3(data_ + p);
        chain3_[slot] = h == last3 ? static_cast<Position>(p) : head3_[h];
        head3_[h] = static_cast<Position>(p + 1);
        last3 = h;
      }
      const uint32_t h = Hash2(data_ + p);
      chain2_[slot] = h == last2 ? static_cast<Position>(p) : head2_[h];
      head2_[h] = static_cast<Position>(p + 1);
      last2 = h;
    }
  }

  // The longest match at p (nearest among equally long ones); length 0 when there is no match
  // of 3 bytes or more within kWindow and no 2-byte match within kShortReach. Must be called
  // before Insert(p).
  void Find(size_t p, size_t& length, size_t& distance) const {
    length = 0;
    distance = 0;
    const size_t left = size_ - p;
    if (left < 2) return;
    const uint8_t* const here = data_ + p;
    const size_t mask = chainSlots_ - 1;
    if (left >= kMinLongLength) {
      const size_t limit = left < kMaxLength ? left : kMaxLength;
      if (left >= 4) {
        // Matches of 4 bytes or more: every one shares the first four bytes.
        // Run of here[0] at p, when p starts with four equal bytes (0 otherwise).
        size_t run = 0;
        if (here[1] == here[0] && here[2] == here[0] && here[3] == here[0]) {
          run = 4;
          while (run < limit && here[run] == here[0]) ++run;
        }
        size_t best = 3;
        for (size_t slot = head4_[Hash4(here)]; slot != kNone; slot = chain4_[(slot - 1) & mask]) {
          size_t q = slot - 1;
          if (p - q > kWindow) break;
          const uint8_t* const there = data_ + q;
          // A longer match must agree at its byte `best` first (best < limit: a match of
          // limit bytes ends the walk).
          if (there[best] != here[best]) continue;
          const size_t n = CommonLength(here, there, limit);
          if (n > best) {
            best = n;
            length = n;
            distance = p - q;
            if (n == limit) break;
          }
          if (run != 0 && n == run && there[run] == here[0]) {
            // q lies in a run of that byte longer than p's: so does every position before q
            // in the same run, and each matches exactly `run` bytes, no better than q. Go on
            // from the run's start, whose chain link leads to what came before it.
            while (q > 0 && data_[q - 1] == here[0]) --q;
            if (p - q > kWindow) break;
            slot = q + 1;
          }
        }
        if (length != 0) return;
      }
      // No match of 4 bytes: the nearest with the first three bytes is the longest.
      for (size_t slot = head3_[Hash3(here)]; slot != kNone; slot = chain3_[(slot - 1) & mask]) {
        const size_t q = slot - 1;
        if (p - q > kWindow) break;
        if (data_[q] == here[0] && data_[q + 1] == here[1] && data_[q + 2] == here[2]) {
          length = 3;
          distance = p - q;
          return;
        }
      }
    }
    for (size_t slot = head2_[Hash2(here)]; slot != kNone; slot = chain2_[(slot - 1) & mask]) {
      const size_t q = slot - 1;
      if (p - q > kShortReach) break;
      if (data_[q] == here[0] && data_[q + 1] == here[1]) {
        length = 2;
        distance = p - q;
        return;
      }
    }
  }

 private:
  uint32_t Load32(size_t p) const {
    uint32_t v;
    std::memcpy(&v, data_ + p, 4);
    return v;
  }
  uint32_t Hash4(const uint8_t* p) const {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - hashBits_);
  }
  uint32_t Hash3(const uint8_t* p) const {
    const uint32_t v = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    return (v * 2654435761u) >> (32 - hashBits_);
  }
  uint32_t Hash2(const uint8_t* p) const {
    const uint32_t v = uint32_t{p[0]} << 8 | p[1];
    return hashBits_ == kMaxHashBits ? v : (v * 2654435761u) >> (32 - hashBits_);
  }

  const uint8_t* data_;
  size_t size_;
  unsigned hashBits_ = kMinHashBits;
  size_t chainSlots_ = kMinChainSlots;
  std::vector<Position> head4_;
  std::vector<Position> head3_;
  std::vector<Position> head2_;
  std::vector<Position> chain4_;
  std::vector<Position> chain3_;
  std::vector<Position> chain2_;
};

template <typename Position>
std::vector<uint8_t> Encode(const uint8_t* data, size_t size, const EncodeProgress& progress) {
  std::vector<uint8_t> out;
  out.reserve(size + size / 8 + 16);
  StreamWriter writer(out);
  MatchFinder<Position> finder(data, size);
  size_t nextReport = kProgressStep;

  size_t p = 0;
  while (p < size) {
    size_t length;
    size_t distance;
    finder.Find(p, length, distance);
    if (length == 0) {
      WriteLiteral(writer, data[p]);
      length = 1;
    } else if (length == 2) {
      WriteShortMatch(writer, distance);
    } else {
      WriteLongMatch(writer, distance, length);
    }
    finder.Insert(p, p + length);
    p += length;
    if (progress && p >= nextReport) {
      progress(p);
      nextReport = p + kProgressStep;
    }
  }
  WriteEndMarker(writer);
  writer.Finish();
  if (progress) progress(size);
  return out;
}

}  // namespace

std::vector<std::uint8_t> EncodePacked(const std::uint8_t* data, std::size_t size,
                                       const EncodeProgress& progress) {
  if (size < UINT32_MAX) return Encode<uint32_t>(data, size, progress);
  return Encode<size_t>(data, size, progress);
}
