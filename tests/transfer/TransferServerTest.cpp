// GetRemoteFile and DownloadFileList against real servers on 127.0.0.1.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <random>
#include <sstream>
#include <thread>

#include "platform/configfile/ConfigFile.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/transfer/ZOLTUpdateIntf.h"
#include "tests/transfer/ReportWindow.h"
#include "tests/transfer/TransferFixture.h"
#include "transfer/DownloadFileList.h"
#include "update/ServerConfig.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

TEST_F(TransferServers, DownloadFileListStoresNestedSpacedAndNonAsciiNamesUnderTheirFolders) {
  CZOLTUpdateIntf transfer({Local(nginx->port())}, false);
  const std::vector<std::string> names = {"UpdateConfig.ini", "sub\\dir one\\file with space.dll", "数据\\文件 ü.bin",
                                          "empty.txt"};
  const std::string stagingDir = staging.path() + "UPDATE\\Program\\";
  ASSERT_TRUE(DownloadFileList(stagingDir, 1, transfer, names));
  for (const auto& name : names) {
    std::string path = stagingDir + name;
    for (auto& c : path) c = c == '\\' ? '/' : c;
    EXPECT_TRUE(fs::is_regular_file(path)) << name;
    EXPECT_EQ(ReadTextFile(path), Source(name)) << name;
    EXPECT_FALSE(fs::exists(path + ".part")) << name;
  }
  const std::string log = nginx->AccessLog();
  EXPECT_NE(log.find("/1/sub/dir%20one/file%20with%20space.dll 200"), std::string::npos) << log;
  // One handle, one connection for the whole list.
  std::set<std::string> connections;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) connections.insert(line.substr(line.rfind(' ') + 1));
  EXPECT_EQ(connections.size(), 1u) << log;
  EXPECT_TRUE(DownloadFileList(stagingDir, 1, transfer, {}));
}

TEST_F(TransferServers, ListEndsAtTheFirstFailureKeepingEarlierFiles) {
  CZOLTUpdateIntf transfer({Local(nginx->port())}, false);
  EXPECT_FALSE(DownloadFileList(staging.path(), 1, transfer, {"a.bin", "missing.bin", "UpdateConfig.ini"}));
  EXPECT_EQ(ReadTextFile(staging / "a.bin"), Source("a.bin"));
  EXPECT_FALSE(fs::exists(staging / "UpdateConfig.ini"));
  EXPECT_EQ(nginx->AccessLog().find("UpdateConfig.ini"), std::string::npos);
}

// Each case: how the fault server answers for a.bin, whether nginx stands
// behind it as the second server, and whether the fetch succeeds.
struct FaultCase {
  const char* name;
  const char* rule;
  bool nginxSecond;
  bool succeeds;
  bool overSize = false;  // the body goes past a.bin's size: no other server, no ".part"
};

void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

class FaultCases : public TransferServers, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultCases, FailsOverOrFailsLeavingNoFileAtTheTarget) {
  const FaultCase& fault = GetParam();
  faults->SetRule("/1/a.bin", fault.rule);
  std::vector<S_UpdateSerivceAddr> servers = {Local(faults->port())};
  if (fault.nginxSecond) servers.push_back(Local(nginx->port()));
  const std::string target = staging / "a.bin";
  WriteTextFile(target, "an older a.bin");  // must not survive as if it were new
  CZOLTUpdateIntf transfer(servers, false);
  transfer.LimitSize("a.bin", Source("a.bin").size());
  const auto start = std::chrono::steady_clock::now();
  const int result = transfer.GetRemoteFile(1, "a.bin", target.c_str(), nullptr, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
  EXPECT_EQ(faults->RequestedPaths(), std::vector<std::string>{"/1/a.bin"});
  if (fault.overSize) {
    EXPECT_EQ(CountOf(nginx->AccessLog(), "/1/a.bin"), 0);
    EXPECT_FALSE(fs::exists(target + ".part"));
  }
  if (fault.succeeds) {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadTextFile(target), Source("a.bin"));
  } else {
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(fs::exists(target));
  }
}

