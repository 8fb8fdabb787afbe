// The updater's end of a release that never confirmed, on a display: its
// windows are asked to close first (WM_CLOSE), and a program that does not
// close is ended when the grace is over. Without windows (the updater tests,
// which have no display) the job ends at once.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "framework/win32/Wide.h"
#include "updater/Launch.h"

using namespace kelvora;

namespace {

std::filesystem::path Beside(const wchar_t* Name) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::filesystem::path(self).parent_path() / Name;
}

// Whether process Pid shows its window within 15 s.
bool HasWindow(DWORD Pid) {
  for (int i = 0; i < 750; ++i) {
    for (HWND w = ::FindWindowW(L"KvClosableWindow", nullptr); w != nullptr;
         w = ::FindWindowExW(nullptr, w, L"KvClosableWindow", nullptr)) {
      DWORD owner = 0;
      ::GetWindowThreadProcessId(w, &owner);
      if (owner == Pid) return true;
    }
    ::Sleep(20);
  }
  return false;
}

std::string Read(const std::filesystem::path& File) {
  std::ifstream in(File, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(Win32EndRelease, WindowsAreAskedToCloseBeforeTheJobEnds) {
  // Nothing here depends on the DPI: once, in the 100 % run.
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  if (dpi != 96) GTEST_SKIP() << "run at 96 dpi only";
  const std::filesystem::path program = Beside(L"kv_win_closable.exe");
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kv-end-" + std::to_string(::GetCurrentProcessId()));
  std::filesystem::create_directories(dir);
  const std::string exe = win32::Utf8(program.wstring());

  // Closes when asked, having saved.
  const std::filesystem::path closes = dir / "closes.txt";
  const pid_t a = updater::StartProgram(exe, {win32::Utf8(closes.wstring())});
  ASSERT_GT(a, 0);
  ASSERT_TRUE(HasWindow(static_cast<DWORD>(a)));
  HANDLE ha = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(a));
  updater::EndProgram(a);
  EXPECT_EQ(Read(closes), "asked saved");
  DWORD code = 99;
  EXPECT_EQ(::WaitForSingleObject(ha, 0), WAIT_OBJECT_0);
  ::GetExitCodeProcess(ha, &code);
  EXPECT_EQ(code, 0u) << "ended by force although it closed";
  ::CloseHandle(ha);

  // Asked, stays: ended by force after the grace.
  const std::filesystem::path stays = dir / "stays.txt";
  const pid_t b = updater::StartProgram(exe, {win32::Utf8(stays.wstring()), "--stay"});
  ASSERT_GT(b, 0);
  ASSERT_TRUE(HasWindow(static_cast<DWORD>(b)));
  HANDLE hb = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(b));
  updater::EndProgram(b);
  EXPECT_EQ(Read(stays), "asked");
  EXPECT_EQ(::WaitForSingleObject(hb, 0), WAIT_OBJECT_0);
  ::CloseHandle(hb);
  std::filesystem::remove_all(dir);
}
