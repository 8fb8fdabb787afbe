// Putting a download in place of its target, and the file attributes the
// updater sets afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kelvora::updater {

// Attribute bits as the application keeps them: read-only 0x1, hidden 0x2,
// archive 0x20.
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrArchive = 0x20;

// Whether a download takes over Target's permission bits: only from a
// regular file of this user's own, never through a link or from a file
// somebody else put there (it could make the new file writable by others or
// run as this user).
bool TakesOverMode(const std::string& Target);

// Renames Download over Target in one step, so Target is either the old file
// or the new one, never missing. When TakesOverMode(Target) the download
// first takes over its permission bits (an upgraded program stays executable), then
// Settle (when given) finishes the download's attributes: all before the
// rename, so that a target is never new but unfinished, whenever the process
// is killed. False, with errno, when Download is not a regular file or the
// rename fails; both files are then as they were (except for the download's
// attributes). With Backup given and Target present, Target is first renamed
// to Backup (kept for an undo) and put back at once when the second rename
// fails.
bool MoveOver(const std::string& Download, const std::string& Target,
              const std::function<void(const std::string&)>& Settle = {}, const std::string& Backup = {});

// Read-only is the absence of the write permission bits; the whole set is
// kept as text "0x%x" in the extended attribute user.DOSATTRIB (removed when
// Bits is 0). Where the file system has no user attributes only the
// permission bits change. False when the file cannot be changed.
bool SetAttributes(const std::string& Path, std::uint32_t Bits);

// Gives execute permission to everybody who may read the file.
bool MakeExecutable(const std::string& Path);

}  // namespace kelvora::updater
