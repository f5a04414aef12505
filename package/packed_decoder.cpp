#include "package/packed_decoder.h"

#include <cstring>

// Stream layout, as read here:
//   literal        1, L                    write L
//   short, near    0 1 0, B                2 bytes from distance B + 1
//   short, far     0 1 1, B, x:3           2 bytes from distance 257 + 8B + x; B 255 x 7 ends
//   long           0 0, selector, B, x:k, length code [, N]
// Control bits come from 32-bit little-endian words, bit 31 first; a word is fetched from the
// read position only when a bit is needed and the current word has none left.
//
// The fast loop decodes a whole token at a time, by table: a run of literals from the leading 1
// bits of the current word; a match from the current word alone when it holds all of the
// match's bits, else from the current word followed by the next control word (loaded from both
// places where it may stand). Bounds are checked once per token. A token that starts within
// kFastSourceSlack bytes of the source's end goes through DecodeTokenExact, which takes one bit
// at a time with every bound checked. Either way a token commits nothing before all of its
// bounds have been checked.

namespace {

using std::size_t;
using std::uint32_t;
using std::uint8_t;

constexpr uint32_t kTopBit = 0x80000000u;
constexpr unsigned kControlWordBytes = 4;
// A match reads at most a control word and two data bytes (B and N): with that many left the
// fast decoder may read them before it knows whether the token needs them.
constexpr size_t kFastSourceSlack = 6;
constexpr unsigned kFarDistanceBase = 257;
constexpr unsigned kShortLength = 2;

// Long-match distance classes, indexed by the number of 0 bits before the selector's 1 (4: the
// fifth class, whose selector is four 0 bits). d - 1 = (P + B) * 2^k + x.
constexpr uint8_t kSelectorBits[5] = {1, 2, 3, 4, 4};
constexpr uint8_t kLowBits[5] = {1, 1, 2, 3, 4};
constexpr uint32_t kDistancePrefix[5] = {0, 256, 256, 256, 256};

// Length codes, indexed by the number of 0 bits before the code's 1 (5: five 0 bits, then N).
constexpr uint8_t kLengthCodeBits[6] = {1, 2, 3, 4, 5, 5};
constexpr uint8_t kLengthExtraBits[6] = {0, 0, 1, 2, 4, 0};
constexpr uint32_t kLengthBase[6] = {3, 4, 5, 7, 11, 27};
constexpr unsigned kLengthWithByte = 5;

// Match tokens by table, in two steps. The distance table is indexed by the first 10 control
// bits of a token that starts with a 0 bit (kind, selector and low bits never take more); the
// length table by the 9 bits after the distance code (a length code never takes more).
// distance = (B << shift) + distanceAdd.
constexpr unsigned kDistanceIndexBits = 10;
constexpr unsigned kLengthIndexBits = 9;

constexpr uint32_t DistanceEntry(uint32_t used, uint32_t beforeB, uint32_t shift,
                                 uint32_t distanceAdd, bool isShort) {
  return used | beforeB << 4 | shift << 8 | distanceAdd << 11 | uint32_t{isShort} << 24;
}
constexpr uint32_t DistanceUsed(uint32_t e) { return e & 15; }
constexpr uint32_t DistanceBeforeB(uint32_t e) { return (e >> 4) & 15; }
constexpr uint32_t DistanceShift(uint32_t e) { return (e >> 8) & 7; }
constexpr uint32_t DistanceAdd(uint32_t e) { return (e >> 11) & 0x1FFF; }
constexpr bool DistanceIsShort(uint32_t e) { return (e >> 24) & 1; }

constexpr uint16_t LengthEntry(uint32_t used, uint32_t length, bool withN) {
  return static_cast<uint16_t>(used | length << 4 | uint32_t{withN} << 9);
}
constexpr uint32_t LengthUsed(uint32_t e) { return e & 15; }
constexpr uint32_t LengthField(uint32_t e) { return (e >> 4) & 31; }
constexpr bool LengthWithN(uint32_t e) { return (e >> 9) & 1; }

struct MatchTables {
  uint32_t distance[1u << kDistanceIndexBits];
  uint16_t length[1u << kLengthIndexBits];
};

constexpr MatchTables BuildMatchTables() {
  MatchTables t{};
  for (uint32_t index = 0; index < (1u << kDistanceIndexBits); ++index) {
    auto bit = [index](unsigned position) {
      return (index >> (kDistanceIndexBits - 1 - position)) & 1;
    };
    if (bit(0)) continue;  // a literal: not a match
    if (bit(1)) {
      if (!bit(2)) {
        t.distance[index] = DistanceEntry(3, 3, 0, 1, true);
      } else {
        const uint32_t x = bit(3) << 2 | bit(4) << 1 | bit(5);
        t.distance[index] = DistanceEntry(6, 3, 3, kFarDistanceBase + x, true);
      }
      continue;
    }
    unsigned distanceClass = 0;
    while (distanceClass < 4 && !bit(2 + distanceClass)) ++distanceClass;
    const unsigned beforeB = 2 + kSelectorBits[distanceClass];
    const unsigned k = kLowBits[distanceClass];
    uint32_t x = 0;
    for (unsigned i = 0; i < k; ++i) x = x << 1 | bit(beforeB + i);
    t.distance[index] = DistanceEntry(beforeB + k, beforeB, k,
                                      (kDistancePrefix[distanceClass] << k) + x + 1, false);
  }
  for (uint32_t index = 0; index < (1u << kLengthIndexBits); ++index) {
    auto bit = [index](unsigned position) {
      return (index >> (kLengthIndexBits - 1 - position)) & 1;
    };
    unsigned lengthCode = 0;
    while (lengthCode < kLengthWithByte && !bit(lengthCode)) ++lengthCode;
    const unsigned codeBits = kLengthCodeBits[lengthCode];
    uint32_t extra = 0;
    for (unsigned i = 0; i < kLengthExtraBits[lengthCode]; ++i) extra = extra << 1 | bit(codeBits + i);
    t.length[index] = LengthEntry(codeBits + kLengthExtraBits[lengthCode],
                                  kLengthBase[lengthCode] + extra, lengthCode == kLengthWithByte);
  }
  return t;
}

constexpr MatchTables kMatchTables = BuildMatchTables();

// The distance of a far-form short match with B = 255 and x = 7: the end marker.
constexpr uint32_t kEndMarkerDistance = kFarDistanceBase + 8 * 255 + 7;

uint32_t LoadLittle32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Stream and destination positions; `word` holds its `bits` untaken control bits at the top,
// zeros below them.
struct DecoderState {
  const uint8_t* in;
  const uint8_t* inEnd;
  uint8_t* outBegin;
  uint8_t* out;
  uint8_t* outEnd;
  uint32_t word;
  unsigned bits;
};

enum class TokenOutcome { next, end, fault };

// Writes `length` bytes, each the byte `distance` positions before it. The caller has checked
// distance <= bytes written and length <= room. Stores stay inside the match.
inline uint8_t* CopyLongMatch(uint8_t* out, uint32_t distance, uint32_t length) {
  uint8_t* const end = out + length;
  if (distance >= 4) {
    // 4-byte units from the match's start, the last one ending at the match's end (it may
    // overlap the one before). Every unit reads bytes at least 4 back, all of them final by
    // then, so the result equals the byte-by-byte rule.
    const uint8_t* const from = out - distance;
    if (length < 4) {
      out[0] = from[0];
      out[1] = from[1];
      out[2] = from[2];
      return end;
    }
    size_t i = 0;
    while (i + 4 < length) {
      std::memcpy(out + i, from + i, 4);
      i += 4;
    }
    std::memcpy(end - 4, from + (length - 4), 4);
    return end;
  }
  if (distance == 1) {
    uint8_t pattern[4];
    std::memset(pattern, out[-1], 4);
    while (end - out >= 4) {
      std::memcpy(out, pattern, 4);
      out += 4;
    }
    while (out != end) *out++ = pattern[0];
    return end;
  }
  if (distance == 2) {
    const uint8_t pattern[4] = {out[-2], out[-1], out[-2], out[-1]};
    while (end - out >= 4) {
      std::memcpy(out, pattern, 4);
      out += 4;
    }
    if (end - out >= 2) {
      std::memcpy(out, pattern, 2);
      out += 2;
    }
    if (out != end) *out++ = pattern[0];
    return end;
  }
  // Distance 3: each 4-byte unit is the pattern and its first byte again; the position moves on
  // by 3, so the fourth byte is rewritten (with the same value) by what follows.
  const uint8_t pattern[4] = {out[-3], out[-2], out[-1], out[-3]};
  while (end - out > 3) {
    std::memcpy(out, pattern, 4);
    out += 3;
  }
  if (end - out >= 2) {
    std::memcpy(out, pattern, 2);
    out += 2;
    if (out != end) *out++ = pattern[2];
  } else if (out != end) {
    *out++ = pattern[0];
  }
  return end;
}

// Copies a match: short ones and 3-byte ones byte by byte, 4 to 16 bytes at distance 4 or more
// in four 4-byte units, everything else by CopyLongMatch.
inline uint8_t* CopyMatch(uint8_t* out, uint32_t distance, uint32_t length, bool isShort) {
  const uint8_t* const from = out - distance;
  if (length < 4 && (isShort || distance >= 4)) {
    // 2 or 3 bytes in three stores (the second byte twice for 2).
    out[0] = from[0];
    out[1] = from[1];
    out[length - 1] = from[length - 1];
    return out + length;
  }
  if (length <= 16 && distance >= 4) {
    // Four 4-byte units inside the match, in an order in which each one reads only bytes
    // already final: at 0, at 4 (or length - 4), at length - 8 (or 0), at length - 4.
    const size_t second = length >= 8 ? 4 : length - 4;
    const size_t third = length >= 8 ? length - 8 : 0;
    std::memcpy(out, from, 4);
    std::memcpy(out + second, from + second, 4);
    std::memcpy(out + third, from + third, 4);
    std::memcpy(out + length - 4, from + length - 4, 4);
    return out + length;
  }
  return CopyLongMatch(out, distance, length);
}

// Copies 1 to 32 literal bytes: 4-byte units, the last one ending at the run's end; shorter runs
// byte by byte (three stores that cover 1, 2 or 3 bytes).
inline void CopyLiterals(uint8_t* out, const uint8_t* in, size_t run) {
  if (run < 4) {
    out[0] = in[0];
    out[run / 2] = in[run / 2];
    out[run - 1] = in[run - 1];
    return;
  }
  size_t i = 0;
  while (i + 4 < run) {
    std::memcpy(out + i, in + i, 4);
    i += 4;
  }
  std::memcpy(out + run - 4, in + run - 4, 4);
}

// One whole token, one control bit at a time, every bound checked where it is met. On a fault
// the state is left as it was at the token's start.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
TokenOutcome DecodeTokenExact(DecoderState& state) {
  DecoderState s = state;
  bool starved = false;
  auto takeBit = [&s, &starved]() -> uint32_t {
    if (s.bits == 0) {
      if (static_cast<size_t>(s.inEnd - s.in) < kControlWordBytes) {
        starved = true;
        return 0;
      }
      s.word = LoadLittle32(s.in);
      s.in += kControlWordBytes;
      s.bits = 32;
    }
    const uint32_t bit = s.word >> 31;
    s.word <<= 1;
    --s.bits;
    return bit;
  };
  auto takeBits = [&takeBit, &starved](unsigned count) -> uint32_t {
    uint32_t value = 0;
    for (unsigned i = 0; i < count && !starved; ++i) value = value << 1 | takeBit();
    return value;
  };
  auto readByte = [&s, &starved]() -> uint32_t {
    if (starved || s.in == s.inEnd) {
      starved = true;
      return 0;
    }
    return *s.in++;
  };

  const size_t written = static_cast<size_t>(s.out - s.outBegin);
  const size_t room = static_cast<size_t>(s.outEnd - s.out);
  uint32_t distance = 0;
  uint32_t length = 0;

  if (takeBit()) {
    const uint32_t literal = readByte();
    if (starved || room == 0) return TokenOutcome::fault;
    *s.out++ = static_cast<uint8_t>(literal);
    state = s;
    return TokenOutcome::next;
  }
  if (takeBit()) {
    const uint32_t far = takeBit();
    const uint32_t b = readByte();
    if (far) {
      const uint32_t x = takeBits(3);
      if (starved) return TokenOutcome::fault;
      if (b == 255 && x == 7) {
        state = s;
        return TokenOutcome::end;
      }
      distance = kFarDistanceBase + 8 * b + x;
    } else {
      distance = b + 1;
    }
    if (starved || distance > written || room < kShortLength) return TokenOutcome::fault;
    s.out[0] = *(s.out - distance);
    s.out[1] = *(s.out + 1 - distance);
    s.out += kShortLength;
    state = s;
    return TokenOutcome::next;
  }

  unsigned distanceClass = 0;
  while (distanceClass < 4 && !starved && !takeBit()) ++distanceClass;
  const uint32_t b = readByte();
  const unsigned lowBits = kLowBits[distanceClass];
  const uint32_t x = takeBits(lowBits);
  distance = ((kDistancePrefix[distanceClass] + b) << lowBits) + x + 1;

  unsigned lengthCode = 0;
  while (lengthCode < kLengthWithByte && !starved && !takeBit()) ++lengthCode;
  if (lengthCode == kLengthWithByte) {
    length = kLengthBase[lengthCode] + readByte();
  } else {
    length = kLengthBase[lengthCode] + takeBits(kLengthExtraBits[lengthCode]);
  }
  if (starved || distance > written || length > room) return TokenOutcome::fault;
  s.out = CopyLongMatch(s.out, distance, length);
  state = s;
  return TokenOutcome::next;
}

}  // namespace

