#include "update/ServerConfig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/configfile/ConfigFile.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "tests/support/TempDir.h"

namespace {

using Keys = std::map<std::string, std::string>;
using Servers = std::vector<std::pair<std::string, unsigned>>;

class ServerConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { CDirectoryEx::OverrideApplicationPath(dir_.path()); }
  void TearDown() override { CDirectoryEx::OverrideApplicationPath(""); }

  // Writes the keys into the enciphered file as the installer would.
  void WriteDat(const std::string& file, const std::string& section, const Keys& keys) {
    CCryptConfigFile config(dir_ / file, "");
    for (const auto& [key, value] : keys) ASSERT_EQ(config.WriteString(section, key, value), 1);
  }

  struct Result {
    std::string version, region;
    Servers servers;
    bool useProxy = false;
  };
  Result Read() {
    Result result;
    std::vector<S_UpdateSerivceAddr> servers;
    ReadServerConfig(result.version, result.region, servers, result.useProxy);
    for (const auto& server : servers) result.servers.emplace_back(server.ip, server.port);
    return result;
  }

  TempDir dir_;
};

TEST_F(ServerConfigTest, NoFilesGiveOneEmptyServerAndTheProxy) {
  diagnostics::OpenRunLog(dir_.path());
  const Result result = Read();
  diagnostics::CloseRunLog();
  const std::string log = ReadTextFile(dir_ / diagnostics::kLogName);
  EXPECT_NE(log.find("servers none configured;"), std::string::npos) << log;
  EXPECT_EQ(log.find("?:80"), std::string::npos) << log;
  WriteDat("Config.dat", "Update", {{"ServerIP", "192.0.2.1"}, {"ServerPort", "83731"}, {"ServerIP2", "192.0.2.2"}});
  diagnostics::OpenRunLog(dir_.path());
  Read();
  diagnostics::CloseRunLog();
  EXPECT_NE(ReadTextFile(dir_ / diagnostics::kLogName).find("servers 192.0.2.1 (skipped), 192.0.2.2 = 192.0.2.2:80;"),
            std::string::npos);
  EXPECT_EQ(result.version, "");
  EXPECT_EQ(result.region, "");
  EXPECT_EQ(result.servers, (Servers{{"", 0}}));
  EXPECT_TRUE(result.useProxy);
}

