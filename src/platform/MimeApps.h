// The Linux seam for file associations: which program the desktop opens a
// kind of file with (what the system keeps under HKEY_CLASSES_ROOT).
#pragma once

#include <string>

namespace kelvora::platform {

// The MIME type of a file extension with its dot (".html" gives
// "text/html"), from a small built-in table and /etc/mime.types; "" when
// unknown.
std::string MimeTypeOfExtension(const std::string& Ext);

// Full path of the desktop entry of the default application for MimeType,
// found as xdg-mime finds it: the [Default Applications] of the mimeapps.list
// files (desktop-specific ones first) in $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS,
// $XDG_DATA_HOME/applications and $XDG_DATA_DIRS/applications, then their
// [Added Associations], then the mimeinfo.cache files; the first entry that
// is installed and not hidden. "" when none.
std::string DefaultDesktopEntry(const std::string& MimeType);

// The Exec line of a desktop entry's [Desktop Entry] group, with the string
// escapes of the format decoded and the field codes (%f %F %u %U ...)
// removed ("%%" gives "%"). "" when there is none.
std::string DesktopEntryCommand(const std::string& DesktopFile);

}  // namespace kelvora::platform
