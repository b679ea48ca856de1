#include "tests/support/HttpServers.h"

#include "platform/crypt/Signature.h"
#include "update/ReleaseTrust.h"

#include "tests/support/Wait.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::string SourceDir() {
  const char* dir = std::getenv("ZOLT_SOURCE_DIR");
  return dir != nullptr ? dir : ZOLT_DEFAULT_SOURCE_DIR;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    if (in >= 0) dup2(in, 0);
    execv(args[0], args.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (Exited()) return;
  kill(pid_, SIGTERM);
  if (!WaitFor([this] { return Exited(); }, 5000)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool ChildProcess::Exited() {
  if (reaped_) return true;
  int status = 0;
  reaped_ = waitpid(pid_, &status, WNOHANG) == pid_;
  if (reaped_) exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return reaped_;
}

int PickFreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool WaitUntilAccepting(int port, int timeoutMs, ChildProcess* server) {
  return WaitFor(
             [&] {
               if (server != nullptr && server->Exited()) return true;
               const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
               sockaddr_in address{};
               address.sin_family = AF_INET;
               address.sin_port = htons(static_cast<uint16_t>(port));
               address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
               const bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
               close(fd);
               return accepted;
             },
             timeoutMs) &&
         (server == nullptr || !server->Exited());
}

NginxServer::NginxServer(const std::string& root, const std::string& limitRate)
    : NginxServer(root, NginxOptions{limitRate, "", "", "", ""}) {}

NginxServer::NginxServer(const std::string& root, const NginxOptions& options) {
  const std::string dir = dir_.path();
  const std::string& limitRate = options.limitRate;
  const bool tls = !options.certificate.empty();
  // The port is free when picked but another process may take it before nginx
  // binds it; nginx then exits and the next port is tried.
  for (int attempt = 0; attempt < 10 && !process_; ++attempt) {
    port_ = PickFreePort();
    std::ostringstream conf;
    const std::string listen = "    listen 127.0.0.1:" + std::to_string(port_) + (tls ? " ssl" : "") + ";\n";
    std::string servers =
        "  server {\n" + listen + "    root " + root + ";\n" +
        (options.serverName.empty() ? "" : "    server_name " + options.serverName + ";\n") +
        (tls ? "    ssl_certificate " + options.certificate + ";\n    ssl_certificate_key " + options.key + ";\n"
             : "") +
        (limitRate.empty() ? "" : "    limit_rate " + limitRate + ";\n    sendfile off;\n") + options.extra + "  }\n";
    // The first server of a port answers every name it does not know.
    if (!options.serverName.empty())
      servers =
          "  server {\n" + listen + "    server_name _;\n" +
          (tls ? "    ssl_certificate " + options.certificate + ";\n    ssl_certificate_key " + options.key + ";\n"
               : "") +
          "    return 404;\n  }\n" + servers;
    conf << "daemon off;\nmaster_process off;\npid " << dir << "nginx.pid;\nerror_log " << dir << "error.log;\n"
         << "events { worker_connections 256; }\n"
         << "http {\n  log_format zolt '$request_method $request_uri $status $http_range $http_host $body_bytes_sent "
            "$connection';\n"
         << "  access_log " << dir << "access.log zolt;\n"
         << "  log_format agents '$request_uri $http_user_agent';\n"
         << "  access_log " << dir << "agents.log agents;\n"
         << "  client_body_temp_path " << dir << "tmp/body;\n  proxy_temp_path " << dir << "tmp/proxy;\n"
         << "  fastcgi_temp_path " << dir << "tmp/fastcgi;\n  uwsgi_temp_path " << dir << "tmp/uwsgi;\n"
         << "  scgi_temp_path " << dir << "tmp/scgi;\n"
         << "  default_type application/octet-stream;\n  sendfile on;\n  keepalive_requests 100000;\n"
         << servers << "}\n";
    WriteTextFile(dir + "tmp/.keep", "");
    WriteTextFile(dir + "nginx.conf", conf.str());
    auto process = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/sbin/nginx", "-p", dir, "-c", dir + "nginx.conf", "-e", dir + "error.log"},
        dir + "output.log");
    if (WaitUntilAccepting(port_, 10000, process.get())) process_ = std::move(process);
  }
  if (!process_) throw std::runtime_error("nginx did not start; see " + dir + "error.log");
}

NginxServer::~NginxServer() = default;

std::string NginxServer::AccessLog() const { return StillLog("access.log"); }

std::string NginxServer::AgentLog() const { return StillLog("agents.log"); }

std::string NginxServer::StillLog(const std::string& name) const {
  // nginx writes a request's line after the last byte went out, so a client can
  // be done before its request is logged. Read once the log has been still for
  // a while; a request that is still being served is not in it either way.
  std::string log = ReadTextFile(dir_ / name);
  int still = 0;
  for (int waited = 0; still < 10 && waited < 300; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string now = ReadTextFile(dir_ / name);
    still = now == log ? still + 1 : 0;
    log = std::move(now);
  }
  return log;
}

FaultServer::FaultServer(const std::string& root) {
  const std::string portFile = dir_ / "port";
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", SourceDir() + "/tests/support/fault_server.py", root, portFile,
                               dir_ / "requests.log", dir_ / "rules.json"},
      dir_ / "output.log");
  if (!WaitFor([&] { return !ReadTextFile(portFile).empty() || process_->Exited(); }, 10000) || process_->Exited()) {
    throw std::runtime_error("fault server did not start; see " + dir_ / "output.log");
  }
  port_ = std::stoi(ReadTextFile(portFile));
}

