#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "update/UpdateManifest.h"

namespace {

using Args = std::vector<std::string>;

struct Case {
  const char* name;
  Args args;
  RunMode mode;
  int updateType;
  std::string moduleName;
  Args ignored = {};     // named on stderr, without effect
  bool refused = false;  // a -d: name without a component type
};

const std::string k260(260, 'n');

const Case kCases[] = {
    {"no arguments", {}, RunMode::Interactive, 1, ""},
    {"dialog for a component", {"-t:3", "-d:Plugin"}, RunMode::Interactive, 3, "Plugin"},
    {"silent program discards -d:, refused", {"-silent", "-d:Plugin"}, RunMode::SilentProgram, 1, "Program", {}, true},
    {"-s is the switch", {"-d:Plugin", "-t:2", "-s"}, RunMode::SilentComponent, 2, "Plugin"},
    {"non-numeric type", {"-silent", "-t:x"}, RunMode::SilentComponent, 0, ""},
    {"bare prefixes ignored", {"-silent", "-t:", "-d:"}, RunMode::SilentProgram, 1, "Program", {"-t:", "-d:"}},
    {"upper-case prefix, leading zeros", {"-T:07", "-D:Foo"}, RunMode::Interactive, 7, "Foo"},
    {"switch in any case", {"-SILENT", "-t:2"}, RunMode::SilentComponent, 2, ""},
    {"leading part -SIL", {"-SIL", "-t:4"}, RunMode::SilentComponent, 4, ""},
    {"lone hyphen", {"-", "-t:2"}, RunMode::SilentComponent, 2, ""},
    {"empty argument", {"", "-t:2"}, RunMode::SilentComponent, 2, ""},
    {"longer than the switch", {"-silentx", "-t:2"}, RunMode::Interactive, 2, "", {"-silentx"}},
    {"other text ignored", {"/silent", "--silent", "-x:1", "-t:2"}, RunMode::Interactive, 2, "", {"/silent", "-x:1"}},
    {"later values win", {"-t:2", "-d:A", "-t:5", "-d:B", "-silent"}, RunMode::SilentComponent, 5, "B"},
    {"switch stays set", {"-silent", "-t:3", "-silentx"}, RunMode::SilentComponent, 3, "", {"-silentx"}},
    {"atoi: blanks and sign", {"-t: -2", "-silent"}, RunMode::SilentComponent, -2, ""},
    {"atoi: stops at non-digit", {"-t:12ab", "-silent"}, RunMode::SilentComponent, 12, ""},
    {"atoi: ten characters only", {"-t:00000000015"}, RunMode::Interactive, 1, ""},
    {"type 1 spelt 0001", {"-silent", "-t:0001", "-d:X"}, RunMode::SilentProgram, 1, "Program", {}, true},
    {"name cut at 260", {"-t:2", "-d:" + k260 + "tail"}, RunMode::Interactive, 2, k260},
    {"name keeps blanks", {"-d:My Plugin", "-t:2"}, RunMode::Interactive, 2, "My Plugin"},
    {"--check", {"--check"}, RunMode::Check, 1, "Program"},
    {"--check of a component", {"-t:5", "--check", "-d:P", "-silent"}, RunMode::Check, 5, "P"},
    {"-d with type 1 in dialog, refused", {"-d:X"}, RunMode::Interactive, 1, "X", {}, true},
    // Typos: each keeps its old meaning (none), and is named.
    {"-silent -check", {"-silent", "-check"}, RunMode::SilentProgram, 1, "Program", {"-check"}},
    {"-silnet", {"-silnet"}, RunMode::Interactive, 1, "", {"-silnet"}},
    {"-type:3 leaves -d: without a type", {"-silent", "-type:3", "-d:Plugins"}, RunMode::SilentProgram, 1,
     "Program", {"-type:3"}, true},
    {"a later -t:1 takes the type away", {"-silent", "-t:3", "-d:P", "-t:1"}, RunMode::SilentProgram, 1, "Program",
     {}, true},
};

TEST(CommandLine, Table) {
  for (const auto& c : kCases) {
    const StartupOptions options = ParseCommandLine(c.args);
    EXPECT_EQ(options.mode, c.mode) << c.name;
    EXPECT_EQ(options.updateType, c.updateType) << c.name;
    EXPECT_EQ(options.moduleName, c.moduleName) << c.name;
    const CommandLineReview review = ReviewCommandLine(c.args);
    EXPECT_EQ(review.ignored, c.ignored) << c.name;
    EXPECT_EQ(!review.refusal.empty(), c.refused) << c.name << ": " << review.refusal;
  }
}

// The one rule for a -d: name, which the start-up and the silent component run
// both apply.
TEST(CommandLine, DirectoryNameMustBeOnePlainName) {
  const struct {
    std::string name;
    bool plain;
  } names[] = {
      {"", true},     {"Plugin", true}, {"My Plugin", true}, {"a.b", true},        {"...", true},   {".", false},
      {"..", false},  {"a\\b", false},  {"a/b", false},      {"..\\..\\x", false}, {"../x", false}, {"/etc", false},
      {"\\x", false}, {"C:", false},    {"C:x", false},      {"Plugin\\", false},  {"a:b", false},
      {std::string(255, 'p'), true},    {std::string(256, 'p'), false},
  };
  for (const auto& n : names) EXPECT_EQ(ComponentNameProblem(n.name).empty(), n.plain) << n.name;
  EXPECT_NE(ComponentNameProblem(std::string(256, 'p')).find("is too long (256 bytes"), std::string::npos);
}

TEST(CommandLine, UnknownDoubleDashOptions) {
  const struct {
    Args args;
    const char* unknown;  // null: none
  } cases[] = {
      {{"--helpp"}, "--helpp"},           {{"-silent", "--silent"}, "--silent"},        {{"--help", "--"}, "--"},
      {{"--help", "--version", "--check"}, nullptr}, {{"-s", "-", "", "-t:2", "-x:--y"}, nullptr},
      {{"--rollback"}, nullptr},          {{"--status", "--statuss"}, "--statuss"},      {{"--roll-back"}, "--roll-back"},
  };
  for (const auto& c : cases) {
    const std::string* found = FindUnknownOption(c.args);
    EXPECT_EQ(found ? found->c_str() : "none", std::string(c.unknown ? c.unknown : "none")) << c.args[0];
  }
}

TEST(CommandLine, HandControlsAreNoMode) {
  EXPECT_TRUE(ParseCommandLine({"--rollback"}).rollback);
  EXPECT_TRUE(ParseCommandLine({"-silent", "--status"}).status);
  EXPECT_FALSE(ParseCommandLine({"-silent"}).rollback);
}

TEST(CommandLine, WhichModesUseTheName) {
  EXPECT_TRUE(UsesModuleName(ParseCommandLine({"-silent", "-t:2", "-d:x"})));
  EXPECT_TRUE(UsesModuleName(ParseCommandLine({"-t:2", "-d:x"})));
  EXPECT_FALSE(UsesModuleName(ParseCommandLine({"-d:x"})));
  EXPECT_FALSE(UsesModuleName(ParseCommandLine({"-silent", "-d:..\\.."})));
}

}  // namespace
