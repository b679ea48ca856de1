// Whether the connection the system uses now is paid by the byte, so that a
// run nobody asked for at that moment (the silent one) can leave its
// downloads for later.
#pragma once

#include <string>

enum class NetworkCost {
  kUnknown,    // nobody to ask (no NetworkManager, no system bus) or no answer
  kUnmetered,  // not metered, or the system only guesses it is not
  kMetered,    // metered, or the system guesses it is
};

// Asks the system, within about two seconds. On Linux: NetworkManager's
// "Metered" property (org.freedesktop.NetworkManager on the system bus; 1 yes
// and 3 guess-yes are metered), never starting NetworkManager when it does not
// run. The system bus is the one DBUS_SYSTEM_BUS_ADDRESS names, when set.
// On Windows: INetworkCostManager::GetCost for the machine; "unrestricted" is
// not metered, any other known cost (fixed, variable, roaming, over or near
// the plan's limit) is.
// detail: what was asked and what it said (or why nothing), for the log.
NetworkCost CurrentNetworkCost(std::string& detail);
