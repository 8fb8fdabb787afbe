// The Windows side of the framework, thread and utils units: the message
// queue loop back-end, thread priorities, files with their attributes and
// times, and the special folders.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "framework/FileDescriptors.h"
#include "framework/win32/AddressWaitPool.h"
#include "framework/win32/Wide.h"
#include "kelvora/Application.h"
#include "kelvora/PartFile.h"
#include "kelvora/UpdaterFile.h"
#include "kelvora/Streams.h"
#include "kelvora/kvThread.h"
#include "kelvora/kvUtils.h"
#include "kelvora/win32/kvWin32Loop.h"
#include "updater/TransactionFiles.h"

using namespace kelvora;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A message loop of the host's kind (as a message box runs one), for at most
// Limit or until Done() holds.
template <class Pred>
bool ForeignLoopUntil(Pred Done, std::chrono::milliseconds Limit = 5000ms) {
  const auto end = Clock::now() + Limit;
  while (!Done()) {
    if (Clock::now() > end) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  return true;
}

template <class Pred>
bool PumpUntil(Pred Done, std::chrono::milliseconds Limit = 5000ms) {
  const auto end = Clock::now() + Limit;
  while (!Done()) {
    if (Clock::now() > end) return false;
    LoopBackend().WaitFor(nullptr, 10, TWakeMask::AnyInput);
    Application().ProcessMessages();
  }
  return true;
}

// A window of the UI thread that counts what it is sent.
struct TCountingWindow {
  static LRESULT CALLBACK Proc(HWND W, UINT M, WPARAM Wp, LPARAM Lp) {
    if (M == WM_USER + 1) {
      ++*reinterpret_cast<int*>(::GetWindowLongPtrW(W, GWLP_USERDATA));
      return 42;
    }
    return ::DefWindowProcW(W, M, Wp, Lp);
  }
  explicit TCountingWindow(int* Counter) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KvCountingWindow";
    ::RegisterClassExW(&wc);
    Window = ::CreateWindowExW(0, L"KvCountingWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Counter));
  }
  ~TCountingWindow() { ::DestroyWindow(Window); }
  HWND Window;
};

// A fresh folder with a non-ASCII name in the temporary folder.
class TTempFolder {
 public:
  TTempFolder() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / std::filesystem::u8path("kvcore-\xC3\xBC\xE2\x82\xAC-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TTempFolder() {
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec))
      ::SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(path_, ec);
  }
  // UTF-8 path of Name inside the folder, with backslashes.
  std::string operator/(const std::string& Name) const { return win32::Utf8(path_.wstring()) + "\\" + Name; }

 private:
  std::filesystem::path path_;
};

TDateTime LocalDateTime(int Y, int M, int D, int h, int m, int s) {
  return static_cast<double>(std::chrono::sys_days(std::chrono::year(Y) / M / D).time_since_epoch().count()) +
         25569.0 + (h * 3600 + m * 60 + s) / 86400.0;
}

void ReadTimes(const std::wstring& File, FILETIME& Created, FILETIME& Accessed, FILETIME& Written) {
  HANDLE h = ::CreateFileW(File.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ::GetFileTime(h, &Created, &Accessed, &Written);
  ::CloseHandle(h);
}

SYSTEMTIME LocalPartsOf(const FILETIME& T) {
  SYSTEMTIME utc{}, local{};
  ::FileTimeToSystemTime(&T, &utc);
  ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  return local;
}

}  // namespace

TEST(Win32Loop, IsTheDefaultAndServesHandOffsAndPostedCallsInAnyMessageLoop) {
  ASSERT_NE(dynamic_cast<TWin32LoopBackend*>(&LoopBackend()), nullptr);
  std::thread::id sentOn, postedOn;
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    LoopBackend().Post([&] { postedOn = std::this_thread::get_id(); });
    LoopBackend().Send([&] { sentOn = std::this_thread::get_id(); });
    try {
      LoopBackend().Send([] { throw EConvertError("bad value"); });
    } catch (const EConvertError& e) {
      caught = e.what();
    }
    done = true;
    LoopBackend().Wake();
  });
  // The host's loop, not ours, serves everything.
  const bool served = ForeignLoopUntil([&] { return done.load(); });
  worker.join();
  ASSERT_TRUE(served);
  EXPECT_EQ(sentOn, std::this_thread::get_id());
  EXPECT_EQ(postedOn, std::this_thread::get_id());
  EXPECT_EQ(caught, "bad value");

  // A failing posted call is raised by ProcessMessages, after the others ran.
  int ran = 0;
  LoopBackend().Post([] { throw Exception("boom"); });
  LoopBackend().Post([&] { ++ran; });
  EXPECT_THROW(Application().ProcessMessages(), Exception);
  EXPECT_EQ(ran, 1);
}

