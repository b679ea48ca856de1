// The request path of a remote name: only unreserved characters, "/" and
// "%XX" escapes reach the server, the update type is the first segment, and
// decoding gives back the name with "\" as "/".
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <string>

#include "fuzz/Check.h"
#include "platform/transfer/ZOLTUpdateIntf.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const unsigned type = input.ConsumeIntegral<unsigned>();
  const std::string name = input.ConsumeRemainingBytesAsString();

  const std::string path = CZOLTUpdateIntf::RequestPath(type, name);
  const std::string prefix = "/" + std::to_string(type) + "/";
  FUZZ_CHECK(path.compare(0, prefix.size(), prefix) == 0);
  std::string decoded;
  for (std::size_t i = prefix.size(); i < path.size(); ++i) {
    const char c = path[i];
    if (c == '%') {
      FUZZ_CHECK(i + 2 < path.size() && HexValue(path[i + 1]) >= 0 && HexValue(path[i + 2]) >= 0);
      decoded += static_cast<char>(HexValue(path[i + 1]) * 16 + HexValue(path[i + 2]));
      i += 2;
    } else {
      FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~' ||
                 c == '/');
      decoded += c;
    }
  }
  std::string expected = name;
  for (char& c : expected) c = c == '\\' ? '/' : c;
  FUZZ_CHECK(decoded == expected);
  return 0;
}
