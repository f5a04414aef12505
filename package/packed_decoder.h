#pragma once
// Decoder of packed streams: byte-oriented LZ77 with an 8192-byte window, 32-bit control words
// (bit 31 first) interleaved with literal, distance and length bytes, ended by an end marker.
//
// Promise: whatever the stream holds, DecodePacked writes only destination[0, capacity), reads
// only source[0, available), and copies from no distance greater than the bytes written so far.
// A token that would break one of these bounds ends decoding with DecodeStatus::corrupt; the
// bytes written before it stay. destination and source must not overlap.
//
// consumed and produced: with ok, the stream's length (up to and including the end marker's
// last byte read) and the bytes decoded; with corrupt, the stream bytes and output bytes of the
// tokens before the one that broke a bound (a control word that this token would have fetched
// is not counted). A stream that ends before the destination is full is ok: produced tells how
// far it got, and the rest of the destination is left as it was.
#include <cstddef>
#include <cstdint>

enum class DecodeStatus : std::uint8_t {
  ok,       // the end marker was reached
  corrupt,  // a bound would have been broken (see above)
};

struct DecodeResult {
  DecodeStatus status;
  std::size_t consumed;  // stream bytes read, up to and including the end marker when ok
  std::size_t produced;  // bytes written to destination
};

DecodeResult DecodePacked(std::uint8_t* destination, std::size_t capacity,
                          const std::uint8_t* source, std::size_t available) noexcept;
