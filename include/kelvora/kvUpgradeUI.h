// The upgrade-UI interface: every question, message box and wizard update the
// upgrade engine makes goes through it. Kelvora::Qt implements it with real
// windows; Core ships a scripted implementation for tests and a console one
// for headless hosts.
#pragma once

#include "kelvora/kelvora_export.h"

#include <functional>
#include <memory>
#include <string>

namespace kelvora {

// Message-box flags and answers, with the values of the standard boxes.
enum : unsigned {
  mbOK = 0x0,
  mbYesNo = 0x4,
  mbIconError = 0x10,
  mbIconQuestion = 0x20,
  mbIconExclamation = 0x30,
  mbIconInformation = 0x40,
  mbDefButton2 = 0x100,  // the second button is the default
  mbSystemModal = 0x1000,
  mbButtonMask = 0xF,
  mbIconMask = 0xF0,
  mbDefButtonMask = 0xF00,
};
enum TkvMessageResult { idOK = 1, idCancel = 2, idYes = 6, idNo = 7 };

// What the wizard window shows besides the texts the engine writes into it.
struct KELVORA_EXPORT TkvWizardOptions {
  bool HideFileLocation = false;
  bool StayOnTop = true;
  std::string PicturePath;  // empty: the built-in picture
  std::string AppTitle;     // for the completion note and the abort question
};

// The wizard tells the engine that it was closed (Closed) and, when the user
// confirmed cancelling, asks it to abort the run (Abort, after Closed).
struct KELVORA_EXPORT TkvWizardHooks {
  std::function<void()> Closed;
  std::function<void()> Abort;
};

class KELVORA_EXPORT TkvUpgradeUI {
 public:
  virtual ~TkvUpgradeUI() = default;

  // The ask-upgrade question, Text already formatted: true for Yes.
  virtual bool AskUpgrade(const std::string& Text) = 0;
  // Whether AskUpgrade puts the question to a person; false for a UI that
  // answers by itself (the console's assume-yes mode). A release that failed
  // to install is installed again only on a person's Yes.
  virtual bool AsksAPerson() const { return true; }
  // The password question. Username arrives pre-filled; on OK (true) both
  // hold what the user entered. Cancel returns false and changes neither.
  virtual bool AskPassword(const std::string& Text, std::string& Username, std::string& Password) = 0;
  // A message box; returns the answer (idOK, idYes, idNo).
  virtual int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) = 0;

  // The wizard window: at most one at a time.
  virtual void ShowWizard(const TkvWizardOptions& Options, TkvWizardHooks Hooks) = 0;
  virtual bool HasWizard() const = 0;
  virtual void WizardFile(const std::string& FileURL, const std::string& AllDownloading) = 0;
  virtual void WizardFileSize(const std::string& Text) = 0;
  virtual void WizardProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                              const std::string& TimeLeft) = 0;
  virtual void ShowWizardCompleted() = 0;
  // Destroyed by the engine when a run stops: no close handling runs.
  virtual void DestroyWizard() = 0;
};

// The upgrade-UI in force for components that were given none. Defaults to
// the console implementation.
KELVORA_EXPORT TkvUpgradeUI& UpgradeUI();
KELVORA_EXPORT void SetUpgradeUI(TkvUpgradeUI* UI);

// The name texts give the program: the application's title, or the
// program's own file name when the host set none.
KELVORA_EXPORT std::string ProgramTitle();

}  // namespace kelvora