// The address wait of Windows 7 (no WaitOnAddress): a hand-off ping-pong and
// several threads parked on one address. A lost wake-up hangs the test.
TEST(Win32AddressWait, ThePoolOfOlderWindowsLosesNoWakeUp) {
  std::atomic<std::uint32_t> ball{0};
  constexpr std::uint32_t kRounds = 20000;
  std::thread other([&] {
    for (std::uint32_t v = 1; v < 2 * kRounds; v += 2) {
      while (ball.load() != v) sys::pool::WaitWhileEqual(ball, v - 1);
      ball.store(v + 1);
      sys::pool::WakeAll(ball);
    }
  });
  for (std::uint32_t v = 0; v < 2 * kRounds; v += 2) {
    while (ball.load() != v) sys::pool::WaitWhileEqual(ball, v - 1);
    ball.store(v + 1);
    sys::pool::WakeAll(ball);
  }
  other.join();
  EXPECT_EQ(ball.load(), 2 * kRounds);

  std::atomic<std::uint32_t> gate{0};
  std::atomic<int> through{0};
  std::vector<std::thread> parked;
  for (int i = 0; i < 4; ++i)
    parked.emplace_back([&] {
      while (gate.load() == 0) sys::pool::WaitWhileEqual(gate, 0);
      ++through;
    });
  gate.store(1);
  sys::pool::WakeAll(gate);
  for (std::thread& t : parked) t.join();
  EXPECT_EQ(through.load(), 4);
}

TEST(Win32Loop, WaitMasksSignalsAndWakeUps) {
  TLoopBackend& loop = LoopBackend();
  // Hand-offs only: a posted call and a message of the host's own window do
  // not end the wait; any input does.
  int sent = 0;
  TCountingWindow window(&sent);
  bool posted = false;
  loop.Post([&] { posted = true; });
  ::PostMessageW(window.Window, WM_USER + 2, 0, 0);
  EXPECT_EQ(loop.WaitFor(nullptr, 40, TWakeMask::SentCalls), TWaitResult::Timeout);
  EXPECT_FALSE(posted);
  EXPECT_EQ(loop.WaitFor(nullptr, 40, TWakeMask::AnyInput), TWaitResult::Input);
  Application().ProcessMessages();
  EXPECT_TRUE(posted);

  // A hand-off ends the narrow wait; a window message another thread sends
  // is delivered during it, so that thread is never blocked by the wait.
  TSignal signal;
  std::atomic<LRESULT> answer{0};
  std::thread worker([&] {
    answer = ::SendMessageW(window.Window, WM_USER + 1, 0, 0);
    loop.Send([] {});
    signal.Set();
  });
  TWaitResult r;
  const auto end = Clock::now() + 5s;
  while ((r = loop.WaitFor(&signal, 100, TWakeMask::SentCalls)) != TWaitResult::Signalled && Clock::now() < end)
    if (r == TWaitResult::Input) loop.ServeSentCalls();
  worker.join();
  EXPECT_EQ(r, TWaitResult::Signalled);
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(answer, 42);

  // A bare wake-up from another thread ends a wait without a time limit.
  std::thread waker([&] {
    std::this_thread::sleep_for(30ms);
    loop.Wake();
  });
  EXPECT_EQ(loop.WaitFor(nullptr, 0, TWakeMask::SentCalls), TWaitResult::Input);
  waker.join();

  // Run ends when its flag is set from a worker; a WM_QUIT terminates the
  // application.
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    loop.Post([] {});
    stop = true;
    loop.Wake();
  });
  loop.Run(stop);
  stopper.join();
  Application().ClearTerminated();
  ::PostQuitMessage(0);
  Application().ProcessMessages();
  EXPECT_TRUE(Application().Terminated());
  Application().ClearTerminated();
}

