#include "kelvora/Application.h"

#include <fstream>
#include <iterator>

namespace kelvora {

TApplication::TApplication() : mainThread_(std::this_thread::get_id()) {
  // NUL-separated arguments of this process.
  std::ifstream f("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    arguments_.push_back(all.substr(start, end - start));
    start = end + 1;
  }
}

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
