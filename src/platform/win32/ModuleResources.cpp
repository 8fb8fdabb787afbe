#include <windows.h>
#undef FindResource

#include "platform/ModuleResources.h"
#include "platform/win32/WideExact.h"

namespace kelvora::platform {

// The resource section of the executable (the library is linked statically,
// so a host's own resource script ends up there).
bool FindModuleResource(const std::string& Name, const std::string& Type, TResourceBlock& Block) {
  std::wstring name, type;
  if (Name.empty() || Type.empty() || !WideExact(Name, name) || !WideExact(Type, type)) return false;
  const HMODULE module = ::GetModuleHandleW(nullptr);
  const HRSRC info = ::FindResourceW(module, name.c_str(), type.c_str());
  if (info == nullptr) return false;
  const HGLOBAL loaded = ::LoadResource(module, info);
  const DWORD size = ::SizeofResource(module, info);
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (data == nullptr || size == 0) return false;
  Block = TResourceBlock{static_cast<const std::uint8_t*>(data), size};
  return true;
}

}  // namespace kelvora::platform