TEST(Win32Loop, TimersAreKeyedByOwnerAndIdAndFireInAnyMessageLoop) {
  auto& loop = dynamic_cast<TWin32LoopBackend&>(LoopBackend());
  int owner1 = 0, owner2 = 0;
  int fired1 = 0, fired2 = 0, fromWorker = 0;
  ASSERT_TRUE(loop.SetTimer(&owner1, 1, 10, [&] { ++fired1; }));
  ASSERT_TRUE(loop.SetTimer(&owner2, 1, 10, [&] { ++fired2; }));
  ASSERT_TRUE(loop.SetTimer(&owner1, 1, 10, [&] { fired1 += 100; }));  // replaces
  EXPECT_EQ(loop.TimerCount(), 2);
  std::thread worker([&] { loop.SetTimer(&owner2, 2, 10, [&] { ++fromWorker; }); });
  worker.join();
  EXPECT_TRUE(PumpUntil([&] { return fired1 > 0 && fired2 > 0; }));
  EXPECT_GE(fired1, 100);
  EXPECT_TRUE(ForeignLoopUntil([&] { return fromWorker > 0; })) << "a timer started from a worker, in the host's loop";

  loop.KillTimer(&owner1, 1);
  loop.KillTimer(&owner2, 1);
  loop.KillTimer(&owner2, 2);
  EXPECT_EQ(loop.TimerCount(), 0);
  EXPECT_FALSE(loop.HasTimer(&owner1, 1));
  const int before = fired1 + fired2 + fromWorker;
  PumpUntil([] { return false; }, 80ms);
  EXPECT_EQ(fired1 + fired2 + fromWorker, before) << "a killed timer stays quiet";
}

TEST(Win32Thread, PriorityReachesTheSystemAndCarriesOverToTheNextJob) {
  TkvCustomThread c(nullptr);
  c.SetPriority(tpHigher);
  std::atomic<int> seen[2] = {99, 99};
  std::atomic<int> jobs{0};
  std::atomic<bool> release{false};
  TThreadPriority whileRunning = tpIdle;
  c.SetOnExecute([&](TObject*) {
    const int n = jobs++;
    seen[n] = ::GetThreadPriority(::GetCurrentThread());
    while (n == 1 && !release) std::this_thread::sleep_for(1ms);
  });
  c.Execute();
  ASSERT_TRUE(PumpUntil([&] { return jobs == 1 && !c.Running(); }));
  c.SetPriority(tpLowest);
  c.Execute();
  ASSERT_TRUE(PumpUntil([&] { return jobs == 2; }));
  whileRunning = c.Priority();
  release = true;
  ASSERT_TRUE(PumpUntil([&] { return !c.Running(); }));
  EXPECT_EQ(seen[0], THREAD_PRIORITY_ABOVE_NORMAL);
  EXPECT_EQ(seen[1], THREAD_PRIORITY_LOWEST);
  EXPECT_EQ(whileRunning, tpLowest);
}

