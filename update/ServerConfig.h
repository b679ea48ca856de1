// What the local configuration says about the installation and its servers.
#pragma once

#include <string>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"

// Reads the installed version and region ("Config.dat" section "Update") and
// the update servers, and the proxy flag ("UserConfig.dat" section "Server",
// "UseProxy", default 1), both files in the application directory. Appends to
// servers: the first server always, the second only when its address is not
// empty. Missing files or keys yield the defaults ("", 0, proxy on). A port
// that ParsePort refuses is a configuration fault: that server's address stays
// empty (so it is skipped) and the cause goes to stderr and the log.
//
// Each server is resolved on its own: a host name that cannot be resolved
// leaves that server's address empty, never the other server's address. So an
// unresolvable first host gives a first entry with an empty ip (the transfer
// skips it), and an unresolvable second host adds no second entry.
// Each record also keeps the configured text in host, and the transport of
// [Update] "UseHttps" (integer, non-zero: HTTPS) and "CAFile" (a PEM bundle,
// absolute or relative to the application directory; empty: the system's
// store).
// Runs on the caller's thread; a host name lookup may block for as long as the
// system resolver takes.
void ReadServerConfig(std::string& localVersion, std::string& region, std::vector<S_UpdateSerivceAddr>& servers,
                      bool& useProxy);

// The value of a port key: empty (0, the scheme's default) or a decimal
// number from 0 to 65535. Anything else ("83731", "http", "-1") is false.
bool ParsePort(const std::string& text, std::uint16_t& port);

// Puts a dotted IPv4 address for host into address and returns true. A text
// that inet_addr accepts is taken as written, without a lookup; otherwise the
// first IPv4 address the resolver gives is used. An empty host empties address
// and returns false; an unresolvable host returns false and leaves address as
// it was.
bool ResolveHostAddress(const std::string& host, std::string& address);
