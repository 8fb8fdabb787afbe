// Calls newer than the oldest Windows the library supports (Windows 7 SP1,
// README "Windows") are looked up at run time, never imported: a program
// importing a function the system lacks does not start at all, and the
// fall-back beside each such call could never run. tests/win32's import
// check keeps it so.
#pragma once

#include <windows.h>

namespace kelvora::win32 {

// The function Name of a system DLL the process has loaded already (kernel32,
// kernelbase, user32: never a search for a DLL by name), or null where this
// Windows lacks it.
template <class F>
F NewerCall(const wchar_t* Module, const char* Name) {
  HMODULE m = ::GetModuleHandleW(Module);
  if (m == nullptr) return nullptr;
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(m, Name)));
}

}  // namespace kelvora::win32