FaultServer::~FaultServer() = default;

void FaultServer::SetRule(const std::string& path, const std::string& ruleJson) {
  rules_.emplace_back(path, ruleJson);
  std::string json = "{";
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    json += (i == 0 ? "\"" : ", \"") + rules_[i].first + "\": " + rules_[i].second;
  }
  json += "}";
  // The server reads the rules at each request: replace the file in one step.
  WriteTextFile(dir_ / "rules.tmp", json);
  std::rename((dir_ / "rules.tmp").c_str(), (dir_ / "rules.json").c_str());
}

std::vector<std::string> FaultServer::RequestLog() const { return Lines(ReadTextFile(dir_ / "requests.log")); }

std::vector<std::string> FaultServer::RequestedPaths() const {
  std::vector<std::string> paths;
  for (const auto& line : RequestLog()) {
    const auto first = line.find(' ');
    const auto second = line.find(' ', first + 1);
    paths.push_back(line.substr(first + 1, second - first - 1));
  }
  return paths;
}

TinyProxy::TinyProxy() {
  const std::string dir = dir_.path();
  for (int attempt = 0; attempt < 10 && !process_; ++attempt) {
    port_ = PickFreePort();
    WriteTextFile(dir + "tinyproxy.conf",
                  "Port " + std::to_string(port_) + "\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\nLogFile \"" +
                      dir + "tinyproxy.log\"\nLogLevel Connect\nPidFile \"" + dir + "tinyproxy.pid\"\nMaxClients 20\n");
    auto process = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c", dir + "tinyproxy.conf"}, dir + "output.log");
    if (WaitUntilAccepting(port_, 10000, process.get())) process_ = std::move(process);
  }
  if (!process_) throw std::runtime_error("tinyproxy did not start; see " + dir + "output.log");
}

TinyProxy::~TinyProxy() = default;

std::string TinyProxy::Log() const { return ReadTextFile(dir_ / "tinyproxy.log"); }

namespace {

void RunOpenssl(const std::string& directory, const std::string& arguments) {
  const std::string command = "cd '" + directory + "' && openssl " + arguments + " >>openssl.log 2>&1";
  if (std::system(command.c_str()) != 0)
    throw std::runtime_error("openssl " + arguments + " failed; see " + directory + "openssl.log");
}

}  // namespace

TestCertificates MakeCertificates(const std::string& directory, const std::vector<std::string>& names) {
  std::string alternatives;
  for (const auto& name : names)
    alternatives += (alternatives.empty() ? "" : ",") + (name.starts_with("IP:") ? name : "DNS:" + name);
  RunOpenssl(directory,
             "req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=ZOLT-test-CA "
             "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
  RunOpenssl(directory, "req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=" + names.front());
  WriteTextFile(directory + "server.ext", "subjectAltName=" + alternatives + "\n");
  RunOpenssl(directory,
             "x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
             "-extfile server.ext");
  return {directory + "ca.pem", directory + "server.pem", directory + "server.key"};
}

Ed25519KeyFiles MakeEd25519Key(const std::string& directory, const std::string& name) {
  RunOpenssl(directory, "genpkey -algorithm ed25519 -out " + name + ".key");
  RunOpenssl(directory, "pkey -in " + name + ".key -pubout -out " + name + ".pub");
  return {directory + name + ".key", directory + name + ".pub"};
}

void SignManifestFile(const std::string& manifest, unsigned long type, const std::string& privateKey,
                      std::optional<std::uint64_t> serial) {
  static std::uint64_t lastSerial = 0;
  std::string text = ReadTextFile(manifest);
  SReleaseHeader header;
  const bool stamped = ParseReleaseHeader(text, header);
  if (!stamped || serial) {
    if (stamped) text.erase(0, text.find('\n') + 1);
    header = {type, serial ? *serial : ++lastSerial, std::nullopt};
    text = FormatReleaseHeader(header) + text;
    WriteTextFile(manifest, text);
  }
  std::string signature, error;
  if (!SignEd25519(ReadTextFile(privateKey), text, signature, error)) throw std::runtime_error(error);
  WriteTextFile(manifest + ".sig", signature);
}
