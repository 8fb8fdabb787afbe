// The connection's cost from the network list manager (INetworkCostManager).
#include "platform/ConnectionCost.h"

#include <windows.h>
#include <netlistmgr.h>

namespace kelvora::platform {

TConnectionCost ConnectionCost() {
  // This thread may already be in COM, in either model: that is fine.
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  TConnectionCost result = TConnectionCost::Unknown;
  INetworkCostManager* costs = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkCostManager,
                                 reinterpret_cast<void**>(&costs)))) {
    DWORD cost = 0;
    if (SUCCEEDED(costs->GetCost(&cost, nullptr)) && cost != NLM_CONNECTION_COST_UNKNOWN) {
      const DWORD charged = NLM_CONNECTION_COST_FIXED | NLM_CONNECTION_COST_VARIABLE |
                            NLM_CONNECTION_COST_OVERDATALIMIT | NLM_CONNECTION_COST_ROAMING;
      result = (cost & charged) != 0 ? TConnectionCost::Metered : TConnectionCost::Unmetered;
    }
    costs->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return result;
}

}  // namespace kelvora::platform
