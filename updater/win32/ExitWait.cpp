// Waiting for a program file: the process handle first, then opening the
// file for writing until no sharing violation remains.
#include "../ExitWait.h"

#include <algorithm>
#include <cstdint>
#include <thread>

#include "Wide.h"

namespace kelvora::updater {

namespace {

constexpr auto kFirstPause = std::chrono::milliseconds(1);
constexpr auto kLongestPause = std::chrono::milliseconds(100);

// Process handles keep their meaning in 32 bits (they are shared that way
// with 32-bit processes), so the int of the shared interface holds one.
int FromHandle(HANDLE H) { return static_cast<int>(reinterpret_cast<std::intptr_t>(H)); }
HANDLE ToHandle(int Watch) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(Watch)); }

bool SameFile(const std::wstring& A, const std::wstring& B) {
  auto id = [](const std::wstring& P, BY_HANDLE_FILE_INFORMATION& Info) {
    const HANDLE h = ::CreateFileW(P.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = ::GetFileInformationByHandle(h, &Info) != 0;
    ::CloseHandle(h);
    return ok;
  };
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  return id(A, a) && id(B, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool InUse(const std::string& Path) {
  // What the loader holds open refuses writers: a sharing violation.
  const HANDLE h = ::CreateFileW(Wide(Path).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    ::CloseHandle(h);
    return false;
  }
  const DWORD err = ::GetLastError();
  return err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION;
}

int WatchProcess(pid_t Pid, const std::string& Path) {
  if (Pid <= 0) return -1;
  const HANDLE h = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(Pid));
  if (h == nullptr) return -1;
  // Taken first, checked second: the handle cannot move to a reused id.
  wchar_t image[32768];
  DWORD size = sizeof image / sizeof image[0];
  if (!::QueryFullProcessImageNameW(h, 0, image, &size) || !SameFile(std::wstring(image, size), Wide(Path))) {
    ::CloseHandle(h);
    return -1;
  }
  return FromHandle(h);
}

void CloseWatch(int Watch) {
  if (Watch >= 0) ::CloseHandle(ToHandle(Watch));
}

bool WaitUntilFree(const std::string& Path, std::chrono::milliseconds Limit, int Watch) {
  bool free = false;
  std::thread waiter([&] {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    const auto end = std::chrono::steady_clock::now() + Limit;
    if (Watch >= 0) {
      const auto ms = std::clamp<long long>(Limit.count(), 0, INFINITE - 1);
      if (::WaitForSingleObject(ToHandle(Watch), static_cast<DWORD>(ms)) == WAIT_TIMEOUT) return;
    }
    auto pause = kFirstPause;
    for (;;) {
      if (!InUse(Path)) {
        free = true;
        return;
      }
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) return;
      std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(pause, end - now));
      pause = std::min<std::chrono::milliseconds>(pause * 2, kLongestPause);
    }
  });
  waiter.join();
  return free;
}

}  // namespace kelvora::updater
