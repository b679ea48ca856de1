// Manifest reading and comparison: any manifest is read without harm, and no
// entry that the comparison accepts names a file outside the installation
// (the updater would fetch it there, then copy over it or delete it). A
// signed release header reads only in its one written form.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/Check.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/crypt/MD5.h"
#include "platform/win32/Files.h"
#include "update/ReleaseTrust.h"
#include "update/UpdateManifest.h"

namespace fs = std::filesystem;

namespace {

// An installation with a few files, made once per process in memory-backed
// storage when there is some. The name is never freed: the handler that
// removes the folder at exit runs after static objects are gone.
const std::string& Root() {
  static const std::string* root = [] {
    auto* made = new std::string((fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/zolt-fuzz-XXXXXX"));
    if (::mkdtemp(made->data()) == nullptr) std::abort();
    fs::create_directories(*made + "/install/sub");
    std::ofstream(*made + "/install/a.dat") << "a";
    std::ofstream(*made + "/install/sub/b.dat") << "b";
    std::ofstream(*made + "/outside.dat") << "o";
    std::atexit([] { fs::remove_all(*root); });
    return made;
  }();
  return *root;
}

void CheckInside(const std::vector<UpdateFileInfo>& files, const std::string& install) {
  for (const UpdateFileInfo& file : files) {
    FUZZ_CHECK(IsSafeRelativeName(file.fileName));
    const std::string path = fs::path(NativePath(install + file.fileName)).lexically_normal().string();
    FUZZ_CHECK(path.compare(0, install.size(), install) == 0 && path.size() > install.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string install = Root() + "/install/";
  const std::string manifest = Root() + "/UpdateConfig.ini";
  {
    std::ofstream out(manifest, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  // The program update.
  std::vector<UpdateFileInfo> files;
  const int result = CompareUpdateConfig(UpdateCheckInfo(install, manifest, "1.0", "GD"), files);
  FUZZ_CHECK(result == -1 || result == 0 || result == 1);
  if (result != 0) FUZZ_CHECK(files.empty());
  CheckInside(files, install);

  // A component update compares every section whose name is safe.
  files.clear();
  CConfigFile config(manifest);
  CMD5 md5;
  std::vector<std::string> sections;
  config.ReadSections(sections);
  for (const std::string& section : sections) CompareManifestEntry(config, md5, install, section, files);
  CheckInside(files, install);

  // A release header that reads is the one its fields write again, byte for
  // byte: no two texts carry the same type and serial.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SReleaseHeader header;
  if (ParseReleaseHeader(text, header)) {
    const std::string line = FormatReleaseHeader(header);
    FUZZ_CHECK(text.substr(0, line.size() - 1) == std::string_view(line).substr(0, line.size() - 1));
  }
  return 0;
}
