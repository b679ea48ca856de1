// The transfer library: fetches files from the update servers over HTTP.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/crypt/StreamDigest.h"
#include "platform/win32/Window.h"

// One update server.
struct S_UpdateSerivceAddr {
  S_UpdateSerivceAddr() = default;
  S_UpdateSerivceAddr(std::string ip, std::uint16_t port) : ip(std::move(ip)), port(port) {}

  std::string ip;          // dotted IPv4 text; may be empty
  std::uint16_t port = 0;  // 0 means 80 (443 over HTTPS)
  // The configured text the address was resolved from. A host name here is
  // what the request names (Host header; over HTTPS also SNI and the
  // certificate check) while the connection goes to ip. Empty or equal to ip:
  // the request names ip.
  std::string host;
  bool useHttps = false;  // https://, certificates checked; never redirected to http://
  std::string caFile;     // PEM bundle to check certificates against; empty: the system's store
  // The bundle's bytes, read once through the guarded seam when the server
  // record is made; libcurl gets them from memory and never opens caFile.
  std::string caBundle;
  std::string refusal;  // why this server is never asked (its CAFile was refused); empty: it is asked
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
  // seconds, shortens that window for tests). A whole fetch from one server may
  // take at most 5 minutes plus its size cap at 16 KiB/s
  // (ZOLT_TRANSFER_MAX_TIME, in seconds, replaces that bound for tests).
  //
  // Size caps: a name given to LimitSize is fetched only while its body stays
  // within that many bytes; every other name (the manifests) within
  // kDefaultSizeCap. A body that announces or delivers more fails the fetch at
  // once, without trying other servers, and keeps no ".part".
  CZOLTUpdateIntf(const std::vector<S_UpdateSerivceAddr>& servers, bool useProxy);
  ~CZOLTUpdateIntf();
  CZOLTUpdateIntf(const CZOLTUpdateIntf&) = delete;
  CZOLTUpdateIntf& operator=(const CZOLTUpdateIntf&) = delete;

  // Fetches http://<ip>:<port>/<updateType>/<remoteName with "\" as "/", each
  // segment percent-encoded> (https:// and the host name instead of ip as the
  // server record says) into localPath, trying the servers in order
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

  // Caps the body of remoteName (as later passed to GetRemoteFile) at bytes.
  void LimitSize(const std::string& remoteName, std::uint64_t bytes);
  // The cap LimitSize set for remoteName; 0 when it has none.
  std::uint64_t SizeLimit(const std::string& remoteName) const;

  // Called on the fetching thread while GetRemoteFile receives a body, at
  // most every 100 ms: the bytes of the file so far (a resumed part included)
  // and its total when the server announced one (else 0). Empty: none.
  using ProgressFunction = std::function<void(std::uint64_t received, std::uint64_t total)>;
  void SetProgress(ProgressFunction progress);
  // Drops every cap LimitSize set, so that a long list can be capped a part
  // at a time.
  void ForgetSizeLimits();
  void ForgetSizeLimit(const std::string& remoteName);

  // Body bytes received by this object so far, over every fetch and server:
  // what went over the wire, a body that was cut short or refused included.
  std::uint64_t ReceivedBytes() const;

  // Cap for names without a LimitSize of their own: 64 MiB.
  static constexpr std::uint64_t kDefaultSizeCap = 64ull << 20;

  // What a server said about a copy of a file it delivered, so that the next
  // request can ask whether it changed: the server (scheme, name and port as
  // requested) and its ETag and Last-Modified header values (either may be empty).
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
  // stored; MD5 unless set. None (0): the caller reads every stored file back
  // to check it, and flushes it then; the fetch neither digests it nor starts
  // its write-back.
  void SetDigestKinds(unsigned kinds);
  unsigned DigestKinds() const;
  // The digests of the file that the last successful fetch stored, computed
  // from the bytes as they were written (a resumed file includes its earlier
  // part). Empty texts before any fetch succeeded.
  const FileDigests& LastDigests() const;
  // Its size in bytes; 0 before any fetch succeeded.
  std::uint64_t LastSize() const;

  // Why a fetch failed goes to the run's diagnostics: for each server tried,
  // the refused or timed-out connection with its ip:port, the HTTP status with
  // the request path, a body cut short; a local write the system refused, with
  // its reason and path. When another server then delivers the file, those
  // causes are only logged.
  //
  // True when the last GetRemoteFile failed although every server tried
  // answered (with an error status, or a body cut short): the file is missing
  // or broken there, and asking for the next file may still succeed.
  bool LastFetchAnswered() const;
  // True when the last fetch failed and its causes went to the diagnostics
  // as causes (stderr and the log): the caller then says nothing more about
  // that failure, or one cause would be printed twice.
  bool LastFetchReported() const;
  // The errno of the local write that ended the last fetch (ENOSPC: the disk
  // is full); 0 when none did.
  int LastWriteError() const;

  // The User-Agent of objects created afterwards becomes
  // "ZOLTUpdate/<updater version> (installed <version>)", so that server logs
  // show what the installations run. Any thread.
  static void SetInstalledVersion(const std::string& version);

  // Called for each server GetSignedFile tries, after remoteName was fetched
  // from it (arrived true; its signature, when the server had one, is at
  // localPath + ".sig") or could not be (arrived false). True accepts the pair.
  using SignedFileCheck = std::function<bool(const S_UpdateSerivceAddr& server, bool arrived)>;

  // Fetches remoteName and then remoteName + ".sig" from one server at a
  // time, in list order, until check accepts what one server gave: a server
  // whose pair is refused counts as failed, and neither of its files is left
  // at localPath or localPath + ".sig". Returns 0 once a pair is accepted, -1
  // when no server gave one (or on Cancel).
  //
  // With kept given, remoteName is fetched as GetRemoteManifest fetches it
  // (kept describes the answer afterwards). When the server that delivered the
  // kept copy answers 304, useKept must put the kept file and its kept
  // signature at localPath and localPath + ".sig" (false: none kept), and check
  // judges them as it judges a fresh pair; 1 is returned when that pair is
  // accepted.
  int GetSignedFile(unsigned updateType, const char* remoteName, const char* localPath, const SignedFileCheck& check,
                    Validators* kept = nullptr, const std::function<bool()>& useKept = {});

  // Caps the receive rate of this object's later fetches, taken together, at
  // bytesPerSecond (at most a quarter second's worth at once); 0: no cap.
  void SetMaxReceiveRate(std::uint64_t bytesPerSecond);

  // The latest time a server asked this object's fetches to wait until, by
  // a 429 or 503 answer with Retry-After (seconds, or an HTTP date); 0 when
  // none asked. Honoured as a minimum and capped: 24 hours from the answer
  // over HTTPS, 1 hour over plain HTTP, where anyone on the way could send it.
  std::int64_t RetryAfter() const;
  static constexpr std::int64_t kRetryAfterCapHttps = 24 * 3600;
  static constexpr std::int64_t kRetryAfterCapHttp = 3600;

  // Makes a running fetch fail within a second, and every later one at once.
  // May be called from any thread while the object exists.
  void Cancel();

  // The path part of the request for a remote name: "/<updateType>/<segments>".
  static std::string RequestPath(unsigned updateType, const std::string& remoteName);

 private:
  // GetRemoteFile over the servers [firstServer, endServer) of the list.
  // conditional: fetch as a manifest (see GetRemoteManifest), or null.
  int Get(unsigned updateType, const char* remoteName, const char* localPath, HWND notifyWnd, unsigned notifyMsg,
          std::size_t firstServer, std::size_t endServer, Validators* conditional);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};
