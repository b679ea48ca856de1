// The transfer library: fetches files from the update servers over HTTP.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/Window.h"

// One update server.
struct S_UpdateSerivceAddr {
  std::string ip;          // dotted IPv4 text; may be empty
  std::uint16_t port = 0;  // 0 means 80
};

class CZOLTUpdateIntf {
 public:
  // Keeps its own copy of servers. useProxy true: the proxy variables of the
  // environment apply (http_proxy, HTTPS_PROXY, ALL_PROXY, no_proxy); false:
  // never a proxy. Used by one thread only.
  CZOLTUpdateIntf(const std::vector<S_UpdateSerivceAddr>& servers, bool useProxy);
  ~CZOLTUpdateIntf();
  CZOLTUpdateIntf(const CZOLTUpdateIntf&) = delete;
  CZOLTUpdateIntf& operator=(const CZOLTUpdateIntf&) = delete;

  // Fetches http://<ip>:<port>/<updateType>/<remoteName with "\" as "/", each
  // segment percent-encoded> into localPath, trying the servers in order
  // (entries with an empty ip are skipped). The file is received as localPath +
  // ".part" and renamed to localPath only when complete; an existing ".part" is
  // resumed where the server allows. Returns -1 when no server delivered the
  // file; then nothing is at localPath. With notifyWnd given, sends notifyMsg
  // reports to it: progress pairs (wParam != lParam), and, after the file is in
  // place, exactly one report with wParam == lParam == its size.
  int GetRemoteFile(unsigned updateType, const char* remoteName, const char* localPath, HWND notifyWnd,
                    unsigned notifyMsg);

  // Makes a running or later GetRemoteFile fail promptly (within a second).
  // May be called from any thread.
  void Cancel();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
