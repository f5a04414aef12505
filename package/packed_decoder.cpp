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
// The fast loop decodes a whole token from the current word when the word still holds all of its
// bits; a token whose bits run into the next word, or that starts within kFastSourceSlack bytes
// of the source's end, goes through DecodeTokenExact, which takes one bit at a time with every
// bound checked. Either way a token commits nothing before all of its bounds have been checked.

namespace {

using std::size_t;
using std::uint32_t;
using std::uint8_t;

constexpr uint32_t kTopBit = 0x80000000u;
constexpr uint32_t kSecondBit = 0x40000000u;
constexpr unsigned kControlWordBytes = 4;
// A long match reads at most two data bytes (B and N): with that many left the fast decoder may
// read them before it knows whether the token needs them.
constexpr size_t kFastSourceSlack = 2;
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

uint32_t LoadLittle32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The top `count` bits (0 to 31) of a left-aligned word.
uint32_t TopBits(uint32_t word, unsigned count) { return (word >> 1) >> (31 - count); }

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
    // Every 4-byte unit reads bytes at least 4 back, all of them final already.
    const uint8_t* from = out - distance;
    while (end - out >= 4) {
      std::memcpy(out, from, 4);
      out += 4;
      from += 4;
    }
    while (out != end) *out++ = *from++;
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
      const uint8_t* const runEnd = in + run;
      while (runEnd - in >= 4) {
        std::memcpy(out, in, 4);
        out += 4;
        in += 4;
      }
      while (in != runEnd) *out++ = *in++;
      word = run < 32 ? word << run : 0;
      bits -= static_cast<unsigned>(run);
      continue;
    }

    if (sourceLeft >= kFastSourceSlack) {
      // Decode the match from the word as if its bits were all there; the zeros below the
      // untaken bits only ever make a token longer, so `used > bits` catches every token that
      // runs into the next control word.
      unsigned used;
      uint32_t distance;
      uint32_t length;
      size_t bytesRead;
      const uint32_t b = in[0];
      if (word & kSecondBit) {
        length = kShortLength;
        bytesRead = 1;
        if (word & (kSecondBit >> 1)) {
          const uint32_t x = (word >> 26) & 7;
          used = 6;
          if (b == 255 && x == 7) {
            if (used > bits) goto exact;
            in += 1;
            status = DecodeStatus::ok;
            break;
          }
          distance = kFarDistanceBase + 8 * b + x;
        } else {
          used = 3;
          distance = b + 1;
        }
      } else {
        uint32_t rest = word << 2;
        const unsigned distanceClass = static_cast<unsigned>(__builtin_clz(rest | 0x08000000u));
        rest <<= kSelectorBits[distanceClass];
        const unsigned lowBits = kLowBits[distanceClass];
        distance = ((kDistancePrefix[distanceClass] + b) << lowBits) + TopBits(rest, lowBits) + 1;
        rest <<= lowBits;
        const unsigned lengthCode = static_cast<unsigned>(__builtin_clz(rest | 0x04000000u));
        rest <<= kLengthCodeBits[lengthCode];
        const unsigned extraBits = kLengthExtraBits[lengthCode];
        length = kLengthBase[lengthCode] + TopBits(rest, extraBits);
        bytesRead = 1;
        if (lengthCode == kLengthWithByte) {
          length += in[1];
          bytesRead = 2;
        }
        used = 2 + kSelectorBits[distanceClass] + lowBits + kLengthCodeBits[lengthCode] + extraBits;
      }
      if (used > bits) goto exact;
      if (distance > static_cast<size_t>(out - destination) ||
          length > static_cast<size_t>(outEnd - out)) {
        in = tokenStart;
        break;
      }
      in += bytesRead;
      word <<= used;
      bits -= used;
      if (length == kShortLength) {
        out[0] = *(out - distance);
        out[1] = *(out + 1 - distance);
        out += kShortLength;
      } else {
        out = CopyLongMatch(out, distance, length);
      }
      continue;
    }

  exact: {
    // Back to the token's start: DecodeTokenExact fetches the control word itself if needed.
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
