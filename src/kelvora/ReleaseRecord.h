// A record, in the program's state folder, of the last release handed over
// to the updater and of how that ended. It keeps the engine from installing a
// release again and again: a host whose new build still carries its old
// version number would otherwise see the same release as newer after the
// restart, and a release that fails at every start would be downloaded and
// undone in an endless loop by a host that checks at every start.
#pragma once

#include <optional>
#include <string>

namespace kelvora {

enum class TReleaseState {
  // Written before the hand-over: the install's outcome is not known yet.
  // Until a run started by the updater sees it, the release counts as
  // failed, so an install cut short where nothing could be recorded (a full
  // disk, a killed updater) is never retried by itself.
  Attempted,
  Confirmed,  // the release is in place
  Failed,     // it could not be installed, or did not confirm its start
};

struct TReleaseRecord {
  std::string InfoURL;  // the info file that announced the release
  std::string Release;  // its version key ("#version=..." or "#date=...")
  TReleaseState State = TReleaseState::Attempted;
  // The day (engine date form) of the attempt or of the failure; empty in a
  // record of an older build.
  std::string Day;

  bool Names(const std::string& URL, const std::string& Key) const { return InfoURL == URL && Release == Key; }
  // The release was tried and is not known to be in place.
  bool Unsettled() const { return State != TReleaseState::Confirmed; }
};

// The record at Path, or nothing when there is none or it is not one.
std::optional<TReleaseRecord> ReadReleaseRecord(const std::string& Path);
// Writes the record whole (a new file renamed over the old one, through the
// checked state folder: never into a link's target), creating the folder when
// missing. False (with errno) when it could not be written.
bool WriteReleaseRecord(const std::string& Path, const TReleaseRecord& Record);
// The record's place: "installed-release" in the running program's state folder.
std::string ReleaseRecordPath();

}  // namespace kelvora
