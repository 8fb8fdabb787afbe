// Qt test helpers: one QApplication on the offscreen platform for the whole
// program, bounded waits, answering modal windows from queued calls, and
// screenshots into the build tree.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <string>

#include "kelvora/LoopBackend.h"

namespace kvtest {

// Serves the loop in force until Done() holds; false after Limit.
bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = std::chrono::seconds(20));

// Runs Action on the modal window that is (or next becomes) active, from a
// queued call, so that a test can drive a dialog its code is blocked in.
// Fails the test when none appears within 20 s.
void OnModal(std::function<void(QWidget*)> Action);

// The child named Name, or a test failure.
template <class W>
W* Child(QWidget* Parent, const char* Name) {
  W* w = Parent->findChild<W*>(QString::fromLatin1(Name));
  if (w == nullptr) ADD_FAILURE() << "no control " << Name;
  return w;
}

// Saves W's picture as <screenshots>/<Name>.png; returns the path.
std::string SaveScreenshot(QWidget* W, const std::string& Name);

}  // namespace kvtest
