// Patch application against the caps an installation sets: any frame, base
// and listed size either decode to exactly that many bytes or fail, never
// anything else; and what EncodeZstd makes decodes back to its input.
//
// Input: 4 bytes listed size (little endian, up to 1 MiB), 4 bytes base
// length, the base, then the frame.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/Check.h"
#include "platform/crypt/ZstdPatch.h"

namespace {

std::uint32_t Take32(std::string_view& input) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4 && !input.empty(); ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(input.front())) << (8 * i);
    input.remove_prefix(1);
  }
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::uint64_t listed = Take32(input) % ((1u << 20) + 1);
  const std::size_t baseLength = Take32(input) % (input.size() + 1);
  const std::string_view base = input.substr(0, baseLength);
  const std::string_view frame = input.substr(baseLength);

  std::string output, cause;
  if (DecodeZstd(frame, base, listed, output, cause)) {
    FUZZ_CHECK(output.size() == listed);
  } else {
    FUZZ_CHECK(output.empty() && !cause.empty());
  }

  // The frame's bytes as a new file: a patch of them against the base
  // rebuilds them exactly, and no other size is accepted.
  std::string patch, error;
  FUZZ_CHECK(EncodeZstd(base, frame, 1, patch, error));
  FUZZ_CHECK(DecodeZstd(patch, base, frame.size(), output, cause) && output == frame);
  FUZZ_CHECK(!DecodeZstd(patch, base, frame.size() + 1, output, cause));
  return 0;
}
