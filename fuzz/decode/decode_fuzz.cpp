// DecodePacked on arbitrary bytes. Input: two bytes of destination capacity (little-endian),
// then the stream. Whatever the stream, the bounds hold, and a stream that decodes decodes the
// same way at exactly its own output size and with exactly its own length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/packed_decoder.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t capacity = data[0] | std::size_t{data[1]} << 8;
  const std::uint8_t* const stream = data + 2;
  const std::size_t available = size - 2;

  std::vector<std::uint8_t> destination(capacity);
  const DecodeResult r = DecodePacked(destination.data(), capacity, stream, available);
  Require(r.produced <= capacity);
  Require(r.consumed <= available);
  if (r.status != DecodeStatus::ok) return 0;
  Require(r.consumed >= 5);  // a control word and the end marker's byte at least

  std::vector<std::uint8_t> exact(r.produced);
  std::vector<std::uint8_t> own(stream, stream + r.consumed);
  const DecodeResult again = DecodePacked(exact.data(), exact.size(), own.data(), own.size());
  Require(again.status == DecodeStatus::ok);
  Require(again.consumed == r.consumed && again.produced == r.produced);
  Require(r.produced == 0 || std::memcmp(exact.data(), destination.data(), r.produced) == 0);
  return 0;
}
