// EncodePacked then DecodePacked gives the input back, and the decoder reads the whole stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/packed_decoder.h"
#include "tools/packer/packed_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> stream = EncodePacked(data, size);
  std::vector<std::uint8_t> output(size);
  const DecodeResult r = DecodePacked(output.data(), size, stream.data(), stream.size());
  if (r.status != DecodeStatus::ok || r.consumed != stream.size() || r.produced != size)
    std::abort();
  if (size != 0 && std::memcmp(output.data(), data, size) != 0) std::abort();
  return 0;
}