// ZOLT_TRANSFER_LOW_SPEED_TIME is 2 s for these tests (see CMakeLists.txt).
INSTANTIATE_TEST_SUITE_P(
    Transfer, FaultCases,
    ::testing::Values(FaultCase{"NotFound", R"({"status": 404})", false, false},
                      FaultCase{"ServerError", R"({"status": 500})", false, false},
                      FaultCase{"CutShort", R"({"cut": 5000})", false, false},
                      FaultCase{"Stalled", R"({"stall": 1000})", false, false},
                      FaultCase{"SlowButMoving", R"({"slow": 2048, "interval": 0.2})", false, true},
                      FaultCase{"NotFoundThenSecond", R"({"status": 404})", true, true},
                      FaultCase{"ServerErrorThenSecond", R"({"status": 503})", true, true},
                      FaultCase{"StalledThenSecond", R"({"stall": 1000})", true, true},
                      // ZOLT_TRANSFER_MAX_TIME is 6 s: fast enough for the low-speed
                      // limit, too slow for the bound on the whole fetch.
                      FaultCase{"TrickleBeyondTheTimeBound", R"({"slow": 1500, "interval": 1})", false, false},
                      FaultCase{"GibibyteOfPadding", R"({"pad": 1073741824})", true, false, true},
                      FaultCase{"EndlessChunkedBody", R"({"endless": 65536})", true, false, true},
                      FaultCase{"EndlessBodyAt4KiBPerSecond", R"({"endless": 4096, "interval": 1})", true, false,
                                true}),
    [](const auto& info) { return std::string(info.param.name); });

// A name without a cap of its own (a manifest) may have at most 64 MiB.
TEST_F(TransferServers, ANameWithoutItsOwnCapStopsAt64MiB) {
  for (const char* rule : {R"({"pad": 67108864})", R"({"endless": 65536})"}) {
    SCOPED_TRACE(rule);
    faults->SetRule("/1/UpdateConfig.ini", rule);
    const std::string target = staging / "UpdateConfig.ini";
    CZOLTUpdateIntf transfer({Local(faults->port())}, false);
    transfer.LimitSize("a.bin", 1);  // caps of other names do not apply
    EXPECT_EQ(transfer.GetRemoteFile(1, "UpdateConfig.ini", target.c_str(), nullptr, 0), -1);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(target + ".part"));
  }
  // Within the cap the same transfer fetches as before.
  faults->SetRule("/1/UpdateConfig.ini", "{}");
  CZOLTUpdateIntf transfer({Local(faults->port())}, false);
  EXPECT_EQ(transfer.GetRemoteFile(1, "UpdateConfig.ini", (staging / "u.ini").c_str(), nullptr, 0), 0);
  EXPECT_EQ(ReadTextFile(staging / "u.ini"), Source("UpdateConfig.ini"));
}

TEST_F(TransferServers, SkipsEmptyAndUnreachableServers) {
  const std::vector<S_UpdateSerivceAddr> servers = {{"", 80}, Local(PickFreePort()), Local(nginx->port())};
  CZOLTUpdateIntf transfer(servers, false);
  EXPECT_EQ(transfer.GetRemoteFile(1, "a.bin", (staging / "a.bin").c_str(), nullptr, 0), 0);
  EXPECT_EQ(ReadTextFile(staging / "a.bin"), Source("a.bin"));

  CZOLTUpdateIntf nowhere({{"", 0}, Local(PickFreePort())}, false);
  EXPECT_EQ(nowhere.GetRemoteFile(1, "UpdateConfig.ini", (staging / "x.ini").c_str(), nullptr, 0), -1);
  EXPECT_FALSE(fs::exists(staging / "x.ini"));
  EXPECT_FALSE(fs::exists(staging / "x.ini.part"));
}

