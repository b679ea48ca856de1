// The transfer library: fetches files from the update servers over HTTP.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/crypt/StreamDigest.h"
#include "platform/win32/Window.h"

// One update server.
struct S_UpdateSerivceAddr {
  std::string ip;          // dotted IPv4 text; may be empty
  std::uint16_t port = 0;  // 0 means 80
};

class CZOLTUpdateIntf {
 public:
  // Keeps its own copy of servers. useProxy true: the proxy variables of the
  // environment apply (http_proxy, HTTPS_PROXY, ALL_PROXY, no_proxy, with
  // credentials in the proxy URL); false: never a proxy. Used by one thread
  // only, except Cancel.
  //
  // Time limits: 15 s to connect; a transfer slower than 1 KiB/s for 30 s is
  // abandoned (the environment variable ZOLT_TRANSFER_LOW_SPEED_TIME, in
  // seconds, shortens that window for tests); no limit on the whole transfer.
  CZOLTUpdateIntf(const std::vector<S_UpdateSerivceAddr>& servers, bool useProxy);
  ~CZOLTUpdateIntf();
  CZOLTUpdateIntf(const CZOLTUpdateIntf&) = delete;
  CZOLTUpdateIntf& operator=(const CZOLTUpdateIntf&) = delete;

  // Fetches http://<ip>:<port>/<updateType>/<remoteName with "\" as "/", each
  // segment percent-encoded> into localPath, trying the servers in order
  // (entries with an empty ip are skipped; a refused or timed-out connection,
  // an error status or a body cut short moves on to the next). The file is
  // received as localPath + ".part" and renamed to localPath only when
  // complete; a ".part" left by an earlier attempt is resumed with a range
  // request when the server still has the same file. Returns -1 when no server
  // delivered the file (or on Cancel); then nothing is at localPath, not even
  // an older file. Returns 0 when the file is in place.
  //
  // With notifyWnd given, sends (SendMessageA) notifyMsg reports to it from
  // the calling thread: progress pairs (received, total) at most every 100 ms,
  // never with equal values and never with lParam -1, and, after the file is in
  // place, exactly one report with wParam == lParam == its size. A window that
  // is gone ends the fetch as a failure.
  int GetRemoteFile(unsigned updateType, const char* remoteName, const char* localPath, HWND notifyWnd,
                    unsigned notifyMsg);

  // What a server said about a copy of a file it delivered, so that the next
  // request can ask whether it changed: the server ("ip:port") and its ETag and
  // Last-Modified header values (either may be empty).
  struct Validators {
    std::string server;
    std::string etag;
    std::string lastModified;
  };

  // Fetches a manifest into localPath like GetRemoteFile without reports, with
  // three differences: the server may send it gzip-compressed (it is stored
  // decoded, and any size limit counts decoded bytes); nothing is resumed; and
  // the server named by kept.server, when it is asked, is asked conditionally
  // (If-None-Match, If-Modified-Since). Returns 0 when a copy is at localPath,
  // with kept then describing it (its ETag and Last-Modified empty when they
  // could not tell a change: the file was modified within a second of being
  // served); 1 when that server answered 304 Not Modified (nothing at
  // localPath: the kept copy is current); -1 on failure.
  int GetRemoteManifest(unsigned updateType, const char* remoteName, const char* localPath, Validators& kept);

  // Which digests (DigestKind values) are taken of each file while it is
  // stored; MD5 unless set.
  void SetDigestKinds(unsigned kinds);
  // The digests of the file that the last successful fetch stored, computed
  // from the bytes as they were written (a resumed file includes its earlier
  // part). Empty texts before any fetch succeeded.
  const FileDigests& LastDigests() const;

  // Makes a running fetch fail within a second, and every later one at once.
  // May be called from any thread while the object exists.
  void Cancel();

  // The path part of the request for a remote name: "/<updateType>/<segments>".
  static std::string RequestPath(unsigned updateType, const std::string& remoteName);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int Get(unsigned updateType, const char* remoteName, const char* localPath, HWND notifyWnd, unsigned notifyMsg,
          Validators* conditional);
};
