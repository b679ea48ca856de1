#include "app/CommandLine.h"

#include <cstdlib>

namespace {

constexpr std::string_view kSilentSwitch = "-silent";
constexpr std::string_view kCheckOption = "--check";
// The "--" options of the updater; every other argument beginning with "--"
// is a mistyped one.
constexpr std::string_view kLongOptions[] = {"--help", "--version", kCheckOption, "--rollback", "--status"};
constexpr std::size_t kMaxTypeDigits = 10;
constexpr std::size_t kMaxDirectoryName = 260;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// The switch is compared over the argument's own length, so every leading part
// of "-silent" counts (even "" and "-"), as the program has always accepted.
bool IsSilentSwitch(std::string_view argument) {
  return argument.size() <= kSilentSwitch.size() && EqualNoCase(argument, kSilentSwitch.substr(0, argument.size()));
}

// atoi over at most the first ten characters, without atoi's undefined
// overflow: the value wraps to 32 bits.
int ParseType(std::string_view text) {
  const std::string digits(text.substr(0, kMaxTypeDigits));
  const long long value = std::strtoll(digits.c_str(), nullptr, 10);
  return static_cast<int>(static_cast<unsigned long long>(value));
}

bool IsLongOption(std::string_view argument) { return argument.starts_with("--"); }

// "-t:" or "-d:" (any case) with a value after it.
bool IsValuePrefix(std::string_view argument, std::string_view prefix) {
  return argument.size() > prefix.size() && EqualNoCase(argument.substr(0, prefix.size()), prefix);
}

}  // namespace

StartupOptions ParseCommandLine(const std::vector<std::string>& arguments) {
  bool silent = false, check = false;
  StartupOptions options;
  for (const std::string& argument : arguments) {
    if (argument == "--rollback") {
      options.rollback = true;
      continue;
    }
    if (argument == "--status") {
      options.status = true;
      continue;
    }
    if (argument == kCheckOption) {
      check = true;
      continue;
    }
    if (IsSilentSwitch(argument)) {
      silent = true;
      continue;
    }
    if (argument.size() <= 3) continue;
    const std::string_view prefix = std::string_view(argument).substr(0, 3);
    const std::string_view value = std::string_view(argument).substr(3);
    if (EqualNoCase(prefix, "-t:")) {
      options.updateType = ParseType(value);
    } else if (EqualNoCase(prefix, "-d:")) {
      options.moduleName = std::string(value.substr(0, kMaxDirectoryName));
    }
  }
  if (check) {
    options.mode = RunMode::Check;
    if (options.updateType == 1) options.moduleName = "Program";
  } else if (!silent) {
    options.mode = RunMode::Interactive;
  } else if (options.updateType == 1) {
    options.mode = RunMode::SilentProgram;
    options.moduleName = "Program";
  } else {
    options.mode = RunMode::SilentComponent;
  }
  return options;
}

CommandLineReview ReviewCommandLine(const std::vector<std::string>& arguments) {
  CommandLineReview review;
  std::string directory;
  for (const std::string& argument : arguments) {
    if (IsSilentSwitch(argument) || IsLongOption(argument) || IsValuePrefix(argument, "-t:")) continue;
    if (IsValuePrefix(argument, "-d:"))
      directory = argument;
    else
      review.ignored.push_back(argument);
  }
  if (!directory.empty() && ParseCommandLine(arguments).updateType == 1)
    review.refusal = "\"" + directory +
                     "\" names a component folder, but the update type is 1, the client program, which has no "
                     "folder; give the component's type with -t:N (N other than 1), or leave out -d:";
  return review;
}

const std::string* FindUnknownOption(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (!IsLongOption(argument)) continue;
    bool known = false;
    for (std::string_view option : kLongOptions) known = known || argument == option;
    if (!known) return &argument;
  }
  return nullptr;
}

bool UsesModuleName(const StartupOptions& options) {
  return options.mode == RunMode::SilentComponent ||
         ((options.mode == RunMode::Interactive || options.mode == RunMode::Check) && options.updateType != 1);
}
