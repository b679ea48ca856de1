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

bool ParsePort(const std::string& text, std::uint16_t& port) {
  if (text.empty()) {
    port = 0;
    return true;
  }
  if (text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long value = std::stoul(text);
  if (value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

namespace {

// A URL where a host belongs ("http://host:8080/") can never be resolved;
// what the keys want instead is said in words.
std::string UrlHint(const std::string& host, const char* ipKey, const char* portKey) {
  const std::size_t scheme = host.find("://");
  if (scheme == std::string::npos && host.find_first_of("/:") == std::string::npos) return "";
  std::string rest = scheme == std::string::npos ? host : host.substr(scheme + 3);
  rest = rest.substr(0, rest.find('/'));
  const std::size_t colon = rest.rfind(':');
  const std::string name = rest.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : rest.substr(colon + 1);
  return ": " + std::string(ipKey) + " takes a host name or IPv4 address, not a URL" +
         (name.empty() ? std::string() : "; write " + std::string(ipKey) + "=" + name) +
         (port.empty() ? std::string() : " and " + std::string(portKey) + "=" + port) +
         (host.rfind("https://", 0) == 0 ? ", with UseHttps=1" : "");
}

}  // namespace

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

  // Transport settings hold for both servers. A relative CA bundle lies in
  // the application directory, so that an installer can ship it beside us.
  S_UpdateSerivceAddr transport;
  transport.useHttps = config.ReadInteger("Update", "UseHttps", 0) != 0;
  config.ReadString("Update", "CAFile", "", transport.caFile);
  if (!transport.caFile.empty()) {
    if (transport.caFile.front() != '/') transport.caFile = NativePath(appPath + transport.caFile);
    // The bundle decides whom the transfer trusts: read once, now, as a file
    // that no one else could have changed, or not at all. A refused bundle is
    // never replaced by the system's store.
    std::string cause;
    if (!ReadFileGuarded(transport.caFile, transport.caBundle, {kMaximumCaFileBytes, false, true}, &cause))
      transport.refusal = "the CA bundle (Config.dat [Update] CAFile) " + cause + "; no server is asked without it";
  }

  // Each server starts from a fresh record: a failed lookup leaves
  // ResolveHostAddress's out text alone, and that text must not be the
  // address of the server read before. A server whose address or port is
  // unusable keeps an empty address, which the transfer skips.
  std::string shown;  // the servers, for the log
  const auto read = [&](const char* ipKey, const char* portKey) {
    S_UpdateSerivceAddr server = transport;
    config.ReadString("Update", ipKey, "", server.host);
    std::string portText;
    config.ReadString("Update", portKey, "", portText);
    const std::string& host = server.host;
    if (!ParsePort(portText, server.port)) {
      server.port = 0;
      if (!host.empty())
        diagnostics::ReportCause("Config.dat [Update] " + std::string(portKey) + " \"" + portText +
                                 "\" is not a port (a number from 0 to 65535); the server \"" + host + "\" is skipped");
    } else if (!ResolveHostAddress(host, server.ip) && !host.empty()) {
      diagnostics::ReportCause("cannot resolve the update server \"" + host + "\" (Config.dat [Update] " + ipKey + ")" +
                               UrlHint(host, ipKey, portKey));
    }
    // The address and port a request goes to; a server left without an
    // address is never asked.
    if (!host.empty())
      shown += (shown.empty() ? "" : ", ") + host +
               (server.ip.empty() ? " (skipped)"
                                  : " = " + server.ip + ":" +
                                        std::to_string(server.port != 0 ? server.port : (server.useHttps ? 443 : 80)));
    return server;
  };
  servers.push_back(read("ServerIP", "ServerPort"));
  const S_UpdateSerivceAddr second = read("ServerIP2", "ServerPort2");
  if (!second.ip.empty()) servers.push_back(second);

  config.Initialize(appPath + "UserConfig.dat", "");
  useProxy = config.ReadInteger("Server", "UseProxy", 1) != 0;
  diagnostics::LogFact("installed version \"" + localVersion + "\", region \"" + region + "\"; servers " +
                       (shown.empty() ? "none configured" : shown) + (transport.useHttps ? " over HTTPS" : "") +
                       "; proxy " + (useProxy ? "from the environment" : "off"));
}