TEST_F(ServerConfigTest, ServerListFromConfigDat) {
  const struct {
    const char* what;
    Keys keys;
    Servers expected;
  } cases[] = {
      {"dotted addresses, first first",
       {{"ServerIP", "192.0.2.1"}, {"ServerPort", "8080"}, {"ServerIP2", "198.51.100.7"}, {"ServerPort2", "81"}},
       {{"192.0.2.1", 8080}, {"198.51.100.7", 81}}},
      {"short dotted form is kept as written", {{"ServerIP", "127.1"}, {"ServerPort", "80"}}, {{"127.1", 80}}},
      {"host name resolves", {{"ServerIP", "localhost"}, {"ServerPort", "8000"}}, {{"127.0.0.1", 8000}}},
      {"a port beyond 65535, or negative, skips its server",
       {{"ServerIP", "192.0.2.1"}, {"ServerPort", "65616"}, {"ServerIP2", "192.0.2.2"}, {"ServerPort2", "-1"}},
       {{"", 0}}},
      {"a port that is not a number skips its server",
       {{"ServerIP", "192.0.2.1"}, {"ServerPort", "http"}, {"ServerIP2", "192.0.2.2"}, {"ServerPort2", "65535"}},
       {{"", 0}, {"192.0.2.2", 65535}}},
      {"empty second server",
       {{"ServerIP", "192.0.2.1"}, {"ServerIP2", ""}, {"ServerPort2", "90"}},
       {{"192.0.2.1", 0}}},
      {"unresolvable first host stays empty, not the second's address",
       {{"ServerIP", "no-such-host.invalid"}, {"ServerPort", "80"}, {"ServerIP2", "192.0.2.2"}, {"ServerPort2", "81"}},
       {{"", 80}, {"192.0.2.2", 81}}},
      {"unresolvable second host is left out, not a copy of the first",
       {{"ServerIP", "192.0.2.1"}, {"ServerPort", "80"}, {"ServerIP2", "no-such-host.invalid"}, {"ServerPort2", "81"}},
       {{"192.0.2.1", 80}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove((dir_ / "Config.dat").c_str());
    Keys keys = c.keys;
    keys["Version"] = "2.1.9";
    keys["Region"] = "0571";
    WriteDat("Config.dat", "Update", keys);
    const Result result = Read();
    EXPECT_EQ(result.version, "2.1.9");
    EXPECT_EQ(result.region, "0571");
    EXPECT_EQ(result.servers, c.expected);
  }
}

// A path as the system writes it: on Windows with "\" throughout.
std::string SystemPath(std::string path) {
#ifdef _WIN32
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

TEST_F(ServerConfigTest, EveryServerKeepsItsConfiguredTextAndTheTransport) {
  const struct {
    const char* what;
    Keys keys;
    std::vector<std::string> hosts;
    bool https;
    std::string caFile;
  } cases[] = {
      {"plain HTTP by default",
       {{"ServerIP", "localhost"}, {"ServerIP2", "192.0.2.2"}},
       {"localhost", "192.0.2.2"},
       false,
       ""},
      {"HTTPS with the system's store", {{"ServerIP", "localhost"}, {"UseHttps", "1"}}, {"localhost"}, true, ""},
      {"any non-zero UseHttps", {{"ServerIP", "localhost"}, {"UseHttps", "-3"}}, {"localhost"}, true, ""},
      {"relative CA file lies in the application folder",
       {{"ServerIP", "localhost"}, {"UseHttps", "1"}, {"CAFile", "certs\\ca.pem"}},
       {"localhost"},
       true,
       SystemPath(NativePath(dir_ / "certs/ca.pem"))},
      {"absolute CA file as written",
       {{"ServerIP", "localhost"}, {"CAFile", "/etc/zolt/ca.pem"}},
       {"localhost"},
       false,
       "/etc/zolt/ca.pem"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove((dir_ / "Config.dat").c_str());
    WriteDat("Config.dat", "Update", c.keys);
    std::string version, region;
    std::vector<S_UpdateSerivceAddr> servers;
    bool useProxy = false;
    ReadServerConfig(version, region, servers, useProxy);
    ASSERT_EQ(servers.size(), c.hosts.size());
    for (std::size_t i = 0; i < servers.size(); ++i) {
      EXPECT_EQ(servers[i].host, c.hosts[i]);
      EXPECT_EQ(servers[i].useHttps, c.https);
      EXPECT_EQ(servers[i].caFile, c.caFile);
    }
    EXPECT_EQ(servers[0].ip, "127.0.0.1") << "the address is resolved as before";
  }
}

TEST_F(ServerConfigTest, UseProxyFromUserConfigDat) {
  const struct {
    const char* value;  // nullptr: key missing from an existing file
    bool expected;
  } cases[] = {{"0", false}, {"1", true}, {"7", true}, {nullptr, true}};
  for (const auto& c : cases) {
    std::remove((dir_ / "UserConfig.dat").c_str());
    if (c.value != nullptr)
      WriteDat("UserConfig.dat", "Server", {{"UseProxy", c.value}});
    else
      WriteDat("UserConfig.dat", "Server", {{"Other", "0"}});
    EXPECT_EQ(Read().useProxy, c.expected) << (c.value ? c.value : "missing");
  }
}

TEST(ResolveHostAddress, Cases) {
  const struct {
    const char* host;
    bool resolved;
    const char* address;  // out text afterwards, starting from "before"
  } cases[] = {
      {"", false, ""},
      {"10.1.2.3", true, "10.1.2.3"},
      {"localhost", true, "127.0.0.1"},
      {"no-such-host.invalid", false, "before"},
  };
  for (const auto& c : cases) {
    std::string address = "before";
    EXPECT_EQ(ResolveHostAddress(c.host, address), c.resolved) << c.host;
    EXPECT_EQ(address, c.address) << c.host;
  }
}

}  // namespace
