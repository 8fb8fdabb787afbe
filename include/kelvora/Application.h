// The application object: title, main window hook, message processing,
// termination and the main loop, all on top of the loop back-end in force.
#pragma once

#include "kelvora/kelvora_export.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kelvora/LoopBackend.h"

namespace kelvora {

class KELVORA_EXPORT TApplication {
 public:
  TApplication();

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& Value) { title_ = Value; }

  // The main window's close request (a GUI host installs it). Without one,
  // closing the main window terminates the application.
  void SetMainWindowClose(std::function<void()> Close) { mainWindowClose_ = std::move(Close); }
  bool HasMainWindow() const { return static_cast<bool>(mainWindowClose_); }
  void CloseMainWindow();

  // Processes all pending messages (hand-offs, posted calls, due timers).
  void ProcessMessages();
  void Terminate();
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
  // For hosts (and tests) that run the loop again after a termination.
  void ClearTerminated() { terminated_.store(false, std::memory_order_release); }
  // Runs the main loop until Terminate.
  void Run();

  // The program's command line: ParamStr(0) is the program, ParamStr(1) the
  // first parameter; "" past the end. Read from the system unless a host
  // (or a test) sets it.
  int ParamCount() const;
  std::string ParamStr(int Index) const;
  void SetArguments(std::vector<std::string> Arguments);

  // The UI thread: the thread that started the program.
  std::thread::id MainThreadId() const { return mainThread_; }
  bool IsMainThread() const { return std::this_thread::get_id() == mainThread_; }
  TLoopBackend& Backend() const { return LoopBackend(); }

 private:
  std::string title_;
  std::function<void()> mainWindowClose_;
  std::atomic<bool> terminated_{false};
  std::thread::id mainThread_;
  std::vector<std::string> arguments_;
};

KELVORA_EXPORT TApplication& Application();

}  // namespace kelvora
