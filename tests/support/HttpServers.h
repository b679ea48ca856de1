// Real servers for tests and benchmarks, each started on 127.0.0.1 on a port
// the system picks, and stopped by the destructor. Their output goes to files
// in their own temporary folder.
#pragma once

#include <sys/types.h>

#include <memory>
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

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// A port on 127.0.0.1 that nothing listened on a moment ago.
int PickFreePort();
// Waits until something accepts connections on 127.0.0.1:port (false after timeoutMs).
bool WaitUntilAccepting(int port, int timeoutMs, ChildProcess* server = nullptr);

// nginx serving root (with HTTP/1.1 keep-alive, byte ranges, ETag and
// Last-Modified). The access log has one line per request: "<method> <uri>
// <status> <Range header or -> <body bytes sent> <connection number>".
class NginxServer {
 public:
  // limitRate (nginx syntax, e.g. "256k") slows every response down (without
  // sendfile, whose large writes would let small files through at once).
  // gzipIni: ".ini" files go out gzip-compressed to clients that accept it, as
  // a server set up to save bandwidth on manifests would send them.
  explicit NginxServer(const std::string& root, const std::string& limitRate = "", bool gzipIni = false);
  ~NginxServer();

  int port() const { return port_; }
  // The access log, read once no request has been logged for 100 ms.
  std::string AccessLog() const;

 private:
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
