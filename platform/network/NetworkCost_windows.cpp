// Windows keeps the cost of the connection it routes by, as the user set it
// ("metered connection") or as the carrier's plan reports it; the Network
// List Manager answers for the machine as a whole.
#include "platform/network/NetworkCost.h"

// The interface and class identifiers, defined in this one file.
#include <initguid.h>
// clang-format off
#include <objbase.h>
#include <netlistmgr.h>
// clang-format on

#include <cstdio>

namespace {

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lX", value);
  return text;
}

// COM for this thread, as long as the question takes; a thread that has it
// already, in either model, keeps it.
class ComScope {
 public:
  ComScope() : result_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
};

}  // namespace

NetworkCost CurrentNetworkCost(std::string& detail) {
  ComScope com;
  if (!com.Usable()) {
    detail = "COM could not be started (" + Hex(static_cast<unsigned long>(com.Result())) + ")";
    return NetworkCost::kUnknown;
  }
  INetworkCostManager* manager = nullptr;
  HRESULT result = ::CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkCostManager,
                                      reinterpret_cast<void**>(&manager));
  if (FAILED(result) || manager == nullptr) {
    detail = "no Network List Manager (" + Hex(static_cast<unsigned long>(result)) + ")";
    return NetworkCost::kUnknown;
  }
  DWORD cost = NLM_CONNECTION_COST_UNKNOWN;
  result = manager->GetCost(&cost, nullptr);
  manager->Release();
  if (FAILED(result)) {
    detail = "the Network List Manager gave no cost (" + Hex(static_cast<unsigned long>(result)) + ")";
    return NetworkCost::kUnknown;
  }
  detail = "the Network List Manager says cost " + Hex(cost);
  // Only "unrestricted" is free: a fixed plan is what Windows' own "metered
  // connection" switch sets, and a variable, roaming or nearly used-up plan
  // is paid by the byte, as NetworkManager's Metered says.
  if (cost == NLM_CONNECTION_COST_UNKNOWN) return NetworkCost::kUnknown;
  constexpr DWORD kPaid = NLM_CONNECTION_COST_FIXED | NLM_CONNECTION_COST_VARIABLE |
                          NLM_CONNECTION_COST_OVERDATALIMIT | NLM_CONNECTION_COST_ROAMING |
                          NLM_CONNECTION_COST_APPROACHINGDATALIMIT;
  return (cost & kPaid) != 0 ? NetworkCost::kMetered : NetworkCost::kUnmetered;
}
