// Sets the variables that a test's ENV option names (see tests/CMakeLists.txt)
// before main runs: ZOLT_TEST_ENV holds them as "NAME=value|NAME=value".
#include <cstdlib>
#include <string>

namespace {
const bool environmentSet = [] {
  const char* all = std::getenv("ZOLT_TEST_ENV");
  if (all == nullptr) return false;
  std::string rest = all;
  while (!rest.empty()) {
    const auto bar = rest.find('|');
    const std::string entry = rest.substr(0, bar);
    rest = bar == std::string::npos ? "" : rest.substr(bar + 1);
    const auto equals = entry.find('=');
    if (equals != std::string::npos && equals > 0)
      ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
  return true;
}();
}  // namespace
