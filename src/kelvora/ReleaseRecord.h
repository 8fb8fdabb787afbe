// A record, in the program's state folder, of the release the last hand-over
// to the updater installed. A host whose new build still carries its old
// version number would otherwise see the same release as newer again after
// the restart and upgrade to it in an endless loop.
#pragma once

#include <optional>
#include <string>

namespace kelvora {

struct TReleaseRecord {
  std::string InfoURL;  // the info file that announced the release
  std::string Release;  // its version key ("#version=..." or "#date=...")
  // False from the hand-over until a run started by the updater has seen
  // the record: only then is the release known to be in place.
  bool Confirmed = false;
  // The day (engine date form) the release failed to install, when it did:
  // the automatic check passes it over for the rest of that day.
  std::string FailedOn;
};

// The record at Path, or nothing when there is none or it is not one.
std::optional<TReleaseRecord> ReadReleaseRecord(const std::string& Path);
// Writes the record whole (a new file renamed over the old one), creating
// the folder when missing. False when it could not be written.
bool WriteReleaseRecord(const std::string& Path, const TReleaseRecord& Record);
// The record's place: "installed-release" in the running program's state folder.
std::string ReleaseRecordPath();

}  // namespace kelvora
