// Real servers for tests and benchmarks, each started on 127.0.0.1 on a port
// the system picks, and stopped by the destructor. Their output goes to files
// in their own temporary folder.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

// A child process with stdout and stderr sent to a file; killed (SIGTERM, then
// SIGKILL) and reaped by the destructor.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Exited();  // true once the process has ended (it is then reaped)
  pid_t pid() const { return pid_; }
  // Once Exited: the exit status, or -1 when a signal ended it.
  int exitCode() const { return exitCode_; }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int exitCode_ = -1;
};

// A port on 127.0.0.1 that nothing listened on a moment ago.
int PickFreePort();
// Waits until something accepts connections on 127.0.0.1:port (false after timeoutMs).
bool WaitUntilAccepting(int port, int timeoutMs, ChildProcess* server = nullptr);

// NginxOptions::extra for a server that sends ".ini" files gzip-compressed to
// clients that accept it, as one set up to save bandwidth on manifests does.
inline constexpr const char* kNginxGzipIni =
    "    types { text/plain ini; }\n    gzip on;\n    gzip_types text/plain;\n    gzip_min_length 1;\n";

struct NginxOptions {
  // nginx syntax, e.g. "256k": slows every response down (without sendfile,
  // whose large writes would let small files through at once).
  std::string limitRate;
  // Serve root only to requests whose Host names this; any other name gets 404.
  std::string serverName;
  // PEM files: the port speaks TLS only.
  std::string certificate, key;
  // Extra directives inside the server block (e.g. a location that redirects).
  std::string extra;
};

// nginx serving root (with HTTP/1.1 keep-alive and byte ranges). The access log
// has one line per request:
// "<method> <uri> <status> <Range header or -> <Host header or -> <body bytes sent>
// <connection number>".
class NginxServer {
 public:
  explicit NginxServer(const std::string& root, const std::string& limitRate = "");
  NginxServer(const std::string& root, const NginxOptions& options);
  ~NginxServer();

  int port() const { return port_; }
  // The access log, read once no request has been logged for 100 ms.
  std::string AccessLog() const;
  // One line per request: "<uri> <User-Agent header>", read the same way.
  std::string AgentLog() const;

 private:
  std::string StillLog(const std::string& name) const;

  TempDir dir_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

// Python's http.server serving root, with faults on chosen paths (see
// fault_server.py). Request log lines: "<method> <path> <Range header or ->".
class FaultServer {
 public:
  explicit FaultServer(const std::string& root);
  ~FaultServer();

  int port() const { return port_; }
  // Sets the fault for a request path as sent (percent-encoded), as the JSON
  // object text of fault_server.py, e.g. R"({"status": 404})".
  void SetRule(const std::string& path, const std::string& ruleJson);
  std::vector<std::string> RequestLog() const;
  // The paths of the requests, in order.
  std::vector<std::string> RequestedPaths() const;

 private:
  TempDir dir_;
  int port_ = 0;
  std::vector<std::pair<std::string, std::string>> rules_;
  std::unique_ptr<ChildProcess> process_;
};

// tinyproxy, allowing 127.0.0.1, no upstream; its log lists each request.
class TinyProxy {
 public:
  TinyProxy();
  ~TinyProxy();

  int port() const { return port_; }
  std::string Log() const;

 private:
  TempDir dir_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

// A certificate authority and a server certificate it signed for names (DNS
// names, or IP addresses as "IP:127.0.0.1"), made with the openssl command in
// directory: ca.pem, server.pem, server.key. Throws when openssl fails.
struct TestCertificates {
  std::string ca, certificate, key;
};
TestCertificates MakeCertificates(const std::string& directory, const std::vector<std::string>& names);

// An Ed25519 key pair made with openssl genpkey: <name>.key (private), <name>.pub (public PEM).
struct Ed25519KeyFiles {
  std::string privateKey, publicKey;
};
Ed25519KeyFiles MakeEd25519Key(const std::string& directory, const std::string& name);

// Signs the manifest file with the private key into <manifest>.sig, as
// zolt-publish does. The file first gets a release header for type: with the
// serial given (replacing a header it has), else one above every serial this
// process chose before (a header it has is kept).
void SignManifestFile(const std::string& manifest, unsigned long type, const std::string& privateKey,
                      std::optional<std::uint64_t> serial = std::nullopt);
