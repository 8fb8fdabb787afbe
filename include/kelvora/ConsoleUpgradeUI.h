// An upgrade-UI for headless hosts: questions are answered on the terminal,
// passwords are read without echo. Progress is one line redrawn in place at
// most ten times a second on a terminal, and a plain line per further tenth
// of the file where the output is a pipe or a file.
#pragma once

#include "kelvora/kelvora_export.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "kelvora/kvUpgradeUI.h"

namespace kelvora {

class KELVORA_EXPORT TkvConsoleUpgradeUI : public TkvUpgradeUI {
 public:
  enum TMode {
    cmAsk,        // ask on the terminal; without one, refuse (answer No / Cancel) and say why
    cmAssumeYes,  // never ask: every question is answered Yes, passwords are refused
  };
  // In and Out default to the controlling terminal; tests pass their own.
  explicit TkvConsoleUpgradeUI(TMode Mode = cmAsk, std::FILE* In = nullptr, std::FILE* Out = nullptr);
  ~TkvConsoleUpgradeUI() override;

  bool AskUpgrade(const std::string& Text) override;
  bool AsksAPerson() const override { return mode_ == cmAsk; }
  bool AskPassword(const std::string& Text, std::string& Username, std::string& Password) override;
  int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override;
  void ShowWizard(const TkvWizardOptions& Options, TkvWizardHooks Hooks) override;
  bool HasWizard() const override { return open_; }
  void WizardFile(const std::string& FileURL, const std::string& AllDownloading) override;
  void WizardFileSize(const std::string& Text) override;
  void WizardProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                      const std::string& TimeLeft) override;
  void ShowWizardCompleted() override;
  void DestroyWizard() override;

  // The one-line progress display for a terminal Width columns wide: fields
  // that do not fit are left out whole (the size first, then the rate, then
  // the time left), never cut, and the percentages always stay; a bar takes
  // the room left over. Width 0 gives the plain line, without a bar, written
  // where the output is not a terminal.
  static std::string ProgressLine(int PercentsDone, int TotalPercentsDone, const std::string& Size,
                                  const std::string& Rate, const std::string& TimeLeft, int Width);

 private:
  bool Interactive();
  bool AskYesNo(const std::string& Question);
  std::string ReadLine(bool Echo);
  void Say(const std::string& Text);
  void EndProgressLine();
  void DrawProgress();
  void Put(const std::string& Text);

  // The latest progress report of the current file.
  struct TProgress {
    int Percents = 0, TotalPercents = 0;
    std::string Rate, TimeLeft;
  };

  TMode mode_;
  std::FILE* in_;
  std::FILE* out_;
  std::FILE* ttyIn_ = nullptr;   // the terminal, opened here and closed by
  std::FILE* ttyOut_ = nullptr;  // the destructor (one stream on Linux)
  bool terminal_ = false;  // out_ is a terminal: redraw in place
  bool erases_ = true;     // the terminal erases to the end of a line on "\033[K"
  int drawnColumns_ = 0;   // the width of the line drawn last
  bool open_ = false;
  bool progressShown_ = false;     // a redrawn line is open on the terminal
  bool progressPending_ = false;   // the latest report is not on screen yet
  int progressTenths_ = 0;         // tenths of the file written as plain lines
  std::chrono::steady_clock::time_point lastDraw_{};
  TProgress progress_;
  std::string size_;
  std::string file_;
  TkvWizardHooks hooks_;
};

}  // namespace kelvora
