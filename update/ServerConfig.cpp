#include "update/ServerConfig.h"

#include "platform/configfile/ConfigFile.h"
#include "platform/core_guard.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/directory/DirectoryEx.h"
#include "platform/win32/Files.h"
#include "platform/win32/Winsock.h"

namespace {

// The system's whole store is about 200 KiB.
constexpr std::size_t kMaximumCaFileBytes = std::size_t{16} << 20;

}  // namespace

bool ResolveHostAddress(const std::string& host, std::string& address) {
  if (host.empty()) {
    address.clear();
    return false;
  }
  if (inet_addr(host.c_str()) != INADDR_NONE) {
    address = host;
    return true;
  }
  WSADATA data;
  if (WSAStartup(0x0002, &data) != 0) return false;
  const bool found = LookupHostIPv4(host, address);
  WSACleanup();
  return found;
}

void ReadServerConfig(std::string& localVersion, std::string& region, std::vector<S_UpdateSerivceAddr>& servers,
                      bool& useProxy) {
  std::string appPath;
  CDirectoryEx::GetApplicationPath(appPath);

  const std::string configPath = appPath + "Config.dat";
  CCryptConfigFile config(configPath, "");
  if (config.IsCorrupt())
    diagnostics::ReportCause(NativePath(configPath) +
                             " cannot be deciphered (damaged, or not written by zolt-config); it reads as empty");
  else if (!PathFileExistsA(configPath.c_str()))
    diagnostics::ReportCause(NativePath(configPath) + " is missing: no installed version and no update server");
  config.ReadString("Update", "Version", "", localVersion);
  config.ReadString("Update", "Region", "", region);
  CZOLTUpdateIntf::SetInstalledVersion(localVersion);

  S_UpdateSerivceAddr server;
  std::string host;
  std::string shown;  // the servers, for the log

  // The working record starts empty for each server: a failed lookup leaves
  // ResolveHostAddress's out text alone, and that text must not be the
  // address of the server read before.
  // Transport settings hold for both servers. A relative CA bundle lies in
  // the application directory, so that an installer can ship it beside us.
  server.useHttps = config.ReadInteger("Update", "UseHttps", 0) != 0;
  config.ReadString("Update", "CAFile", "", server.caFile);
  if (!server.caFile.empty()) {
    if (server.caFile.front() != '/') server.caFile = NativePath(appPath + server.caFile);
    // The bundle decides whom the transfer trusts: read once, now, as a file
    // that no one else could have changed, or not at all. A refused bundle is
    // never replaced by the system's store.
    std::string cause;
    if (!ReadFileGuarded(server.caFile, server.caBundle, {kMaximumCaFileBytes, false, true}, &cause))
      server.refusal = "the CA bundle (Config.dat [Update] CAFile) " + cause + "; no server is asked without it";
  }

  config.ReadString("Update", "ServerIP", "", host);
  server.ip.clear();
  if (!ResolveHostAddress(host, server.ip) && !host.empty())
    diagnostics::ReportCause("cannot resolve the update server \"" + host + "\" (Config.dat [Update] ServerIP)");
  server.host = host;
  server.port = static_cast<std::uint16_t>(config.ReadInteger("Update", "ServerPort", 0));
  servers.push_back(server);
  const auto describe = [&] {
    return host + " = " + (server.ip.empty() ? "?" : server.ip) + ":" +
           std::to_string(server.port != 0 ? server.port : (server.useHttps ? 443 : 80));
  };
  shown = describe();

  config.ReadString("Update", "ServerIP2", "", host);
  server.ip.clear();
  if (!ResolveHostAddress(host, server.ip) && !host.empty())
    diagnostics::ReportCause("cannot resolve the update server \"" + host + "\" (Config.dat [Update] ServerIP2)");
  server.host = host;
  server.port = static_cast<std::uint16_t>(config.ReadInteger("Update", "ServerPort2", 0));
  if (!server.ip.empty()) {
    servers.push_back(server);
    shown += ", " + describe();
  }

  config.Initialize(appPath + "UserConfig.dat", "");
  useProxy = config.ReadInteger("Server", "UseProxy", 1) != 0;
  diagnostics::LogFact("installed version \"" + localVersion + "\", region \"" + region + "\"; servers " + shown +
                       (server.useHttps ? " over HTTPS" : "") + "; proxy " +
                       (useProxy ? "from the environment" : "off"));
}
