// zolt-config: reads and writes the enciphered ".dat" profile files.
//
// Exit codes: 0 done; 1 key or file missing, file unreadable or not written;
// 2 bad arguments or a value the file format cannot hold.
#include <getopt.h>

#include <strings.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Version.h"
#include "platform/configfile/ConfigFile.h"
#include "platform/configfile/Profile.h"
#include "platform/win32/Files.h"
#include "update/ServerConfig.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage: zolt-config get FILE SECTION KEY        print the value of KEY\n"
    "       zolt-config set FILE SECTION KEY VALUE  store VALUE (creates FILE, SECTION, KEY)\n"
    "       zolt-config dump FILE                   print the deciphered profile text\n"
    "       zolt-config import FILE PLAIN           encipher the plain profile file PLAIN into FILE\n"
    "       zolt-config --help | --version\n"
    "Exit status: 0 done, 1 file or key missing or not written, 2 bad command line or value.\n";

int UsageError(const std::string& reason) {
  std::fprintf(stderr, "zolt-config: %s\nTry 'zolt-config --help' for more information.\n", reason.c_str());
  return kUsage;
}

// Opens FILE for reading; reports a missing or undecipherable file.
bool OpenForReading(const std::string& path, CCryptConfigFile& file) {
  if (!PathFileExistsA(path.c_str())) {
    std::fprintf(stderr, "zolt-config: %s: no such file\n", path.c_str());
    return false;
  }
  if (file.IsCorrupt()) {
    std::fprintf(stderr, "zolt-config: %s: cannot be deciphered (damaged, or not a profile file of this program)\n",
                 path.c_str());
    return false;
  }
  return true;
}

// Names the copy the write actually kept, which is not ".corrupt" when an
// earlier kept copy already has that name.
void WarnIfKeptAside(const std::string& path, const CCryptConfigFile& file) {
  if (!file.KeptAsidePath().empty())
    std::fprintf(stderr, "zolt-config: %s could not be deciphered; it is kept as %s before being replaced\n",
                 path.c_str(), file.KeptAsidePath().c_str());
}

int Get(const std::string& path, const std::string& section, const std::string& key) {
  CCryptConfigFile file(path, "");
  if (!OpenForReading(path, file)) return kFailed;
  std::string value;
  if (!CProfile::Parse(file.PlainText()).GetValue(section, key, value)) {
    std::fprintf(stderr, "zolt-config: %s: no key \"%s\" in section \"%s\"\n", path.c_str(), key.c_str(),
                 section.c_str());
    return kFailed;
  }
  std::printf("%s\n", value.c_str());
  return kOk;
}

bool EqualNoCase(const std::string& a, const char* b) { return ::strcasecmp(a.c_str(), b) == 0; }

int Set(const std::string& path, const std::string& section, const std::string& key, const std::string& value) {
  if (!CProfile::CanHold(section, key, value)) {
    std::fprintf(stderr,
                 "zolt-config: cannot store this: section and key must be non-empty; no line breaks; no blanks at "
                 "either end of section, key or value; no \"]\" in the section; no \"=\" in the key; a key may not "
                 "start with \";\" or \"[\"\n");
    return kUsage;
  }
  // The updater skips a server whose port it cannot use; better to refuse
  // the value here, where the installer sees it.
  std::uint16_t port = 0;
  if (EqualNoCase(section, "Update") && (EqualNoCase(key, "ServerPort") || EqualNoCase(key, "ServerPort2")) &&
      !ParsePort(value, port)) {
    std::fprintf(stderr, "zolt-config: %s must be a port, a number from 0 to 65535, not \"%s\"\n", key.c_str(),
                 value.c_str());
    return kUsage;
  }
  CCryptConfigFile file(path, "");
  const long written = file.WriteString(section, key, value);
  WarnIfKeptAside(path, file);
  if (written == 0) {
    std::fprintf(stderr, "zolt-config: %s: cannot be written\n", path.c_str());
    return kFailed;
  }
  return kOk;
}

int Dump(const std::string& path) {
  CCryptConfigFile file(path, "");
  if (!OpenForReading(path, file)) return kFailed;
  const std::string text = file.PlainText();
  std::fwrite(text.data(), 1, text.size(), stdout);
  return kOk;
}

int Import(const std::string& path, const std::string& plainPath) {
  std::string plain;
  if (!ReadWholeFile(plainPath, plain)) {
    std::fprintf(stderr, "zolt-config: %s: cannot be read\n", plainPath.c_str());
    return kFailed;
  }
  CCryptConfigFile file(path, "");
  const bool written = file.ReplaceContent(CProfile::Parse(plain));
  WarnIfKeptAside(path, file);
  if (!written) {
    std::fprintf(stderr, "zolt-config: %s: cannot be written\n", path.c_str());
    return kFailed;
  }
  return kOk;
}

struct Command {
  const char* name;
  const char* operands;
  std::size_t count;
};

constexpr Command kCommands[] = {
    {"get", "FILE SECTION KEY", 3},
    {"set", "FILE SECTION KEY VALUE", 4},
    {"dump", "FILE", 1},
    {"import", "FILE PLAIN", 2},
};

int Run(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("no command given");
  const std::string& command = args[0];
  const Command* known = nullptr;
  for (const Command& candidate : kCommands)
    if (command == candidate.name) known = &candidate;
  if (known == nullptr) return UsageError("unknown command \"" + command + "\"");
  if (args.size() - 1 != known->count)
    return UsageError(command + " takes " + known->operands + ", got " + std::to_string(args.size() - 1) +
                      (args.size() == 2 ? " operand" : " operands"));
  if (command == "get") return Get(args[1], args[2], args[3]);
  if (command == "set") return Set(args[1], args[2], args[3], args[4]);
  if (command == "dump") return Dump(args[1]);
  return Import(args[1], args[2]);
}

}  // namespace

int main(int argc, char** argv) {
  enum : int { kHelp = 256, kVersion };
  static const option kOptions[] = {
      {"help", no_argument, nullptr, kHelp},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  // "+": options end at the command, so a value such as "-1" stays a value.
  for (;;) {
    const int option = ::getopt_long(argc, argv, "+h", kOptions, nullptr);
    if (option == -1) break;
    switch (option) {
      case 'h':
      case kHelp:
        std::fputs(kUsageText, stdout);
        return kOk;
      case kVersion:
        std::printf("zolt-config %s\n", ZOLT_VERSION);
        return kOk;
      default:
        return UsageError(std::string("unknown option ") + argv[optind - 1]);
    }
  }
  // "help" as a command has always shown the usage.
  if (optind < argc && std::string(argv[optind]) == "help") {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  return Run(std::vector<std::string>(argv + optind, argv + argc));
}
