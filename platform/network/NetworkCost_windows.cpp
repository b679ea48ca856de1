// Not built yet on Windows: asking INetworkCostManager (netlistmgr.h) for
// NLM_CONNECTION_COST_VARIABLE or _OVERDATALIMIT would be the counterpart of
// NetworkManager's "Metered". Until then every connection reads as unknown,
// which never defers a download (docs/platform.md).
#include "platform/network/NetworkCost.h"

NetworkCost CurrentNetworkCost(std::string& detail) {
  detail = "the connection's cost is not asked on Windows yet";
  return NetworkCost::kUnknown;
}
