#include "kelvora/Application.h"

namespace kelvora {

TApplication::TApplication() : mainThread_(std::this_thread::get_id()) {}

TApplication& Application() {
  static TApplication app;
  return app;
}

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
