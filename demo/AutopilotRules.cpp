#include "AutopilotRules.h"

#include <cstdio>

using namespace kelvora;

namespace demo {

namespace {
constexpr auto kLimit = std::chrono::seconds(120);
}

TAutopilotRules::TAutopilotRules(TkvKelvora& K, const TDemoOptions& Options, TGoal Goal,
                                 std::function<void()> CloseLater)
    : options_(Options),
      goal_(Goal),
      closeLater_(std::move(CloseLater)),
      deadline_(std::chrono::steady_clock::now() + kLimit) {
  auto aborted = K.OnAborted;
  K.OnAborted = [this, aborted](TObject* s) {
    if (aborted) aborted(s);
    Fail("upgrade aborted");
  };
  auto noUpdate = K.OnNoUpdateAvailable;
  TkvKelvora* k = &K;
  K.OnNoUpdateAvailable = [this, noUpdate, k](TObject* s) {
    if (noUpdate) noUpdate(s);
    if (goal_ == glUpgrade) {
      Fail("no update available");
    } else {
      noUpdateSeen_ = true;
      Report("no update available (release " + k->VersionDate() + ")");
    }
  };
  K.OnBeginUpgrade = [this](TObject*, const std::string&, TztUpgradeMethod, TkvStringList&, bool& CanUpgrade) {
    if (goal_ == glNoUpdate) {
      Fail("the release just installed is offered again");
      CanUpgrade = false;
    }
  };
  K.OnNoInfoFile = [this](TObject*) { Fail("info file not found"); };
  K.OnConnLost = [this](TObject*) { Fail("connection lost"); };
  K.OnVerificationFailed = [this](TObject*, const std::string& Reason) { Fail("refused: " + Reason); };
  K.OnHostUnreachable = [this](TObject*, const std::string&, const std::string& Host) {
    Fail("host unreachable: " + Host);
  };
  K.OnEndUpgrade = [this](TObject*, bool&) { Report("upgrade downloaded; starting the updater"); };
}

void TAutopilotRules::Report(const std::string& Line) const { demo::Report(options_, Line); }

void TAutopilotRules::Fail(const std::string& Why) {
  if (failed_) return;
  failed_ = true;
  std::fprintf(stderr, "kelvora-demo: %s\n", Why.c_str());
  Report("failed: " + Why);
  if (closeLater_) closeLater_();
}

}  // namespace demo
