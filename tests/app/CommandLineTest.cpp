#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace {

using Args = std::vector<std::string>;

struct Case {
  const char* name;
  Args args;
  RunMode mode;
  int updateType;
  std::string moduleName;
};

const std::string k260(260, 'n');

const Case kCases[] = {
    {"no arguments", {}, RunMode::Interactive, 1, ""},
    {"dialog for a component", {"-t:3", "-d:Plugin"}, RunMode::Interactive, 3, "Plugin"},
    {"silent program discards -d:", {"-silent", "-d:Plugin"}, RunMode::SilentProgram, 1, "Program"},
    {"-s is the switch", {"-d:Plugin", "-t:2", "-s"}, RunMode::SilentComponent, 2, "Plugin"},
    {"non-numeric type", {"-silent", "-t:x"}, RunMode::SilentComponent, 0, ""},
    {"bare prefixes ignored", {"-silent", "-t:", "-d:"}, RunMode::SilentProgram, 1, "Program"},
    {"upper-case prefix, leading zeros", {"-T:07", "-D:Foo"}, RunMode::Interactive, 7, "Foo"},
    {"switch in any case", {"-SILENT", "-t:2"}, RunMode::SilentComponent, 2, ""},
    {"leading part -SIL", {"-SIL", "-t:4"}, RunMode::SilentComponent, 4, ""},
    {"lone hyphen", {"-", "-t:2"}, RunMode::SilentComponent, 2, ""},
    {"empty argument", {"", "-t:2"}, RunMode::SilentComponent, 2, ""},
    {"longer than the switch", {"-silentx", "-t:2"}, RunMode::Interactive, 2, ""},
    {"other text ignored", {"/silent", "--silent", "-x:1", "-t:2"}, RunMode::Interactive, 2, ""},
    {"later values win", {"-t:2", "-d:A", "-t:5", "-d:B", "-silent"}, RunMode::SilentComponent, 5, "B"},
    {"switch stays set", {"-silent", "-t:3", "-silentx"}, RunMode::SilentComponent, 3, ""},
    {"atoi: blanks and sign", {"-t: -2", "-silent"}, RunMode::SilentComponent, -2, ""},
    {"atoi: stops at non-digit", {"-t:12ab", "-silent"}, RunMode::SilentComponent, 12, ""},
    {"atoi: ten characters only", {"-t:00000000015"}, RunMode::Interactive, 1, ""},
    {"type 1 spelt 0001", {"-silent", "-t:0001", "-d:X"}, RunMode::SilentProgram, 1, "Program"},
    {"name cut at 260", {"-d:" + k260 + "tail"}, RunMode::Interactive, 1, k260},
    {"name keeps blanks", {"-d:My Plugin", "-t:2"}, RunMode::Interactive, 2, "My Plugin"},
    {"-d with type 1 in dialog", {"-d:X"}, RunMode::Interactive, 1, "X"},
};

TEST(CommandLine, Table) {
  for (const auto& c : kCases) {
    const StartupOptions options = ParseCommandLine(c.args);
    EXPECT_EQ(options.mode, c.mode) << c.name;
    EXPECT_EQ(options.updateType, c.updateType) << c.name;
    EXPECT_EQ(options.moduleName, c.moduleName) << c.name;
  }
}

TEST(CommandLine, DirectoryNameMustBeOnePlainName) {
  const struct {
    const char* name;
    bool plain;
  } names[] = {
      {"", true},     {"Plugin", true}, {"My Plugin", true}, {"a.b", true},        {"...", true},   {".", false},
      {"..", false},  {"a\\b", false},  {"a/b", false},      {"..\\..\\x", false}, {"../x", false}, {"/etc", false},
      {"\\x", false}, {"C:", false},    {"C:x", false},      {"Plugin\\", false},
  };
  for (const auto& n : names) EXPECT_EQ(IsPlainDirectoryName(n.name), n.plain) << n.name;
}

TEST(CommandLine, UnknownDoubleDashOptions) {
  const struct {
    Args args;
    const char* unknown;  // null: none
  } cases[] = {
      {{"--helpp"}, "--helpp"},           {{"-silent", "--silent"}, "--silent"},        {{"--help", "--"}, "--"},
      {{"--help", "--version"}, nullptr}, {{"-s", "-", "", "-t:2", "-x:--y"}, nullptr},
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
