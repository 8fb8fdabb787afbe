// The platform seam for folders: the running executable, the user's and the
// system's special folders, and the private per-user temporary folder.
// Paths are UTF-8, in the system's own form ("/" on Linux, "\" on Windows),
// and folders come without a trailing separator.
#pragma once

#include <string>
#include <vector>

namespace kelvora::platform {

// Full path of the running executable, "" when unknown.
std::string ExecutablePath();
// The user's home folder (Linux: $HOME, else the password database;
// Windows: the profile folder); "" when unknown.
std::string HomeFolder();

// The folders the folder macros stand for.
enum class TKnownFolder { Desktop, Documents, Pictures, AppData, ProgramFiles, Windows, System, Help, Media, Cursors };
// Linux: the XDG user directories and data home, and fixed system folders
// (/opt, /usr, /usr/lib, /usr/share/help, /usr/share/sounds,
// /usr/share/icons). Windows: the known folders (SHGetKnownFolderPath);
// ProgramFiles is "Program Files" on the Windows folder's drive, and Help,
// Media and Cursors are "HELP", "MEDIA" and "CURSORS" in it. "" when the
// system cannot name it.
std::string KnownFolder(TKnownFolder Folder);

// True when Path names a folder that only the user can add files to: on
// Linux a folder itself (not a symbolic link) owned by the effective user,
// with permission bits exactly 0700; on Windows a folder (not a reparse
// point) whose access list lets nobody but the user, the system and the
// administrators write to it.
bool IsPrivateFolder(const std::string& Path);
// The private temporary folder; "" when there is none.
// Linux: $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp/kelvora-<uid> (created
// with mode 0700 when missing); the first that passes IsPrivateFolder.
// Windows: the user's temporary folder (GetTempPathW) when it passes
// IsPrivateFolder, else "Kelvora-temp" in the user's local application data,
// made for the user alone when missing and checked like the first.
std::string PrivateTempFolder();
// Tests only: the folder in which the last candidate is made ("" gives the
// default back: /tmp on Linux, the local application data on Windows).
void SetPrivateTempBase(const std::string& Base);

// Linux side only: the XDG base directories, without trailing "/": the
// variable when it holds an absolute path, else the standard default below
// the home folder.
std::string XdgConfigHome();  // ~/.config
std::string XdgDataHome();    // ~/.local/share
std::vector<std::string> XdgConfigDirs();  // /etc/xdg
std::vector<std::string> XdgDataDirs();    // /usr/local/share, /usr/share

// Linux side only: an XDG user directory (Name as in user-dirs.dirs without
// "XDG_" and "_DIR": "DESKTOP", "DOCUMENTS", "PICTURES", ...), read from
// $XDG_CONFIG_HOME/user-dirs.dirs; when the file does not set it, the home
// folder followed by "/" and Default. No trailing "/"; "" when the home
// folder is unknown and the file does not name an absolute path.
std::string XdgUserDir(const std::string& Name, const std::string& Default);

}  // namespace kelvora::platform
