// Enciphered ".dat" files: any bytes either decipher or read as missing,
// never anything else; what is enciphered deciphers to the same text, and
// any change to one byte of it makes it fail.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/Check.h"
#include "platform/configfile/ConfigCipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string second = input.ConsumeBool() ? "" : input.ConsumeRandomLengthString(16);
  const std::size_t flip = input.ConsumeIntegral<std::size_t>();
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  // Arbitrary bytes as a file (the seeds hold real files, so mutations of
  // them reach past the header).
  (void)configcipher::Decipher(bytes, second);

  const std::string sealed = configcipher::Encipher(bytes, second);
  const auto plain = configcipher::Decipher(sealed, second);
  FUZZ_CHECK(plain && *plain == bytes);
  std::string altered = sealed;
  altered[flip % altered.size()] ^= 0x01;
  FUZZ_CHECK(!configcipher::Decipher(altered, second));
  return 0;
}
