#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/configfile/ConfigFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

ChildResult Tool(std::vector<std::string> args) {
  const char* exe = std::getenv("ZOLT_CONFIG_EXE");
  args.insert(args.begin(), exe != nullptr ? exe : "zolt-config-not-set");
  return RunChild(args);
}

TEST(ZoltConfig, SetGetDumpImportRoundTrip) {
  TempDir dir;
  const std::string file = dir / "Config.dat";
  EXPECT_EQ(Tool({"set", file, "Update", "Version", "2.1.0"}).exitCode, 0);
  EXPECT_EQ(Tool({"set", file, "Server", "WebSiteURL", "http://h/?a=b"}).exitCode, 0);
  ChildResult got = Tool({"get", file, "update", "VERSION"});
  EXPECT_EQ(got.exitCode, 0);
  EXPECT_EQ(got.out, "2.1.0\n");
  EXPECT_EQ(Tool({"get", file, "Server", "WebSiteURL"}).out, "http://h/?a=b\n");

  // What the tool writes, the updater reads.
  CCryptConfigFile config(file, "");
  std::string value;
  config.ReadString("Update", "Version", "", value);
  EXPECT_EQ(value, "2.1.0");

  const ChildResult dump = Tool({"dump", file});
  EXPECT_EQ(dump.exitCode, 0);
  EXPECT_EQ(dump.out, "[Update]\nVersion=2.1.0\n[Server]\nWebSiteURL=http://h/?a=b\n");

  WriteTextFile(dir / "plain.ini", "\xEF\xBB\xBF; settings\r\n[Update]\r\nServerIP = 127.0.0.1\r\nServerPort=8080\r\n");
  EXPECT_EQ(Tool({"import", file, dir / "plain.ini"}).exitCode, 0);
  EXPECT_EQ(Tool({"get", file, "Update", "ServerIP"}).out, "127.0.0.1\n");
  EXPECT_EQ(Tool({"get", file, "Update", "Version"}).exitCode, 1);  // import replaces the whole content
  EXPECT_EQ(Tool({"dump", file}).out, "; settings\n[Update]\nServerIP = 127.0.0.1\nServerPort=8080\n");
}

TEST(ZoltConfig, ExitCodes) {
  TempDir dir;
  const std::string file = dir / "Config.dat";
  const struct {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
  } cases[] = {
      {"no arguments", {}, 2},
      {"unknown command", {"list", file}, 2},
      {"get: too few", {"get", file, "A"}, 2},
      {"set: too many", {"set", file, "A", "k", "v", "x"}, 2},
      {"get: missing file", {"get", file, "A", "k"}, 1},
      {"dump: missing file", {"dump", file}, 1},
      {"import: missing plain file", {"import", file, dir / "none.ini"}, 1},
      {"set: line break in value", {"set", file, "A", "k", "a\nb"}, 2},
      {"set: = in key", {"set", file, "A", "k=j", "v"}, 2},
      {"set: ] in section", {"set", file, "A]", "k", "v"}, 2},
      {"set: blank at end of value", {"set", file, "A", "k", "v "}, 2},
      {"set: empty key", {"set", file, "A", "", "v"}, 2},
      {"set: a port beyond 65535", {"set", file, "Update", "ServerPort", "83731"}, 2},
      {"set: a port that is a word", {"set", file, "update", "serverport2", "http"}, 2},
      {"unknown option", {"--frobnicate", "get", file, "A", "k"}, 2},
      {"option after the command is an operand", {"get", "--help"}, 2},
  };
  for (const auto& c : cases) {
    const ChildResult result = Tool(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.name;
    EXPECT_NE(result.err, "") << c.name;
    EXPECT_FALSE(std::ifstream(file).good()) << c.name << ": nothing may be written";
  }
  ASSERT_EQ(Tool({"set", file, "A", "k", "v"}).exitCode, 0);
  const std::string before = ReadTextFile(file);
  EXPECT_EQ(Tool({"set", file, "A", "k", "two\nlines"}).exitCode, 2);
  EXPECT_EQ(ReadTextFile(file), before);
  EXPECT_EQ(Tool({"get", file, "A", "missing"}).exitCode, 1);
  EXPECT_EQ(Tool({"set", file, "A", "k", ""}).exitCode, 0);
  EXPECT_EQ(Tool({"set", file, "Update", "ServerPort", "65535"}).exitCode, 0);
  EXPECT_EQ(Tool({"set", file, "A", "ServerPort", "http"}).exitCode, 0) << "only [Update] holds ports";
  const ChildResult empty = Tool({"get", file, "A", "k"});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_EQ(empty.out, "\n");

  // A value that looks like an option stays a value.
  EXPECT_EQ(Tool({"set", file, "A", "k", "--version"}).exitCode, 0);
  EXPECT_EQ(Tool({"get", file, "A", "k"}).out, "--version\n");

  for (const std::string option : {"--help", "-h", "help", "--version"}) {
    const ChildResult shown = Tool({option});
    EXPECT_EQ(shown.exitCode, 0) << option;
    EXPECT_EQ(shown.err, "") << option;
    EXPECT_NE(shown.out.find(option == "--version" ? "zolt-config 1." : "zolt-config import"), std::string::npos)
        << option;
  }
}

TEST(ZoltConfig, CorruptFile) {
  TempDir dir;
  const std::string file = dir / "Config.dat";
  WriteTextFile(file, "[A]\nk=plain text is not enciphered\n");
  for (const auto& args : {std::vector<std::string>{"get", file, "A", "k"}, {"dump", file}}) {
    const ChildResult result = Tool(args);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("cannot be deciphered"), std::string::npos);
    EXPECT_EQ(result.out, "");
  }
  // A write keeps the damaged file aside first and says so.
  const ChildResult set = Tool({"set", file, "A", "k", "v"});
  EXPECT_EQ(set.exitCode, 0);
  EXPECT_NE(set.err.find(".corrupt"), std::string::npos);
  EXPECT_EQ(ReadTextFile(file + ".corrupt"), "[A]\nk=plain text is not enciphered\n");
  EXPECT_EQ(Tool({"get", file, "A", "k"}).out, "v\n");

  // With a kept copy there already, the warning names the new one.
  WriteTextFile(file, "damaged again");
  const ChildResult again = Tool({"set", file, "A", "k", "w"});
  EXPECT_NE(again.err.find("kept as " + file + ".corrupt.1 "), std::string::npos) << again.err;
  EXPECT_EQ(ReadTextFile(file + ".corrupt.1"), "damaged again");
  EXPECT_EQ(ReadTextFile(file + ".corrupt"), "[A]\nk=plain text is not enciphered\n");

  // A FIFO where the file should be is no file: read at once as unreadable
  // instead of waiting for a writer that never comes.
  const std::string fifo = dir / "User.dat";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const auto& args : {std::vector<std::string>{"get", fifo, "A", "k"}, {"dump", fifo}}) {
    EXPECT_EQ(Tool(args).exitCode, 1) << args[0];
  }
}

}  // namespace
