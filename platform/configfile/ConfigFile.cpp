#include "platform/configfile/ConfigFile.h"

#include <cstdlib>
#include <iterator>
#include <string_view>

#include "platform/configfile/ConfigCipher.h"
#include "platform/core_guard.h"
#include "platform/win32/Files.h"

namespace {

// Numbers read as atoi reads them, but without its undefined overflow: the
// value keeps its low 32 bits, so a port of 65536 + 80 still has 80 below.
int ParseInteger(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  return static_cast<int>(static_cast<unsigned long long>(value));
}

long ReadStringFrom(const CProfile& profile, const std::string& section, const std::string& key,
                    std::string defaultValue, std::string& value) {
  if (!profile.GetValue(section, key, value)) value = std::move(defaultValue);
  return static_cast<long>(value.size());
}

int ReadIntegerFrom(const CProfile& profile, const std::string& section, const std::string& key, int defaultValue) {
  std::string text;
  return profile.GetValue(section, key, text) ? ParseInteger(text) : defaultValue;
}

}  // namespace

CConfigFile::CConfigFile(std::string path) {
  std::string bytes;
  if (ReadWholeFile(path, bytes)) profile_ = CProfile::ParseOwned(std::move(bytes));
}

CConfigFile::~CConfigFile() = default;

CConfigFile CConfigFile::OfBytes(std::string bytes) {
  CConfigFile file;
  file.profile_ = CProfile::ParseOwned(std::move(bytes));
  return file;
}

long CConfigFile::ReadString(std::string section, std::string key, std::string defaultValue, std::string& value) {
  return ReadStringFrom(profile_, section, key, std::move(defaultValue), value);
}

int CConfigFile::ReadInteger(std::string section, std::string key, int defaultValue) {
  return ReadIntegerFrom(profile_, section, key, defaultValue);
}

long CConfigFile::ReadSection(std::string section, std::vector<std::string>& lines) {
  auto entries = profile_.GetSectionLines(section);
  if (!entries) return 0;
  const auto count = static_cast<long>(entries->size());
  if (lines.empty()) {
    lines = std::move(*entries);
  } else {
    lines.insert(lines.end(), std::make_move_iterator(entries->begin()), std::make_move_iterator(entries->end()));
  }
  return count;
}

long CConfigFile::ReadSections(std::vector<std::string>& names) {
  auto all = profile_.SectionNames();
  const auto count = static_cast<long>(all.size());
  names.insert(names.end(), std::make_move_iterator(all.begin()), std::make_move_iterator(all.end()));
  return count;
}

CCryptConfigFile::CCryptConfigFile(std::string path, std::string secondText) {
  Initialize(std::move(path), std::move(secondText));
}

CCryptConfigFile::~CCryptConfigFile() = default;

long CCryptConfigFile::Initialize(std::string path, std::string secondText) {
  path_ = std::move(path);
  secondText_ = std::move(secondText);
  profile_ = CProfile();
  corrupt_ = false;
  std::string sealed;
  if (!ReadWholeFile(path_, sealed)) {
    // A file that is there but cannot be read (an I/O error) is kept aside
    // like a damaged one before anything replaces it.
    corrupt_ = PathFileExistsA(path_.c_str()) && !PathIsDirectoryA(path_.c_str());
    return 0;
  }
  if (auto plain = configcipher::Decipher(sealed, secondText_)) {
    profile_ = CProfile::ParseOwned(std::move(*plain));
    return 1;
  }
  corrupt_ = true;
  return 0;
}

long CCryptConfigFile::ReadString(std::string section, std::string key, std::string defaultValue, std::string& value) {
  return ReadStringFrom(profile_, section, key, std::move(defaultValue), value);
}

int CCryptConfigFile::ReadInteger(std::string section, std::string key, int defaultValue) {
  return ReadIntegerFrom(profile_, section, key, defaultValue);
}

long CCryptConfigFile::WriteString(std::string section, std::string key, std::string value) {
  // Change this one key in the file as it is now, not in the copy read when
  // this object was bound: another program (the running client, a release
  // that ships this file) may have written other keys since.
  CCryptConfigFile current(path_, secondText_);
  if (!current.profile_.SetValue(section, key, value)) return 0;
  const bool stored = current.Store();
  if (!current.keptAside_.empty()) keptAside_ = current.keptAside_;
  if (!stored) return 0;
  profile_ = std::move(current.profile_);
  corrupt_ = false;
  return 1;
}

long CCryptConfigFile::WriteInteger(std::string section, std::string key, int value) {
  return WriteString(std::move(section), std::move(key), std::to_string(value));
}

bool CCryptConfigFile::ReplaceContent(const CProfile& profile) {
  profile_ = profile;
  return Store();
}

bool CCryptConfigFile::Store() {
  if (corrupt_) {
    // Keep the unreadable file: it may be the only copy of settings a newer or
    // damaged program wrote. Never replace an earlier kept copy either.
    std::string aside = path_ + ".corrupt";
    for (int n = 1; crt::rename(path_.c_str(), aside.c_str()) != 0; ++n) {
      if (!PathFileExistsA(path_.c_str())) break;  // gone meanwhile: nothing to keep
      if (n == 100) return false;
      aside = path_ + ".corrupt." + std::to_string(n);
    }
    corrupt_ = false;
    keptAside_ = aside;
  }
  const std::string sealed = configcipher::Encipher(profile_.Serialize(), secondText_);
  if (sealed.empty()) return false;
  return WriteFileAtomically(path_, sealed);
}
