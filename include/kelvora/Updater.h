// The front door: one object that keeps a program up to date. It drives a
// TkvKelvora underneath (component() reaches it) and reports every check
// once, through onFinished, with its outcome.
//
//   kelvora::Updater updater({.infoAddress = "https://example.org/myapp/info.txt", .version = "1.4.0"});
//   updater.onFinished([](const kelvora::Result& r) { ... });
//   updater.checkNow();
#pragma once

#include "kelvora/kelvora_export.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvora {

class TkvKelvora;

// How a check ended. Later releases may add outcomes (an install that failed
// and was rolled back): keep a default branch where you switch on it.
enum class Outcome {
  UpToDate,             // the info file announces nothing newer
  Updated,              // onFinished: downloaded, the updater runs, the program is closing for its restart;
                        // onRestarted: this run is the new release
  Declined,             // the user cancelled the download, its completion page or a login
  Later,                // the user chose not to upgrade now; or a check nobody asked for found a release over a
                        // metered connection (reason says so) and left its download for another connection
  Failed,               // the upgrade could not be done: reason says why; nothing was changed
  VerificationRefused,  // the info file or a download failed its signature, expiry, size or hash
  NoInfoFile,           // the server has no info file at the address (statusCode) or sent something else
  ConnectionProblem,    // the server could not be reached, or the connection broke
  OpenedWebPage,        // the info file sends the user to a web page, which was opened
  InstallFailed,        // onRestarted: the last upgrade could not be installed, or its release did not start,
                        // and the previous release was put back; reason says why
  Cancelled,            // the host ended the check: cancel(), or the Updater destroyed during it; nothing was
                        // installed
  PackageManaged,       // the system's package manager owns the program (reason names the package): the
                        // release is installed through it, never by the updater
  RefusedByPolicy,      // the administrator's policy allows no such check: nothing was asked of any server;
                        // reason says which value
};
KELVORA_EXPORT const char* OutcomeName(Outcome Value);

struct Result {
  Outcome outcome = Outcome::Failed;
  bool userStarted = false;     // by checkNow, not by the check interval
  std::string offeredVersion;   // the "#version" (or "#date") the info file announces, when one was read
  std::string reason;           // why, for Failed and VerificationRefused
  std::string address;          // the address concerned: the info file, a download, the host
  int statusCode = 0;           // the HTTP status of a server's refusal, 0 otherwise
  int64_t patchSavedBytes = 0;  // Updated: the bytes that patches from the installed release saved
};

// Which messages and questions the user is shown.
enum class Messages : unsigned {
  None = 0,
  AskUpgrade = 1u << 0,       // "Do you want to update ... now?"
  ConnectionLost = 1u << 1,
  HostUnreachable = 1u << 2,
  LostFile = 1u << 3,         // a download the server does not have; also a refused download
  NoInfoFile = 1u << 4,
  UpToDate = 1u << 5,
  PasswordRequest = 1u << 6,
  Default = AskUpgrade | ConnectionLost | LostFile | PasswordRequest,
  UserCheck = UpToDate | NoInfoFile | HostUnreachable,  // added for a check the user started
};
constexpr Messages operator|(Messages A, Messages B) {
  return static_cast<Messages>(static_cast<unsigned>(A) | static_cast<unsigned>(B));
}
constexpr Messages operator&(Messages A, Messages B) {
  return static_cast<Messages>(static_cast<unsigned>(A) & static_cast<unsigned>(B));
}
constexpr Messages operator~(Messages A) { return static_cast<Messages>(~static_cast<unsigned>(A) & 0x7Fu); }

// Who talks to the user.
enum class UiMode {
  Installed,         // the upgrade-UI installed with SetUpgradeUI (the Qt windows with kelvora::qt::Integration)
  Console,           // the terminal: questions, a progress line; without a terminal, "no"
  ConsoleAssumeYes,  // the terminal, answering yes by itself
};

struct Options {
  std::string infoAddress{};  // the info file's address
  std::string version{};      // "1.4.0": compared by number with "#version"; raise it in every release
  std::string releaseDate{};  // "12/24/2026" (month/day/year): compared with "#date" when no version is given
  std::string publicKeys{};   // the publisher's keys, blank-separated; empty: info files need no signature
  UiMode ui = UiMode::Installed;
  std::chrono::milliseconds checkInterval{0};  // a check by itself this often; 0: only checkNow
  Messages messages = Messages::Default;       // in every check
  Messages userCheckMessages = Messages::UserCheck;  // added in a check started by checkNow
  bool checkNowIgnoresRollout = false;  // checkNow may take a release the rollout does not offer yet
  bool keepArguments = true;  // the restarted program gets its own arguments after the restart parameter
  std::string restartParameter{};  // its first argument, "/afterupgrade" when empty
  // Whose administrator policy applies: on Windows the registry key
  // `SOFTWARE\Policies\<company>\<product>\Update` (HKLM, then HKCU), on Linux
  // `/etc/kelvora/<product>.json`. An empty product is the program's file name
  // without its extension. The policy's check interval replaces checkInterval.
  std::string company{};
  std::string product{};
};

// Who confirms that a release the updater installed starts. Until it is
// confirmed the updater waits (the component's ConfirmTimeout, 30 s) and
// then puts the previous release back.
enum class Confirmation {
  AtStart,  // the constructor, in the run the updater started after the install
  ByHost,   // the host, with confirmUpgrade(), once the program has really started
};

// Every member is called on the UI thread (the program's main thread); from
// another thread, checkNow, checkQuietly, cancel and confirmUpgrade throw
// std::logic_error and do nothing.
class KELVORA_EXPORT Updater {
 public:
  // Does what loading the component does: finishes an install an updater
  // left half done, and notes whether this run is the restarted one.
  // Throws std::invalid_argument without an info address or without both a
  // version and a release date.
  explicit Updater(Options Value);
  // The same, with the confirmation of an installed release left to the
  // host (Confirmation::ByHost).
  Updater(Options Value, Confirmation Confirm);
  // Ends a check under way as cancel() does.
  ~Updater();
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // Called once at the end of every check, on the UI thread (from inside
  // cancel() or the destructor for a check they end).
  void onFinished(std::function<void(const Result&)> Call);
  // Called in the run the updater started after an upgrade (at once when
  // this run is one), with Outcome::Updated and the release installed, or
  // with Outcome::InstallFailed in the previous release put back after an
  // upgrade that failed.
  void onRestarted(std::function<void(const Result&)> Call);

  // A check the user asked for: "up to date" and failures are shown too
  // (userCheckMessages). Returns at once; while a check is under way it
  // starts nothing (that check's onFinished still comes).
  void checkNow();
  // A check as the interval starts one: only `messages` are shown.
  void checkQuietly();
  bool checking() const;
  // Ends the check under way: its transfer stops, the wizard closes, what
  // it downloaded is removed (a part the next check of the same release
  // continues may stay) and onFinished comes with Outcome::Cancelled before
  // cancel returns. Nothing happens when no check is under way.
  void cancel();
  // With Confirmation::ByHost, in the run the updater started after an
  // upgrade: the new release works. The install becomes final and the
  // updater ends. True when an install waited for this confirmation; false
  // in any other run, after an earlier confirmation, or once the updater has
  // decided to put the previous release back.
  bool confirmUpgrade();
  bool restarted() const;
  // The program's own arguments, without the restart parameter.
  std::vector<std::string> arguments() const;

  // The component underneath, for what the options do not cover.
  TkvKelvora& component();

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace kelvora
