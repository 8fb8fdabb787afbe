// The platform seam for file associations: which program the desktop opens
// a kind of file with.
#pragma once

#include <string>

namespace kelvora::platform {

// The command line registered to open files of the extension Ext (with its
// dot), as the system keeps it; "" when none. Linux: the Exec line of the
// default application's desktop entry for the extension's MIME type.
// Windows: the type named by the user's choice for the extension
// (HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\<ext>\UserChoice,
// value ProgId), else by the extension's key of the classes; then that type's
// shell\open\command, else the command of its first verb whose name holds
// "open" (any case), else of its first verb with a command. Every class key
// is looked up in the user's classes first, then in the machine's.
std::string AssociatedCommand(const std::string& Ext);

// Linux side only, the steps of AssociatedCommand:

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
