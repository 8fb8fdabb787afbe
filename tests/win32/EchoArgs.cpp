// The program the process tests start: writes its arguments (UTF-8, each
// ended by a NUL) to the file KV_ECHO_OUT names, then one line telling
// whether the handle named by KV_ECHO_PROBE reached it, then, when
// descriptor 3 was handed over, writes "fd3" through it. The record appears
// whole (written beside, then renamed).
#include <windows.h>
#include <io.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const wchar_t* Text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, Text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, Text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* out = _wgetenv(L"KV_ECHO_OUT");
  if (out == nullptr) return 2;
  std::string record;
  for (int i = 1; i < argc; ++i) record += Utf8(argv[i]) + '\0';
  if (const wchar_t* probe = _wgetenv(L"KV_ECHO_PROBE")) {
    DWORD flags = 0;
    const auto handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(probe, nullptr, 10)));
    record += ::GetHandleInformation(handle, &flags) ? "probe inherited\n" : "probe not inherited\n";
  }
  if (_get_osfhandle(3) != -1) _write(3, "fd3", 3);
  const std::wstring part = std::wstring(out) + L".part";
  const HANDLE h = ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  DWORD done = 0;
  const bool ok = ::WriteFile(h, record.data(), static_cast<DWORD>(record.size()), &done, nullptr);
  ::CloseHandle(h);
  return ok && ::MoveFileExW(part.c_str(), out, MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
