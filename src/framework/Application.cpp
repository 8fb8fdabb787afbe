#include "kelvora/Application.h"

#include "framework/ProgramArguments.h"

namespace kelvora {

TApplication::TApplication() : mainThread_(std::this_thread::get_id()), arguments_(sys::ProgramArguments()) {}

int TApplication::ParamCount() const { return arguments_.empty() ? 0 : static_cast<int>(arguments_.size()) - 1; }

std::string TApplication::ParamStr(int Index) const {
  return Index >= 0 && Index < static_cast<int>(arguments_.size()) ? arguments_[static_cast<size_t>(Index)] : "";
}

void TApplication::SetArguments(std::vector<std::string> Arguments) { arguments_ = std::move(Arguments); }

TApplication& Application() {
  static TApplication* app = new TApplication;  // never destroyed, as the loop back-end
  return *app;
}

namespace {
// Created while the program starts, so the UI thread is the main thread even
// when a worker is the first to ask.
[[maybe_unused]] TApplication& gCreatedAtStart = Application();
}  // namespace

void TApplication::CloseMainWindow() {
  if (mainWindowClose_)
    mainWindowClose_();
  else
    Terminate();
}

void TApplication::ProcessMessages() { Backend().ProcessMessages(); }

void TApplication::Terminate() {
  terminated_.store(true, std::memory_order_release);
  Backend().Wake();
}

void TApplication::Run() { Backend().Run(terminated_); }

}  // namespace kelvora
