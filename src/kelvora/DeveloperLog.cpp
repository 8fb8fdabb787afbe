#include "kelvora/DeveloperLog.h"

#include <iostream>
#include <mutex>

namespace kelvora {

namespace {
std::mutex gMutex;
TDeveloperLog gLog;
}  // namespace

void SetDeveloperLog(TDeveloperLog Log) {
  std::lock_guard lk(gMutex);
  gLog = std::move(Log);
}

void DeveloperNote(const std::string& Line) {
  TDeveloperLog log;
  {
    std::lock_guard lk(gMutex);
    log = gLog;
  }
  if (log) {
    log(Line);
    return;
  }
#ifndef NDEBUG
  std::cerr << "kelvora: " << Line << std::endl;
#endif
}

}  // namespace kelvora