TEST(Win32Files, FoldersSizesAttributesAndTimesOfARealFile) {
  TTempFolder dir;
  const std::string file = dir / "a\\b\\c\\f\xC3\xA9.txt";
  ForceFolders(file);
  EXPECT_TRUE(FolderExists(dir / "a\\b\\c"));
  {
    TFileStream f(file, fmCreate);
    f.WriteBuffer("x\ny", 3);  // binary: no line-end translation
  }
  EXPECT_EQ(FileSizeOf(file), 3);
  EXPECT_FALSE(FolderExists(file));
  EXPECT_EQ(FileSizeOf(dir / "a"), -1);
  EXPECT_EQ(FileSizeOf(dir / "missing"), -1);

  const std::wstring wide = win32::Wide(file);
  ASSERT_TRUE(ApplyFileAttributes(file, {atrHidden, atrArchive}));
  EXPECT_EQ(::GetFileAttributesW(wide.c_str()) & 0x1127u, 0x22u);
  TkvFileAttributes read;
  ASSERT_TRUE(ReadFileAttributes(file, read));
  EXPECT_TRUE(read == (TkvFileAttributes{atrHidden, atrArchive}));
  // The empty set clears them all (Wine keeps showing "archive" on every
  // file of a Unix file system).
  ASSERT_TRUE(ApplyFileAttributes(file, {}));
  EXPECT_EQ(::GetFileAttributesW(wide.c_str()) & 0x1107u, 0u);
  ASSERT_TRUE(ReadFileAttributes(file, read));
  EXPECT_TRUE((read - TkvFileAttributes{atrArchive}) == TkvFileAttributes{});

  // Times are local date-times, kept in two-second steps; -1 keeps a time.
  const TDateTime modified = LocalDateTime(2020, 6, 15, 12, 34, 57);
  ASSERT_TRUE(SetFileTimes(file, modified, modified, -1));
  FILETIME created, accessed, written;
  ReadTimes(wide, created, accessed, written);
  const SYSTEMTIME w = LocalPartsOf(written);
  EXPECT_EQ(w.wYear, 2020);
  EXPECT_EQ(w.wHour, 12);
  EXPECT_EQ(w.wMinute, 34);
  EXPECT_EQ(w.wSecond, 56);
  EXPECT_EQ(LocalPartsOf(created).wYear, 2020);
  const FILETIME writtenBefore = written;
  EXPECT_TRUE(SetFileTimes(file, -1, -1, -1));
  ReadTimes(wide, created, accessed, written);
  EXPECT_EQ(::CompareFileTime(&written, &writtenBefore), 0);
  EXPECT_TRUE(SetFileTimes(file, -1, LocalDateTime(1970, 1, 1, 0, 0, 0), -1)) << "out of range: kept";
  ReadTimes(wide, created, accessed, written);
  EXPECT_EQ(::CompareFileTime(&written, &writtenBefore), 0);

  ASSERT_TRUE(ApplyFileAttributes(file, {atrReadOnly}));
  EXPECT_EQ(::GetFileAttributesW(wide.c_str()) & 0x1107u, 0x1u);
  ASSERT_TRUE(ApplyFileAttributes(file, {}));
  EXPECT_FALSE(ApplyFileAttributes(dir / "missing", {}));

  // The string list's values file: CR LF exactly, under a non-ASCII name.
  TkvStringList list;
  list.Add("a=x");
  list.Add("b");
  list.SaveValuesToFile(dir / "v\xC3\xA9.txt");
  std::ifstream in(std::filesystem::u8path(dir / "v\xC3\xA9.txt"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "x\r\n");
}

TEST(Win32Files, APartFileIsWrittenRenamedAndCheckedAsTheOneFileItWasMadeAs) {
  TTempFolder dir;
  const std::string part = dir / "a.bin.uPART";
  detail::TPartFile file(part);
  ASSERT_TRUE(file.Create({atrHidden, atrTemporary}));
  EXPECT_TRUE(::GetFileAttributesW(win32::Wide(part).c_str()) & FILE_ATTRIBUTE_HIDDEN) << "set through the open file";
  // Written through a descriptor of the open file, never by its name; no
  // one else may write to it meanwhile.
  const int fd = file.Opener()();
  ASSERT_GE(fd, 0);
  ASSERT_EQ(sys::WriteFile(fd, "new", 3), 3);
  sys::CloseFile(fd);
  EXPECT_EQ(::CreateFileW(win32::Wide(part).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_TRUE(file.StillNamed());
  ASSERT_TRUE(file.CompleteAs(dir / "a.bin.uTMP", {atrArchive, atrHidden}, -1)) << file.Refusal();
  EXPECT_FALSE(updater::Exists(part));
  std::ifstream done(std::filesystem::u8path(dir / "a.bin.uTMP"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(done), {}), "new");

  // Moved aside while written, another file put at its name: that file is
  // neither checked, renamed nor changed.
  detail::TPartFile second(part);
  ASSERT_TRUE(second.Create({}));
  ASSERT_TRUE(::MoveFileW(win32::Wide(part).c_str(), win32::Wide(dir / "aside").c_str()));
  { std::ofstream(std::filesystem::u8path(part), std::ios::binary) << "someone else's"; }
  EXPECT_FALSE(second.StillNamed());
  EXPECT_FALSE(second.CompleteAs(dir / "b.bin.uTMP", {}, -1));
  EXPECT_NE(second.Refusal().find("replaced"), std::string::npos) << second.Refusal();
  EXPECT_FALSE(updater::Exists(dir / "b.bin.uTMP"));
  std::ifstream kept(std::filesystem::u8path(part), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "someone else's");
}

TEST(Win32Files, TwoProgramsEachWriteAndStartAnUpdaterOfTheirOwn) {
  // The updater: a real program that records its arguments.
  wchar_t self[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::filesystem::path here = std::filesystem::path(std::wstring(self, n)).parent_path();
  std::ifstream in(here / "kv_win_echo_args.exe", std::ios::binary);
  const std::string program((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(program.empty());
  TTempFolder dir;
  const std::string one = "C:\\Apps\\One\\one.exe", two = "C:\\Apps\\Two\\two.exe";
  EXPECT_EQ(detail::UpdaterFileName("c:/apps/ONE/One.exe"), detail::UpdaterFileName(one)) << "one program, one name";
  ASSERT_NE(detail::UpdaterFileName(one), detail::UpdaterFileName(two));

  // The first program's updater is written and held, as until its start
  // (and then while it runs, waiting for a confirmation); the second
  // program writes and starts its own meanwhile, and so does the first.
  detail::TUpdaterFile first, second;
  ASSERT_TRUE(detail::WriteUpdaterFile(GetTempFolder(), detail::UpdaterFileName(one), program, first));
  ASSERT_TRUE(detail::WriteUpdaterFile(GetTempFolder(), detail::UpdaterFileName(two), program, second))
      << std::strerror(errno);
  for (auto* file : {&second, &first}) {
    const std::string out = dir / (file == &first ? "one.out" : "two.out");
    ::SetEnvironmentVariableW(L"KV_ECHO_OUT", win32::Wide(out).c_str());
    ASSERT_GT(detail::StartUpdater(*file, {file->Path, "ran"}, -1), 0);
    const auto end = Clock::now() + 30s;
    while (!std::filesystem::exists(std::filesystem::u8path(out)) && Clock::now() < end) std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(out))) << file->Path;
  }
  ::SetEnvironmentVariableW(L"KV_ECHO_OUT", nullptr);
  for (auto* file : {&first, &second}) {
    const auto end = Clock::now() + 10s;
    do detail::RemoveUpdaterFile(*file);
    while (updater::Exists(file->Path) && Clock::now() < end && (std::this_thread::sleep_for(50ms), true));
  }
}

TEST(Win32Folders, SpecialFoldersAndRelativePaths) {
  EXPECT_NE(CurrentExeName().find("win32_core_tests.exe"), std::string::npos);
  ASSERT_FALSE(CurrentFolder().empty());
  EXPECT_EQ(CurrentFolder().back(), '\\');
  EXPECT_TRUE(FolderExists(GetWindowsFolder()));
  EXPECT_TRUE(FolderExists(GetSystemFolder()));
  EXPECT_TRUE(FolderExists(GetTempFolder()));
  EXPECT_EQ(GetSpecialFolder(5), GetWindowsFolder().substr(0, 3) + "Program Files\\");
  EXPECT_EQ(GetSpecialFolder(10), GetWindowsFolder() + "MEDIA\\");
  for (int i = 0; i <= 11; ++i) {
    const std::string f = GetSpecialFolder(i);
    ASSERT_FALSE(f.empty()) << i;
    EXPECT_EQ(f.back(), '\\') << i;
  }
  EXPECT_EQ(GetSpecialFolder(12), "");
  EXPECT_EQ(ExpandFolderMacros("%WinDows%a.ini", false), GetWindowsFolder() + "a.ini");
  EXPECT_EQ(ExpandFolderMacros("data\\app.ini", true), CurrentFolder() + "data\\app.ini");
  EXPECT_EQ(ExpandFolderMacros("C:\\x.ini", true), "C:\\x.ini");
  EXPECT_EQ(ExpandFolderMacros("\\\\server\\share\\f.txt", true), "\\\\server\\share\\f.txt");
  EXPECT_EQ(ExpandFolderMacros("ab", true), "ab");
}

TEST(Win32Browser, ProgramOfAKindOfFileFromTheUsersClasses) {
  // Written under the user's classes, which HKEY_CLASSES_ROOT shows merged;
  // the only verb has "open" somewhere in its name.
  const std::wstring ext = L"Software\\Classes\\.kvcoretest", type = L"Software\\Classes\\KvCoreTest.File";
  auto setDefault = [](const std::wstring& Key, const std::wstring& Value) {
    HKEY k;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, Key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()),
                     static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(k);
  };
  setDefault(ext, L"KvCoreTest.File");
  setDefault(type + L"\\shell\\Open with browser\\command", L"\"C:\\Program Files\\Br\u00f6wser\\b.exe\" \"%1\"");
  const std::string program = GetAssociatedProgram(".kvcoretest");
  ::RegDeleteTreeW(HKEY_CURRENT_USER, ext.c_str());
  ::RegDeleteTreeW(HKEY_CURRENT_USER, type.c_str());
  EXPECT_EQ(program, "C:\\Program Files\\Br\xC3\xB6wser\\b.exe");
  EXPECT_EQ(GetAssociatedProgram(".kvcoretest"), "");
  EXPECT_EQ(GetAssociatedProgram("."), "");
}