DecodeResult DecodePacked(uint8_t* destination, size_t capacity, const uint8_t* source,
                          size_t available) noexcept {
  const uint8_t* in = source;
  const uint8_t* const inEnd = source + available;
  uint8_t* out = destination;
  uint8_t* const outEnd = destination + capacity;
  uint32_t word = 0;
  unsigned bits = 0;
  DecodeStatus status = DecodeStatus::corrupt;

  // Every fault leaves `in` and `out` at the start of the token that broke a bound.
  for (;;) {
    const uint8_t* tokenStart = in;
    if (bits == 0) {
      if (static_cast<size_t>(inEnd - in) < kControlWordBytes) break;
      word = LoadLittle32(in);
      in += kControlWordBytes;
      bits = 32;
    }
    const size_t sourceLeft = static_cast<size_t>(inEnd - in);

    if (word & kTopBit) {
      // A run of literals: every leading 1 bit is one literal, their bytes follow in order. The
      // run stops short where the source or the destination would run out, so that the
      // literal that breaks a bound is met as a token of its own below.
      size_t run = ~word == 0 ? 32 : static_cast<size_t>(__builtin_clz(~word));
      const size_t room = static_cast<size_t>(outEnd - out);
      if (run > room) run = room;
      if (run > sourceLeft) run = sourceLeft;
      if (run == 0) {
        in = tokenStart;
        break;
      }
      CopyLiterals(out, in, run);
      out += run;
      in += run;
      word = run < 32 ? word << run : 0;
      bits -= static_cast<unsigned>(run);
      continue;
    }

    if (sourceLeft >= kFastSourceSlack) {
      // A match whose bits are all in the current word: read from the word alone. Below the
      // untaken bits `word` holds zeros, so a token that runs past them comes out too long.
      const uint32_t d = kMatchTables.distance[word >> (32 - kDistanceIndexBits)];
      const uint32_t distanceUsed = DistanceUsed(d);
      const uint32_t shortBit = DistanceIsShort(d) ? 1 : 0;
      const uint32_t l =
          kMatchTables.length[(word << distanceUsed) >> (32 - kLengthIndexBits)] & (shortBit - 1);
      const uint32_t used = distanceUsed + LengthUsed(l);
      if (used <= bits) {
        const bool withN = LengthWithN(l);
        const uint32_t distance = (uint32_t{in[0]} << DistanceShift(d)) + DistanceAdd(d);
        const uint32_t length =
            LengthField(l) + (shortBit << 1) + (in[1] & (0u - static_cast<uint32_t>(withN)));
        if (shortBit != 0 && distance == kEndMarkerDistance) {
          in += 1;
          status = DecodeStatus::ok;
          break;
        }
        if (distance > static_cast<size_t>(out - destination) ||
            length > static_cast<size_t>(outEnd - out)) {
          in = tokenStart;
          break;
        }
        in += withN ? 2 : 1;
        word <<= used;
        bits -= used;
        out = CopyMatch(out, distance, length, shortBit != 0);
        continue;
      }
    }

    if (sourceLeft >= kFastSourceSlack) {
      // A match, read from the current word followed by the next control word. That word is
      // fetched where the token runs out of bits: right after B when the bits before B are all
      // in the current word, else right before B. Both places are loaded (the source holds
      // kFastSourceSlack bytes, whether or not the token needs them) and the distance entry
      // read from each; the word after B is right unless its entry finds the bits before B
      // running past the current word.
      const std::uint64_t current = std::uint64_t{word} << 32;
      const std::uint64_t afterB = current | std::uint64_t{LoadLittle32(in + 1)} << (32 - bits);
      const std::uint64_t beforeB = current | std::uint64_t{LoadLittle32(in)} << (32 - bits);
      const uint32_t dAfterB = kMatchTables.distance[afterB >> (64 - kDistanceIndexBits)];
      const uint32_t dBeforeB = kMatchTables.distance[beforeB >> (64 - kDistanceIndexBits)];
      const bool wordBeforeB = DistanceBeforeB(dAfterB) > bits;
      const std::uint64_t buffer = wordBeforeB ? beforeB : afterB;
      const uint32_t d = wordBeforeB ? dBeforeB : dAfterB;
      const uint32_t distanceUsed = DistanceUsed(d);
      // A short token has no length code: its length entry counts as empty. Arithmetic, not
      // branches, since the kind of a token is hard to predict.
      const uint32_t shortBit = DistanceIsShort(d) ? 1 : 0;
      const uint32_t l = kMatchTables.length[(buffer << distanceUsed) >> (64 - kLengthIndexBits)] &
                         (shortBit - 1);
      const bool isShort = shortBit != 0;
      const uint32_t used = distanceUsed + LengthUsed(l);
      const bool straddles = used > bits;
      const bool withN = LengthWithN(l);
      const uint8_t* const byteN = in + 1 + (straddles ? kControlWordBytes : 0);
      const uint32_t b = in[wordBeforeB ? kControlWordBytes : 0];
      const uint32_t distance = (b << DistanceShift(d)) + DistanceAdd(d);
      const uint32_t length =
          LengthField(l) + (shortBit << 1) + (*byteN & (0u - static_cast<uint32_t>(withN)));
      const unsigned nextBits = bits + (straddles ? 32 : 0) - used;
      if (isShort && distance == kEndMarkerDistance) {
        in = byteN;
        status = DecodeStatus::ok;
        break;
      }
      if (distance > static_cast<size_t>(out - destination) ||
          length > static_cast<size_t>(outEnd - out)) {
        in = tokenStart;
        break;
      }
      in = byteN + (withN ? 1 : 0);
      // The bits left, with zeros below them.
      word = static_cast<uint32_t>(((buffer << used) & ~(~std::uint64_t{0} >> nextBits)) >> 32);
      bits = nextBits;
      out = CopyMatch(out, distance, length, isShort);
      continue;
    }

    // Near the source's end: one bit at a time, from the token's start (DecodeTokenExact
    // fetches the control word itself if needed).
    {
      DecoderState state{in, inEnd, destination, out, outEnd, word, bits};
      const TokenOutcome outcome = DecodeTokenExact(state);
      if (outcome == TokenOutcome::fault) {
        in = tokenStart;
        break;
      }
      in = state.in;
      out = state.out;
      word = state.word;
      bits = state.bits;
      if (outcome == TokenOutcome::end) {
        status = DecodeStatus::ok;
        break;
      }
    }
  }

  return DecodeResult{status, static_cast<size_t>(in - source),
                      static_cast<size_t>(out - destination)};
}