// Manifests may come compressed and are asked for conditionally: the answer
// depends on which server delivered the kept copy and on whether its
// validators can tell a change.
TEST_F(TransferServers, ManifestComesCompressedAndIsAskedConditionally) {
  std::string manifest = "[Version]\nVERSION=2.0\n[FILES]\n";
  for (int i = 0; i < 300; ++i) manifest += "[f" + std::to_string(i) + ".bin]\nMD5=" + RandomHex(i) + "\nSIZE=10\n";
  Publish("UpdateConfig.ini", manifest);
  fs::last_write_time(SourcePath("UpdateConfig.ini"), fs::file_time_type::clock::now() - 1h);
  NginxServer gzip(root.path(), NginxOptions{"", "", "", "", kNginxGzipIni});
  const std::string target = staging / "UpdateConfig.ini";
  const std::string self = "http://127.0.0.1:" + std::to_string(gzip.port());
  CZOLTUpdateIntf transfer({Local(gzip.port())}, false);

  CZOLTUpdateIntf::Validators kept;
  ASSERT_EQ(transfer.GetRemoteManifest(1, "UpdateConfig.ini", target.c_str(), kept), 0);
  EXPECT_EQ(ReadTextFile(target), manifest) << "stored decoded";
  EXPECT_EQ(transfer.LastDigests().md5, CMD5::OfBytes(manifest.data(), manifest.size()));
  EXPECT_EQ(kept.server, self);
  EXPECT_FALSE(kept.etag.empty());
  EXPECT_FALSE(kept.lastModified.empty());

  const struct {
    const char* name;
    std::string server;
    int result;
    const char* logged;
  } cases[] = {
      {"same server, unchanged: not modified", self, 1, " 304 "},
      {"kept copy came from another server: asked in full", "http://127.0.0.1:1", 0, " 200 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CZOLTUpdateIntf::Validators ask = kept;
    ask.server = c.server;
    EXPECT_EQ(transfer.GetRemoteManifest(1, "UpdateConfig.ini", target.c_str(), ask), c.result);
    EXPECT_EQ(fs::exists(target), c.result == 0);
    const std::string log = gzip.AccessLog();
    EXPECT_NE(log.substr(log.rfind("GET ")).find(c.logged), std::string::npos) << log;
  }
  std::istringstream log(gzip.AccessLog());
  std::string method, uri, status, range, host;
  long body = 0;
  ASSERT_TRUE(log >> method >> uri >> status >> range >> host >> body);
  EXPECT_LT(body * 2, static_cast<long>(manifest.size())) << "the first answer was not compressed";

  // Changed within the second it is served: its time and size may not change
  // with the next edit, so nothing may be asked on their strength.
  Publish("UpdateConfig.ini", manifest + "[g.bin]\n");
  CZOLTUpdateIntf::Validators fresh;
  ASSERT_EQ(transfer.GetRemoteManifest(1, "UpdateConfig.ini", target.c_str(), fresh), 0);
  EXPECT_EQ(fresh.server, self);
  EXPECT_EQ(fresh.etag + fresh.lastModified, "");
}

void CopyModificationTime(const std::string& from, const std::string& to) {
  fs::last_write_time(to, fs::last_write_time(from));
}

// A ".part" left by an earlier fetch is continued by a range request while
// the server still has the file it came from (its modification time), is
// completed without a body when it is whole, and is discarded when the file
// changed since. The digests, when taken, cover the whole file.
TEST_F(TransferServers, APartIsContinuedOnlyWhileItStillBelongs) {
  const struct {
    const char* what;
    const char* name;
    std::string part;
    bool sameVersion;
    unsigned digests;
    const char* logged;
  } cases[] = {
      {"half of it", "big.bin", Source("big.bin").substr(0, 1 << 19), true, kDigestMD5,
       "GET /1/big.bin 206 bytes=524288-"},
      {"three quarters, no digests asked for", "big.bin", Source("big.bin").substr(0, 786432), true, 0,
       "GET /1/big.bin 206 bytes=786432-"},
      {"all of it", "a.bin", Source("a.bin"), true, kDigestMD5, "GET /1/a.bin 416"},
      {"of another version", "big.bin", RandomBytes(1 << 19, 99), false, kDigestMD5,
       "GET /1/big.bin 200 bytes=524288-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string target = staging / c.name;
    WriteTextFile(target + ".part", c.part);
    if (c.sameVersion)
      CopyModificationTime(SourcePath(c.name), target + ".part");
    else
      fs::last_write_time(target + ".part", fs::last_write_time(SourcePath(c.name)) - 24h);
    CZOLTUpdateIntf transfer({Local(nginx->port())}, false);
    transfer.SetDigestKinds(c.digests);
    ASSERT_EQ(transfer.GetRemoteFile(1, c.name, target.c_str(), nullptr, 0), 0);
    EXPECT_EQ(ReadTextFile(target), Source(c.name));
    EXPECT_EQ(transfer.LastDigests().md5, c.digests != 0 ? Md5Of(c.name) : "");
    EXPECT_FALSE(fs::exists(target + ".part"));
    EXPECT_NE(nginx->AccessLog().find(c.logged), std::string::npos) << nginx->AccessLog();
  }
}

TEST_F(TransferServers, ABodyCutShortIsResumedFromTheNextServer) {
  faults->SetRule("/1/big.bin", R"({"cut": 300000})");
  const std::string target = staging / "big.bin";
  CZOLTUpdateIntf transfer({Local(faults->port()), Local(nginx->port())}, false);
  transfer.SetDigestKinds(kDigestMD5 | kDigestSHA256);
  ASSERT_EQ(transfer.GetRemoteFile(1, "big.bin", target.c_str(), nullptr, 0), 0);
  EXPECT_EQ(ReadTextFile(target), Source("big.bin"));
  EXPECT_EQ(transfer.LastDigests().md5, Md5Of("big.bin"));
  // Taken in pieces across two servers, equal to the digest of the whole.
  EXPECT_EQ(transfer.LastDigests().sha256, Sha256Of("big.bin"));
  // Both serve the same file with the same modification time, so the part
  // received from the first is kept.
  EXPECT_NE(nginx->AccessLog().find("GET /1/big.bin 206 bytes=300000-"), std::string::npos) << nginx->AccessLog();
}

// A full disk, simulated by a ".part" that leads to /dev/full: no other
// server can help, so the list is not tried further.
TEST_F(TransferServers, AFileThatCannotBeWrittenFailsWithoutTryingTheNextServer) {
  const std::string target = staging / "a.bin";
  // A file size limit makes every write past the first bytes fail (EFBIG).
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit tiny = saved;
  tiny.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
  CZOLTUpdateIntf transfer({Local(nginx->port()), Local(faults->port())}, false);
  const int result = transfer.GetRemoteFile(1, "a.bin", target.c_str(), nullptr, 0);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(CountOf(nginx->AccessLog(), "/1/a.bin"), 1);
  EXPECT_TRUE(faults->RequestedPaths().empty());
}

// A ".part" planted as a link (to a file the run may write, as root) is
// refused before anything is fetched; what it points to stays as it was.
TEST_F(TransferServers, APlantedPartLinkIsNeverWrittenThrough) {
  TempDir outside;
  WriteTextFile(outside / "root-only.cfg", "secret settings");
  const std::string target = staging / "main.cfg";
  fs::create_symlink(outside / "root-only.cfg", target + ".part");
  CZOLTUpdateIntf transfer({Local(nginx->port())}, false);
  EXPECT_EQ(transfer.GetRemoteFile(1, "a.bin", target.c_str(), nullptr, 0), -1);
  EXPECT_EQ(ReadTextFile(outside / "root-only.cfg"), "secret settings");
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(CountOf(nginx->AccessLog(), "/1/a.bin"), 0);
}

TEST_F(TransferServers, CancelFromAnotherThreadEndsAStalledFetchPromptly) {
  faults->SetRule("/1/big.bin", R"({"stall": 4096})");
  const std::string target = staging / "big.bin";
  CZOLTUpdateIntf transfer({Local(faults->port())}, false);
  auto fetch =
      std::async(std::launch::async, [&] { return transfer.GetRemoteFile(1, "big.bin", target.c_str(), nullptr, 0); });
  // Wait until the request is under way, then a little into the stall.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (faults->RequestedPaths().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  std::this_thread::sleep_for(100ms);
  const auto cancelled = std::chrono::steady_clock::now();
  transfer.Cancel();
  ASSERT_EQ(fetch.wait_for(1500ms), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 1500ms);
  EXPECT_EQ(fetch.get(), -1);
  EXPECT_FALSE(fs::exists(target));
  // Later fetches of a cancelled object fail at once.
  EXPECT_EQ(transfer.GetRemoteFile(1, "a.bin", (staging / "a.bin").c_str(), nullptr, 0), -1);
}

TEST_F(TransferServers, ReportsProgressThenExactlyOneCompletionAfterTheFileIsInPlace) {
  faults->SetRule("/1/a.bin", R"({"slow": 2000, "interval": 0.05})");
  const std::string target = staging / "a.bin";
  bool inPlaceAtCompletion = false;
  ReportWindow window([&](const Report& report) {
    if (report.wParam == static_cast<WPARAM>(report.lParam)) inPlaceAtCompletion = fs::exists(target);
  });
  CZOLTUpdateIntf transfer({Local(faults->port())}, false);
  auto fetch = std::async(std::launch::async, [&, hwnd = window.hwnd()] {
    return transfer.GetRemoteFile(1, "a.bin", target.c_str(), hwnd, 0x65A);
  });
  ASSERT_TRUE(window.PumpUntil([&] { return fetch.wait_for(0ms) == std::future_status::ready; }));
  EXPECT_EQ(fetch.get(), 0);
  EXPECT_EQ(window.Completions(), std::vector<WPARAM>{20000});
  EXPECT_TRUE(inPlaceAtCompletion);
  ASSERT_GE(window.reports().size(), 3u);
  EXPECT_EQ(window.reports().back(), (Report{0x65A, 20000, 20000}));
  for (std::size_t i = 0; i + 1 < window.reports().size(); ++i) {
    const Report& report = window.reports()[i];
    EXPECT_NE(report.wParam, static_cast<WPARAM>(report.lParam));
    EXPECT_EQ(report.lParam, 20000);
    if (i > 0) {
      EXPECT_GE(report.wParam, window.reports()[i - 1].wParam);
    }
  }
}

TEST_F(TransferServers, AFetchForAWindowThatIsGoneFails) {
  faults->SetRule("/1/a.bin", R"({"slow": 1000, "interval": 0.05})");
  auto window = CMessageWindow::Create([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  const HWND hwnd = window->Handle();
  window->Destroy();
  CZOLTUpdateIntf transfer({Local(faults->port())}, false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(transfer.GetRemoteFile(1, "a.bin", (staging / "a.bin").c_str(), hwnd, 0x65A), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
  EXPECT_FALSE(fs::exists(staging / "a.bin"));
}

// The proxy variables are set by the test itself, no_proxy cleared, so the
// machine's own settings cannot decide the outcome.
TEST_F(TransferServers, UsesTheEnvironmentsProxyOnlyWhenAskedTo) {
  TinyProxy proxy;
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");
  unsetenv("ALL_PROXY");
  unsetenv("all_proxy");
  const std::string direct = "/1/a.bin";
  const std::string proxied = "/1/UpdateConfig.ini";
  {
    CZOLTUpdateIntf transfer({Local(nginx->port())}, false);
    ASSERT_EQ(transfer.GetRemoteFile(1, "a.bin", (staging / "a.bin").c_str(), nullptr, 0), 0);
  }
  {
    CZOLTUpdateIntf transfer({Local(nginx->port())}, true);
    ASSERT_EQ(transfer.GetRemoteFile(1, "UpdateConfig.ini", (staging / "u.ini").c_str(), nullptr, 0), 0);
  }
  EXPECT_EQ(ReadTextFile(staging / "u.ini"), Source("UpdateConfig.ini"));
  const std::string log = proxy.Log();
  const std::string origin = "http://127.0.0.1:" + std::to_string(nginx->port());
  EXPECT_EQ(CountOf(log, "GET " + origin + proxied), 1) << log;
  EXPECT_EQ(CountOf(log, origin + direct), 0) << log;

  // What a request through the proxy meets may be the proxy's own answer:
  // the cause says the request went through it.
  CZOLTUpdateIntf transfer({Local(nginx->port())}, true);
  testing::internal::CaptureStderr();
  EXPECT_EQ(transfer.GetRemoteFile(1, "missing.bin", (staging / "m.bin").c_str(), nullptr, 0), -1);
  const std::string said = testing::internal::GetCapturedStderr();
  const std::string at = "127.0.0.1:" + std::to_string(proxy.port());
  const std::string cause = "127.0.0.1:" + std::to_string(nginx->port()) +
                            " answered HTTP 404 for /1/missing.bin (through the proxy " + at + " (http_proxy=http://" +
                            at + "))";
  EXPECT_NE(said.find(cause), std::string::npos) << said;
}

}  // namespace

// Servers as Config.dat names them: by name or address, over HTTP or HTTPS,
// read by ReadServerConfig as every run does.
TEST_F(TransferServers, HttpsAndHostNames) {
  TempDir certificates, otherName, app;
  const TestCertificates good = MakeCertificates(certificates.path(), {"localhost", "IP:127.0.0.1"});
  const TestCertificates other = MakeCertificates(otherName.path(), {"other.test"});
  fs::copy_file(good.ca, app / "ca.pem");
  NginxServer plain(root.path(), NginxOptions{"", "localhost", "", "", ""});
  NginxServer tls(root.path(), NginxOptions{"", "", good.certificate, good.key,
                                            "    location = /1/moved.bin { return 302 http://127.0.0.1:" +
                                                std::to_string(nginx->port()) + "/1/a.bin; }\n"});
  NginxServer wrongName(root.path(), NginxOptions{"", "", other.certificate, other.key, ""});
  CDirectoryEx::OverrideApplicationPath(app.path());

  const struct {
    const char* name;
    const char* host;
    const NginxServer* server;
    const char* host2;  // a second server, when not null
    const NginxServer* server2;
    int useHttps;
    std::string caFile;
    const char* remote;
    bool fetched;
    const char* hostHeader;  // as the serving nginx logged it; empty: not checked
  } cases[] = {
      {"https by name, CA file beside the updater", "localhost", &tls, nullptr, nullptr, 1, "ca.pem", "a.bin", true,
       "localhost"},
      {"https by address, CA file by absolute path", "127.0.0.1", &tls, nullptr, nullptr, 1, app / "ca.pem", "a.bin",
       true, "127.0.0.1"},
      {"wrong CA", "localhost", &tls, nullptr, nullptr, 1, other.ca, "a.bin", false, ""},
      {"the system's store does not know the test CA", "localhost", &tls, nullptr, nullptr, 1, "", "a.bin", false, ""},
      {"CA file missing", "localhost", &tls, nullptr, nullptr, 1, "missing.pem", "a.bin", false, ""},
      {"certificate for another name", "localhost", &wrongName, nullptr, nullptr, 1, "ca.pem", "a.bin", false, ""},
      {"failed certificate, then a good second server", "localhost", &wrongName, "localhost", &tls, 1, "ca.pem",
       "a.bin", true, "localhost"},
      {"https to a plain server", "localhost", &plain, nullptr, nullptr, 1, "ca.pem", "a.bin", false, ""},
      {"no redirect from https to http", "localhost", &tls, nullptr, nullptr, 1, "ca.pem", "moved.bin", false, ""},
      {"plain http by name reaches the virtual host", "localhost", &plain, nullptr, nullptr, 0, "", "a.bin", true,
       "localhost"},
      {"plain http by address stays the address", "127.0.0.1", &plain, nullptr, nullptr, 0, "", "a.bin", false,
       "127.0.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      CCryptConfigFile config(app / "Config.dat", "");
      config.WriteString("Update", "ServerIP", c.host);
      config.WriteInteger("Update", "ServerPort", c.server->port());
      config.WriteString("Update", "ServerIP2", c.host2 ? c.host2 : "");
      config.WriteInteger("Update", "ServerPort2", c.server2 ? c.server2->port() : 0);
      config.WriteInteger("Update", "UseHttps", c.useHttps);
      config.WriteString("Update", "CAFile", c.caFile);
    }
    std::string version, region;
    std::vector<S_UpdateSerivceAddr> servers;
    bool useProxy = true;
    ReadServerConfig(version, region, servers, useProxy);
    CZOLTUpdateIntf transfer(servers, false);
    const std::string local = staging / "a.bin";
    EXPECT_EQ(transfer.GetRemoteFile(1, c.remote, local.c_str(), nullptr, 0), c.fetched ? 0 : -1);
    EXPECT_EQ(ReadTextFile(local), c.fetched ? Source("a.bin") : "");
    if (*c.hostHeader != '\0') {
      const NginxServer& served = c.server2 ? *c.server2 : *c.server;
      const std::string expected = std::string(" ") + c.hostHeader + ":" + std::to_string(served.port()) + " ";
      EXPECT_NE(served.AccessLog().find(expected), std::string::npos) << served.AccessLog();
    }
  }
  EXPECT_EQ(CountOf(nginx->AccessLog(), "/1/a.bin"), 0) << "the redirect to http was not followed";
  CDirectoryEx::OverrideApplicationPath("");
}
