// The Linux seam for folders: the running executable, the XDG base and user
// directories, and the private per-user temporary folder.
#pragma once

#include <string>
#include <vector>

namespace kelvora::platform {

// Full path of the running executable (/proc/self/exe), "" when unknown.
std::string ExecutablePath();
// The user's home folder ($HOME, else the password database), without a
// trailing "/"; "" when unknown.
std::string HomeFolder();

// XDG base directories, without trailing "/": the variable when it holds an
// absolute path, else the standard default below the home folder.
std::string XdgConfigHome();  // ~/.config
std::string XdgDataHome();    // ~/.local/share
std::vector<std::string> XdgConfigDirs();  // /etc/xdg
std::vector<std::string> XdgDataDirs();    // /usr/local/share, /usr/share

// An XDG user directory (Name as in user-dirs.dirs without "XDG_" and
// "_DIR": "DESKTOP", "DOCUMENTS", "PICTURES", ...), read from
// $XDG_CONFIG_HOME/user-dirs.dirs; when the file does not set it, the home
// folder followed by "/" and Default. No trailing "/"; "" when the home
// folder is unknown and the file does not name an absolute path.
std::string XdgUserDir(const std::string& Name, const std::string& Default);

// True when Path names a folder itself (not a symbolic link) owned by the
// effective user, with permission bits exactly 0700.
bool IsPrivateFolder(const std::string& Path);
// The private temporary folder, without trailing "/": $XDG_RUNTIME_DIR, else
// $TMPDIR, else /tmp/kelvora-<uid> (created with mode 0700 when missing);
// the first that passes IsPrivateFolder. "" when none does.
std::string PrivateTempFolder();
// Tests only: the folder in which the last candidate, kelvora-<uid>, is made
// ("" gives /tmp back).
void SetPrivateTempBase(const std::string& Base);

}  // namespace kelvora::platform
