#include "platform/Resources.h"

#include <map>
#include <mutex>
#include <utility>

#include "platform/ModuleResources.h"

namespace kelvora::platform {

namespace {

std::string Upper(std::string S) {
  for (auto& c : S)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return S;
}

struct TRegistry {
  std::mutex Mutex;
  std::map<std::pair<std::string, std::string>, TResourceBlock> Blocks;
};

TRegistry& Registry() {
  static TRegistry* r = new TRegistry;  // never destroyed: usable until the very end
  return *r;
}

}  // namespace

void RegisterResource(const std::string& Name, const std::string& Type, const void* Data, std::size_t Size) {
  auto& r = Registry();
  std::lock_guard lk(r.Mutex);
  r.Blocks[{Upper(Type), Upper(Name)}] = TResourceBlock{static_cast<const std::uint8_t*>(Data), Size};
}

void UnregisterResource(const std::string& Name, const std::string& Type) {
  auto& r = Registry();
  std::lock_guard lk(r.Mutex);
  r.Blocks.erase({Upper(Type), Upper(Name)});
}

bool FindResource(const std::string& Name, const std::string& Type, TResourceBlock& Block) {
  {
    auto& r = Registry();
    std::lock_guard lk(r.Mutex);
    auto it = r.Blocks.find({Upper(Type), Upper(Name)});
    if (it != r.Blocks.end()) {
      Block = it->second;
      return true;
    }
  }
  return FindModuleResource(Name, Type, Block);
}

}  // namespace kelvora::platform
