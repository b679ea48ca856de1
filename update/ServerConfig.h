// What the local configuration says about the installation and its servers.
#pragma once

#include <string>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"

// Reads the installed version and region and the update servers from
// "Config.dat" and the proxy flag from "UserConfig.dat", both in the
// application directory. Appends to servers (the first entry always, the second
// only with a non-empty address). Missing files or keys yield the defaults.
void ReadServerConfig(std::string& localVersion, std::string& region, std::vector<S_UpdateSerivceAddr>& servers,
                      bool& useProxy);

// Puts a dotted IPv4 address for host into address and returns true. A dotted
// host is taken as written without a lookup. An empty or unresolvable host
// returns false and leaves address as it was (empty host: address emptied).
bool ResolveHostAddress(const std::string& host, std::string& address);
