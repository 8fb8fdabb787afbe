// A TkvKelvora wired to the scripted upgrade-UI, with every event recorded in
// order, an nginx serving the info file and the listed files, and a private
// temporary folder for the updater program and the queue file.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "kelvora/Application.h"
#include "kelvora/ScriptedUpgradeUI.h"
#include "kelvora/kvKelvora.h"
#include "support/Nginx.h"
#include "support/TestFiles.h"

namespace kvtest {

// Removes what a run staged and committed beside this test program.
void ClearState();

// Makes Desktop the user's desktop (XDG folders), whose browser is a script
// that writes the addresses it was given, one a line, to Record.
void InstallRecordingBrowser(const TempDir& Desktop, const std::string& Record);

class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Records every event of the component; Progress events are collapsed.
  void Record(const std::string& Event);
  std::string Events() const;  // joined with ";"
  // Serves the loop until Done() holds (bounded; false on the bound).
  template <class Pred>
  bool PumpUntil(Pred Done, std::chrono::seconds Limit = std::chrono::seconds(20)) {
    auto end = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      kelvora::LoopBackend().WaitFor(nullptr, 10, kelvora::TWakeMask::AnyInput);
      kelvora::Application().ProcessMessages();
    }
    return true;
  }
  bool Idle() const { return !k->Busy(); }
  // Publishes an info file at /info.txt and points the component at it.
  void PublishInfo(const std::string& Text);
  // True when an event starting with Prefix was recorded.
  bool Has(const std::string& Prefix) const;
  // Starts an asynchronous check and serves the loop until an event starting
  // with Final was recorded and the transfer is over.
  bool RunCheckUntil(const std::string& Final);

  std::unique_ptr<Nginx> server;
  TempDir dir;
  kelvora::TkvScriptedUpgradeUI ui;
  std::unique_ptr<kelvora::TkvKelvora> k;
  std::vector<std::string> events;
  std::string closeMode = "own";  // "own": OnDoOwnCloseAppMethod is set
};

}  // namespace kvtest
