// A program with one top-level window, for the updater's end of a release
// that never confirmed. On WM_CLOSE it appends "asked" to the file named
// first; then it ends, appending " saved", or with "--stay" keeps running
// (a program that will not close).
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

const wchar_t* gRecord = nullptr;
bool gStay = false;

void Note(const char* Text) {
  FILE* f = _wfopen(gRecord, L"ab");
  if (f == nullptr) return;
  std::fputs(Text, f);
  std::fclose(f);
}

LRESULT CALLBACK Proc(HWND W, UINT M, WPARAM Wp, LPARAM Lp) {
  if (M == WM_CLOSE) {
    Note("asked");
    if (gStay) return 0;
    Note(" saved");
    ::DestroyWindow(W);
    return 0;
  }
  if (M == WM_DESTROY) ::PostQuitMessage(0);
  return ::DefWindowProcW(W, M, Wp, Lp);
}

}  // namespace

int wmain(int Argc, wchar_t** Argv) {
  if (Argc < 2) return 2;
  gRecord = Argv[1];
  gStay = Argc > 2 && std::wcscmp(Argv[2], L"--stay") == 0;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KvClosableWindow";
  ::RegisterClassExW(&wc);
  HWND w = ::CreateWindowExW(0, wc.lpszClassName, L"Closable", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr, nullptr,
                             wc.hInstance, nullptr);
  if (w == nullptr) return 3;
  ::ShowWindow(w, SW_SHOWNOACTIVATE);
  MSG m;
  while (::GetMessageW(&m, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&m);
    ::DispatchMessageW(&m);
  }
  return 0;
}
