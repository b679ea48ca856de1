// Profile files: any text parses; what Serialize writes reads back as the same
// profile and writes the same text again; a value that SetValue accepts reads
// back unchanged after a write and a read.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/Check.h"
#include "platform/configfile/Profile.h"

namespace {

// Every section's keys as the reader sees them, in a form to compare.
std::string Listing(const CProfile& profile) {
  std::string listing;
  for (const std::string& name : profile.SectionNames()) {
    listing += "[" + name + "]";
    if (const auto lines = profile.GetSectionLines(name)) {
      for (const std::string& line : *lines) {
        const auto equals = line.find('=');
        std::string value = "(none)";
        if (equals != std::string::npos) profile.GetValue(name, line.substr(0, equals), value);
        listing += "|" + line + "->" + value;
      }
    }
  }
  return listing;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(40);
  const std::string key = input.ConsumeRandomLengthString(40);
  const std::string value = input.ConsumeRandomLengthString(80);
  const std::string text = input.ConsumeRemainingBytesAsString();

  CProfile profile = CProfile::Parse(text);
  const std::string written = profile.Serialize();
  const CProfile reread = CProfile::Parse(written);
  FUZZ_CHECK(reread.Serialize() == written);
  FUZZ_CHECK(Listing(reread) == Listing(profile));

  if (profile.SetValue(section, key, value)) {
    FUZZ_CHECK(CProfile::CanHold(section, key, value));
    std::string got;
    FUZZ_CHECK(profile.GetValue(section, key, got) && got == value);
    const std::string changed = profile.Serialize();
    const CProfile again = CProfile::Parse(changed);
    got.clear();
    FUZZ_CHECK(again.GetValue(section, key, got) && got == value);
    FUZZ_CHECK(again.Serialize() == changed);
  } else {
    FUZZ_CHECK(!CProfile::CanHold(section, key, value));
    FUZZ_CHECK(profile.Serialize() == written);
  }
  return 0;
}
