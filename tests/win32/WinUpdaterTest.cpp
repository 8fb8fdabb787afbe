// The real updater (AppUpdate.exe) installing a committed queue and
// restarting the real application, in a folder whose names hold blanks and
// non-ASCII letters.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "updater/LoginUndo.h"
#include "updater/Transaction.h"
#include "updater/win32/Wide.h"

namespace kelvora::updater {
namespace {

std::wstring HereFolder() {
  wchar_t self[32768];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, 32768);
  std::wstring path(self, n);
  return path.substr(0, path.rfind(L'\\') + 1);
}

std::string ReadText(const std::wstring& Path) {
  std::ifstream in(Path.c_str(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::wstring& Path) { return ::GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A scratch program folder "<temp>\kv upd ü ß <pid>\App Ørsted\" holding the
// old build as "my app.exe"; removed afterwards.
class WinUpdater : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    root_ = std::wstring(temp) + L"kv upd \u00fc \u00df " + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    folder_ = root_ + L"App \u00d8rsted\\";
    ASSERT_TRUE(::CreateDirectoryW(root_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    app_ = folder_ + L"my app.exe";
    ASSERT_TRUE(::CopyFileW((HereFolder() + builds_ + L"old.exe").c_str(), app_.c_str(), FALSE));
    newBuild_ = ReadText(HereFolder() + builds_ + L"new.exe");
    ASSERT_FALSE(newBuild_.empty());
  }

  void TearDown() override {
    // Bounded: a restarted application may still be writing its log.
    for (int i = 0; i < 50 && !RemoveTree(root_); ++i) ::Sleep(100);
  }

  static bool RemoveTree(const std::wstring& Folder) {
    WIN32_FIND_DATAW f;
    const HANDLE h = ::FindFirstFileW((Folder + L"*").c_str(), &f);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = f.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = Folder + name;
        if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(path + L"\\");
        } else {
          ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
          ::DeleteFileW(path.c_str());
        }
      } while (::FindNextFileW(h, &f));
      ::FindClose(h);
    }
    return ::RemoveDirectoryW(Folder.c_str()) != 0;
  }

  // Stages the new build and a data file and commits the queue, as the
  // engine does once every download is complete.
  void Commit(int ConfirmSeconds = 0) {
    const std::string app = Utf8(app_), data = Utf8(folder_ + L"d\u00e4ta file.txt");
    ASSERT_TRUE(::CopyFileW((HereFolder() + builds_ + L"new.exe").c_str(), (app_ + L".uTMP").c_str(), FALSE));
    std::ofstream(Wide(data + kDownloadSuffix).c_str(), std::ios::binary) << "new data";
    const std::string state = StateFolderFor(app);
    ASSERT_TRUE(::CreateDirectoryW(Wide(state).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    std::string text;
    ASSERT_TRUE(FormatQueue({{data + kDownloadSuffix, data}, {app + kDownloadSuffix, app}}, text, ConfirmSeconds));
    ASSERT_TRUE(WriteFileDurably(QueuePath(state), text));
    queue_ = Wide(QueuePath(state));
  }

  // Starts a program with its path quoted and the given parameters; Env
  // ("NAME=value" pairs) is set for it alone.
  static PROCESS_INFORMATION Start(const std::wstring& Program, const std::wstring& Params,
                                   std::initializer_list<std::pair<const wchar_t*, std::wstring>> Env = {}) {
    for (const auto& [name, value] : Env) ::SetEnvironmentVariableW(name, value.c_str());
    std::wstring line = L"\"" + Program + L"\" " + Params;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL ok = ::CreateProcessW(Program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    for (const auto& e : Env) ::SetEnvironmentVariableW(e.first, nullptr);
    EXPECT_TRUE(ok) << "could not start " << Utf8(Program);
    if (ok) ::CloseHandle(pi.hThread);
    return pi;
  }

  static DWORD Finish(PROCESS_INFORMATION& Pi) {
    DWORD code = 259;
    if (::WaitForSingleObject(Pi.hProcess, 60000) == WAIT_OBJECT_0) ::GetExitCodeProcess(Pi.hProcess, &code);
    ::CloseHandle(Pi.hProcess);
    return code;
  }

  DWORD RunUpdater(std::initializer_list<std::pair<const wchar_t*, std::wstring>> Env = {}) {
    // The path unquoted, as the engine writes it: its blanks split it.
    PROCESS_INFORMATION pi = Start(HereFolder() + L"AppUpdate.exe", app_ + L" +/afterupgrade0", Env);
    return pi.hProcess != nullptr ? Finish(pi) : 259;
  }

  // The application's log once it holds Want (at most 30 s).
  std::string LogWith(const std::string& Want) {
    std::string log;
    for (int i = 0; i < 300 && (log = ReadText(folder_ + L"app.log")).find(Want) == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return log;
  }

  std::wstring root_, folder_, app_, queue_;
  std::string newBuild_;
  std::wstring builds_ = L"kv_win_app_";  // the old and the new build: <builds_>old.exe, <builds_>new.exe
};

// The application is still running when the updater starts: the updater
// waits for it (by its process handle, and without one by the sharing
// violation on its executable), installs, restarts it, and deletes the
// queue last.
TEST_F(WinUpdater, WaitsInstallsAndRestarts) {
  for (const bool byHandle : {true, false}) {
    SCOPED_TRACE(byHandle ? "by process handle" : "by sharing violation");
    ::DeleteFileW((folder_ + L"app.log").c_str());
    ::CopyFileW((HereFolder() + L"kv_win_app_old.exe").c_str(), app_.c_str(), FALSE);
    Commit();
    PROCESS_INFORMATION app = Start(app_, L"hold 4000");
    ASSERT_NE(app.hProcess, nullptr);
    LogWith("old hold");  // running: the executable is busy from here on
    std::initializer_list<std::pair<const wchar_t*, std::wstring>> env = {
        {L"KELVORA_UPDATER_WAIT_MS", L"30000"}, {L"KELVORA_APP_PID", std::to_wstring(app.dwProcessId)}};
    const DWORD code = byHandle ? RunUpdater(env) : RunUpdater({{L"KELVORA_UPDATER_WAIT_MS", L"30000"}});
    EXPECT_EQ(Finish(app), 0u);
    EXPECT_EQ(code, 0u);
    const std::string log = LogWith("new /afterupgrade");
    EXPECT_EQ(log, "old hold 4000\nold done\nnew /afterupgrade\n");
    EXPECT_TRUE(ReadText(app_) == newBuild_) << "the program is not the new build";
    EXPECT_EQ(ReadText(folder_ + L"d\u00e4ta file.txt"), "new data");
    EXPECT_FALSE(Exists(app_ + L".uTMP"));
    EXPECT_FALSE(Exists(queue_));
  }
}

// The restart parameter and the program's own arguments reach the restarted
// program exactly, one argument each: blanks, an empty one, quotes and
// trailing backslashes included.
TEST_F(WinUpdater, TheRestartParameterAndTheArgumentsArriveExactly) {
  ASSERT_TRUE(::CopyFileW((HereFolder() + L"kv_win_echo_args.exe").c_str(), app_.c_str(), FALSE));
  const std::string data = Utf8(folder_ + L"d\u00e4ta file.txt");
  std::ofstream(Wide(data + kDownloadSuffix).c_str(), std::ios::binary) << "new data";
  const std::string state = StateFolderFor(Utf8(app_));
  ASSERT_TRUE(::CreateDirectoryW(Wide(state).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  std::string text;
  ASSERT_TRUE(FormatQueue({{data + kDownloadSuffix, data}}, text));
  ASSERT_TRUE(WriteFileDurably(QueuePath(state), text));
  // As the engine quotes them: "+/after upgrade0" -- "" "two words" "q\"" "tail\\"
  const std::wstring out = folder_ + L"echo.out";
  PROCESS_INFORMATION pi = Start(HereFolder() + L"AppUpdate.exe",
                                 L"\"" + app_ + L"\" \"+/after upgrade0\" -- \"\" \"two words\" q\\\" \"tail\\\\\"",
                                 {{L"KV_ECHO_OUT", out}});
  ASSERT_EQ(Finish(pi), 0u);
  std::string echoed;
  for (int i = 0; i < 300 && (echoed = ReadText(out)).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  static const char kWant[] = "/after upgrade\0\0two words\0q\"\0tail\\\0";
  EXPECT_EQ(echoed, std::string(kWant, sizeof kWant - 1));
  EXPECT_EQ(ReadText(Wide(data)), "new data");
}

// The updater is killed after its first move: the program is still the old
// build (it is moved last). The next run finds an install nobody confirmed
// and undoes it: the old data is back, the downloads are gone, the old build
// starts without the restart parameter and the failure is on record.
TEST_F(WinUpdater, KilledRunIsUndoneByTheNextRun) {
  const std::wstring data = folder_ + L"d\u00e4ta file.txt";
  std::ofstream(data.c_str(), std::ios::binary) << "old data";
  Commit();
  EXPECT_EQ(RunUpdater({{L"KELVORA_UPDATER_KILL_AFTER", L"1"}}), 9u);
  EXPECT_EQ(ReadText(data), "new data");
  EXPECT_TRUE(ReadText(app_) != newBuild_) << "the program was replaced before the end";
  EXPECT_TRUE(Exists(data + L".uOLD"));

  EXPECT_EQ(RunUpdater(), 3u);
  EXPECT_EQ(LogWith("old"), "old\n");
  EXPECT_EQ(ReadText(data), "old data");
  EXPECT_TRUE(ReadText(app_) != newBuild_);
  for (const std::wstring& left : {app_ + L".uTMP", data + L".uTMP", data + L".uOLD", queue_})
    EXPECT_FALSE(Exists(left)) << Utf8(left);
  const std::string failed = ReadText(Wide(StateFolderFor(Utf8(app_)) + "failed"));
  EXPECT_NE(failed.find("interrupted"), std::string::npos) << failed;
}

// Killed after the old file got its backup name and before the new one took
// its place: the old file is still at its name (a second name, not a
// rename), and the next run undoes the install.
TEST_F(WinUpdater, KilledBetweenBackupAndMoveLeavesNoFileMissing) {
  const std::wstring data = folder_ + L"d\u00e4ta file.txt";
  std::ofstream(data.c_str(), std::ios::binary) << "old data";
  Commit();
  EXPECT_EQ(RunUpdater({{L"KELVORA_UPDATER_KILL_IN", L"backup"}}), 9u);
  EXPECT_EQ(ReadText(data), "old data");
  EXPECT_TRUE(Exists(data + L".uOLD"));
  EXPECT_EQ(RunUpdater(), 3u);
  EXPECT_EQ(ReadText(data), "old data");
  EXPECT_TRUE(ReadText(app_) != newBuild_);
  EXPECT_FALSE(Exists(data + L".uOLD"));
}

// Another program (a virus scanner) holds a data file open without sharing
// for longer than the updater's retries: the install is undone, never left
// mixed.
TEST_F(WinUpdater, FileHeldPastTheRetryBoundUndoesTheInstall) {
  const std::wstring data = folder_ + L"d\u00e4ta file.txt";
  std::ofstream(data.c_str(), std::ios::binary) << "old data";
  Commit();
  const HANDLE held = ::CreateFileW(data.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const DWORD code = RunUpdater();
  ::CloseHandle(held);
  EXPECT_EQ(code, 3u);
  EXPECT_EQ(LogWith("old"), "old\n") << "the old build, without the restart parameter";
  EXPECT_EQ(ReadText(data), "old data");
  EXPECT_TRUE(ReadText(app_) != newBuild_) << "the program was replaced";
  for (const std::wstring& left : {app_ + L".uTMP", data + L".uTMP", data + L".uOLD", queue_})
    EXPECT_FALSE(Exists(left)) << Utf8(left);
  const std::string failed = ReadText(Wide(StateFolderFor(Utf8(app_)) + "failed"));
  EXPECT_NE(failed.find(Utf8(data)), std::string::npos) << failed;
}

// The new build must confirm its start: once it does, the install is final;
// when it ends first, the old build is put back and started as an ordinary
// start.
TEST_F(WinUpdater, TheNewBuildConfirmsOrTheInstallIsUndone) {
  const std::wstring data = folder_ + L"d\u00e4ta file.txt";
  const std::wstring state = Wide(StateFolderFor(Utf8(app_)));
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "ends before confirming" : "confirms");
    ::DeleteFileW((folder_ + L"app.log").c_str());
    ::CopyFileW((HereFolder() + L"kv_win_app_old.exe").c_str(), app_.c_str(), FALSE);
    std::ofstream(data.c_str(), std::ios::binary) << "old data";
    if (fails) std::ofstream((folder_ + L"fail-start").c_str()) << "";
    Commit(20);
    EXPECT_EQ(RunUpdater(), fails ? 3u : 0u);
    if (fails) {
      EXPECT_EQ(LogWith("old\n"), "new /afterupgrade\nnew fails\nold\n");
      EXPECT_EQ(ReadText(data), "old data");
      EXPECT_TRUE(ReadText(app_) != newBuild_) << "the new build stayed";
      EXPECT_NE(ReadText(state + L"failed").find("ended with status 3"), std::string::npos);
    } else {
      EXPECT_EQ(LogWith("new /afterupgrade"), "new /afterupgrade\n");
      EXPECT_EQ(ReadText(data), "new data");
      EXPECT_TRUE(ReadText(app_) == newBuild_) << "the program is not the new build";
      EXPECT_FALSE(Exists(state + L"failed"));
    }
    for (const std::wstring& left : {app_ + L".uOLD", data + L".uOLD", queue_, state + L"journal", state + L"confirmed"})
      EXPECT_FALSE(Exists(left)) << Utf8(left);
  }
}

// A new build that is a launcher ends with 0 before confirming: its child
// keeps the chance to confirm until the time-out. When nothing confirms,
// the install is undone and the child, in the new build's job, is ended.
TEST_F(WinUpdater, ALaunchersChildMayConfirmAndIsEndedWithAnUndo) {
  const std::wstring data = folder_ + L"d\u00e4ta file.txt";
  std::ofstream((folder_ + L"launch").c_str()) << "";
  for (const bool confirms : {true, false}) {
    SCOPED_TRACE(confirms ? "the child confirms" : "nothing confirms");
    ::DeleteFileW((folder_ + L"app.log").c_str());
    ::CopyFileW((HereFolder() + L"kv_win_app_old.exe").c_str(), app_.c_str(), FALSE);
    std::ofstream(data.c_str(), std::ios::binary) << "old data";
    if (confirms) std::ofstream((folder_ + L"child-confirms").c_str()) << "";
    else ::DeleteFileW((folder_ + L"child-confirms").c_str());
    Commit(confirms ? 30 : 3);
    const DWORD code = RunUpdater();
    const std::string log = LogWith(confirms ? "child " : "old\n");
    const auto at = log.find("child ");
    ASSERT_NE(at, std::string::npos) << log;
    const DWORD childPid = std::stoul(log.substr(at + 6));
    const HANDLE child = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, childPid);
    const bool childRuns = child != nullptr && ::WaitForSingleObject(child, 0) == WAIT_TIMEOUT;
    if (child != nullptr) {
      ::TerminateProcess(child, 0);  // the test's own tidying
      ::WaitForSingleObject(child, 10000);
      ::CloseHandle(child);
    }
    if (confirms) {
      EXPECT_EQ(code, 0u) << log;
      EXPECT_EQ(ReadText(data), "new data");
      EXPECT_TRUE(childRuns) << "the confirmed release's process was ended";
    } else {
      EXPECT_EQ(code, 3u) << log;
      EXPECT_EQ(ReadText(data), "old data");
      EXPECT_TRUE(ReadText(app_) != newBuild_) << "the new build stayed";
      EXPECT_FALSE(childRuns) << "the undone release's child still runs";
      EXPECT_NE(ReadText(Wide(StateFolderFor(Utf8(app_)) + "failed")).find("ended with status 0"), std::string::npos);
    }
  }
}

// The queue names the program in other letter case and with "/": it is
// still the program, so it is moved last, after the data file.
TEST_F(WinUpdater, ProgramIsKnownWhateverItsCaseAndSeparators) {
  const std::string app = Utf8(app_), data = Utf8(folder_ + L"d\u00e4ta file.txt");
  std::string other = app;
  for (char& c : other) c = c == '\\' ? '/' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_TRUE(::CopyFileW((HereFolder() + L"kv_win_app_new.exe").c_str(), (app_ + L".uTMP").c_str(), FALSE));
  std::ofstream(Wide(data + kDownloadSuffix).c_str(), std::ios::binary) << "new data";
  const std::string state = StateFolderFor(app);
  ASSERT_TRUE(::CreateDirectoryW(Wide(state).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  std::string text;
  ASSERT_TRUE(FormatQueue({{app + kDownloadSuffix, other}, {data + kDownloadSuffix, data}}, text));
  ASSERT_TRUE(WriteFileDurably(QueuePath(state), text));
  EXPECT_EQ(RunUpdater({{L"KELVORA_UPDATER_KILL_AFTER", L"1"}}), 9u);
  EXPECT_EQ(ReadText(folder_ + L"d\u00e4ta file.txt"), "new data");
  EXPECT_TRUE(ReadText(app_) != newBuild_) << "the program was not moved last";
}

// Another program holds a target open (no sharing) for a moment: the move
// waits for it instead of leaving the download behind.
TEST_F(WinUpdater, TargetHeldOpenForAMomentIsReplaced) {
  const std::wstring data = folder_ + L"d\u00e4ta file.txt";
  std::ofstream(data.c_str(), std::ios::binary) << "old data";
  Commit();
  const HANDLE held = ::CreateFileW(data.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    ::Sleep(2000);
    ::CloseHandle(held);
  });
  const DWORD code = RunUpdater();
  release.join();
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadText(data), "new data");
  EXPECT_FALSE(Exists(data + L".uTMP"));
  EXPECT_EQ(LogWith("new /afterupgrade"), "new /afterupgrade\n");
}

// The programs are hosts of the real component, which settles at its start
// what an updater left halfway. A running program's own file cannot be put
// back here: the new build hands the whole undo to the updater and ends, and
// the old build runs and is told once.
class WinRecovery : public WinUpdater {
 protected:
  void SetUp() override {
    builds_ = L"kv_win_host_";
    WinUpdater::SetUp();
    data_ = folder_ + L"d\u00e4ta file.txt";
    std::ofstream(data_.c_str(), std::ios::binary) << "old data";
  }

  // Started as a user would, without parameters; its exit code.
  DWORD StartByHand() {
    PROCESS_INFORMATION pi = Start(app_, L"");
    return pi.hProcess != nullptr ? Finish(pi) : 259;
  }

  static size_t Count(const std::string& Text, const std::string& Part) {
    size_t n = 0;
    for (size_t at = Text.find(Part); at != std::string::npos; at = Text.find(Part, at + 1)) ++n;
    return n;
  }

  // The whole old set, nothing of the install left, and the old build told
  // once (Log: the programs' log once it ends with the message).
  void ExpectUndone(const std::string& Log) {
    EXPECT_EQ(ReadText(data_), "old data");
    EXPECT_TRUE(ReadText(app_) != newBuild_) << "the new build stayed";
    const std::wstring state = Wide(StateFolderFor(Utf8(app_)));
    for (const std::wstring& left : {app_ + L".uOLD", app_ + L".uTMP", data_ + L".uOLD", data_ + L".uTMP", queue_,
                                     state + L"journal", state + L"confirmed", state + L"failed"})
      EXPECT_FALSE(Exists(left)) << Utf8(left);
    EXPECT_EQ(Count(Log, " failed: "), 1u) << Log;
    EXPECT_EQ(Count(Log, " message: "), 1u) << Log;
    EXPECT_NE(Log.find("old failed: "), std::string::npos) << Log;
    EXPECT_NE(Log.find("interrupted"), std::string::npos) << Log;
    EXPECT_EQ(Log.find("has now been installed"), std::string::npos) << Log;
  }

  std::wstring data_;
};

// The updater is killed while it waits for the confirmation, and the new
// build ends without confirming. The user then starts the new build by hand.
TEST_F(WinRecovery, NewBuildStartedByHandAfterALostConfirmationEndsWithTheOldSet) {
  std::ofstream((folder_ + L"fail-start").c_str()) << "";
  Commit(20);
  EXPECT_EQ(RunUpdater({{L"KELVORA_UPDATER_KILL_IN", L"wait"}}), 9u);
  LogWith("new fails");
  ASSERT_TRUE(ReadText(app_) == newBuild_) << "nobody undid it yet";
  EXPECT_EQ(StartByHand(), 0u);
  const std::string log = LogWith("old message: ");
  EXPECT_EQ(log.substr(0, log.find("old failed")), "new /afterupgrade\nnew fails\nnew\nold\n");
  ExpectUndone(log);
}

// The updater is killed after the data file (1) or after the program too
// (2); the program, old or new build, is started by hand.
TEST_F(WinRecovery, ProgramStartedAfterAnInstallWasCutShortEndsWithTheOldSet) {
  for (const bool programMoved : {false, true}) {
    SCOPED_TRACE(programMoved ? "after the program's move" : "after the data file's move");
    ::DeleteFileW((folder_ + L"app.log").c_str());
    ::CopyFileW((HereFolder() + builds_ + L"old.exe").c_str(), app_.c_str(), FALSE);
    std::ofstream(data_.c_str(), std::ios::binary) << "old data";
    Commit(20);
    EXPECT_EQ(RunUpdater({{L"KELVORA_UPDATER_KILL_AFTER", programMoved ? L"2" : L"1"}}), 9u);
    EXPECT_EQ(ReadText(app_) == newBuild_, programMoved);
    EXPECT_EQ(StartByHand(), 0u);
    const std::string log = LogWith("old message: ");
    EXPECT_EQ(log.substr(0, log.find("old failed")), programMoved ? "new\nold\n" : "old\n");
    ExpectUndone(log);
  }
}

// The updater is killed while it waits (a logout) and the new build fails
// before it can undo anything: the user's RunOnce value, run as the next
// login would, undoes the install and starts nothing.
TEST_F(WinRecovery, TheNextLoginUndoesAnInstallNobodyConfirmed) {
  std::ofstream((folder_ + L"fail-start").c_str()) << "";
  Commit(20);
  EXPECT_EQ(RunUpdater({{L"KELVORA_UPDATER_KILL_IN", L"wait"}}), 9u);
  LogWith("new fails");
  ASSERT_TRUE(ReadText(app_) == newBuild_) << "nobody undid it yet";
  const std::string state = StateFolderFor(Utf8(app_));
  const std::wstring name = Wide(UndoEntryName(state));
  const auto command = [&]() -> std::wstring {
    wchar_t value[4096];
    DWORD size = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", name.c_str(),
                       RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
      return L"";
    return value;
  };
  std::wstring line = command();
  ASSERT_FALSE(line.empty()) << "no RunOnce value";
  ASSERT_TRUE(Exists(Wide(UndoCopyPath(state))));

  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  ::CloseHandle(pi.hThread);
  EXPECT_EQ(Finish(pi), 0u);
  EXPECT_TRUE(ReadText(app_) != newBuild_) << "undone by the login, before any start";
  EXPECT_EQ(ReadText(data_), "old data");
  EXPECT_TRUE(command().empty()) << "the value is gone once the install is settled";

  EXPECT_EQ(StartByHand(), 0u);
  const std::string log = LogWith("old message: ");
  EXPECT_EQ(log.substr(0, log.find("old failed")), "new /afterupgrade\nnew fails\nold\n");
  ExpectUndone(log);
}

}  // namespace
}  // namespace kelvora::updater
