// Unit kvUtils: the running program's folder and name, special folders and
// folder macros; the string list TkvStringList, token, date and
// percentage helpers; system helpers: online test, opening a web
// address, files and folders, version numbers, waiting with a live loop,
// closing the application, reading an embedded resource.
//
// Strings are UTF-8; positions are 1-based, as in the system. Paths use "/"
// wherever the system says backslash, and folders produced here end with one
// (on Windows: the backslash, and "/" is accepted as a separator too).
#pragma once

#include "kelvora/kelvora_export.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "kelvora/StringList.h"
#include "kelvora/Types.h"

namespace kelvora {

class TStream;

// An operating-system handle as the utilities hand it out. Event handles of
// WaitForSignal are never 0 or -1; those two values mean "nobody waits".
using THandle = std::intptr_t;
// The program's own module, for SaveResourceToStream.
inline constexpr THandle HInstance = 0;

// ===========================================================================
// Folder macros and special folders
// ===========================================================================

// Folder of the running executable with a trailing "/", and its full file
// name (from /proc/self/exe, not the working directory). Set once, at the
// first use.
KELVORA_EXPORT const std::string& CurrentFolder();
KELVORA_EXPORT const std::string& CurrentExeName();

// The macro table: twelve macros in table order and an empty last slot.
inline constexpr int kvFolderMacroCount = 13;
inline constexpr std::array<std::string_view, kvFolderMacroCount> FolderMacros = {
    "%current%", "%desktop%", "%mydocuments%", "%mypictures%", "%appdata%", "%programfiles%", "%windows%",
    "%system%",  "%temp%",    "%help%",        "%media%",      "%cursors%", ""};

// The folder of table row Index (0..12) with a trailing "/"; row 12 gives the
// empty string; any other index is treated like row 0. Which folder of this
// system each row stands for is listed in the README ("Folder macros"). On
// Windows rows 1 to 4 are the known folders Desktop, Documents, Pictures and
// RoamingAppData, the rest as the system's table says.
KELVORA_EXPORT std::string GetSpecialFolder(int Index);
// This system's counterparts of the Windows and system folders ("/usr/" and
// "/usr/lib/"), each with a trailing "/".
KELVORA_EXPORT std::string GetWindowsFolder();
KELVORA_EXPORT std::string GetSystemFolder();
// The user's private temporary folder with a trailing "/": $XDG_RUNTIME_DIR,
// else $TMPDIR, else `/tmp/kelvora-<uid>` (created when missing); each must be
// a real folder (not a symbolic link) owned by the user with mode 0700. When
// none qualifies, the folder of the program's executable.
KELVORA_EXPORT std::string GetTempFolder();
// Replaces every macro (ignoring case) by its folder; with PrefixRelative, a
// result of at least three characters that does not start with "/" gets
// CurrentFolder() in front. On Windows a result is absolute when it has a
// drive ("C:") or starts with a separator (a network path or the drive's
// root), and is then left alone.
KELVORA_EXPORT std::string ExpandFolderMacros(const std::string& Path, bool PrefixRelative);

// ===========================================================================
// Text, list and date helpers
// ===========================================================================

// The string list of the utilities: lines of the form name, Separator, value.
class KELVORA_EXPORT TkvStringList : public TStringList {
 public:
  // Case-sensitive: its lines are addresses and file names, where "A.zip"
  // and "a.zip" are two files.
  TkvStringList() { SetCaseSensitive(true); }

  const std::string& Separator() const { return separator_; }
  void SetSeparator(const std::string& Value) { separator_ = Value; }
  bool SeparatorFromEnd() const { return separatorFromEnd_; }
  void SetSeparatorFromEnd(bool Value) { separatorFromEnd_ = Value; }
  int32_t MaxCount() const { return maxCount_; }
  void SetMaxCount(int32_t Value) { maxCount_ = Value; }

  // Adds a line, keeping at most MaxCount lines: when full, the first line is
  // dropped (without change notifications) before the new one goes in. The
  // sorted search decides on duplicates whether or not the list is sorted.
  // Returns -1 when MaxCount is 0 (nothing is added).
  int Add(const std::string& S) override;

  // Position (1-based) of Separator in line Index, 0 when absent; the first
  // occurrence, or the last with SeparatorFromEnd.
  int SeparatorPos(int Index) const;
  // Text before the separator, or the whole line when it has none.
  std::string GetName(int Index) const;
  // Text after the separator, or "" when the line has none.
  std::string GetValue(int Index) const;
  // Replaces a line that has a separator by name, Separator and Value; a line
  // without one is left unchanged.
  void SetValue(int Index, const std::string& Value);
  // Writes every non-empty value followed by CR LF. The file is created
  // (replacing an existing one) just before the first value is written; when
  // no line has a value, no file is created or touched. Reports nothing.
  void SaveValuesToFile(const std::string& FileName) const;

 private:
  std::string separator_ = "=";
  bool separatorFromEnd_ = false;
  int32_t maxCount_ = 2147483647;
};

// The text of S before the first Delimiter (the whole of S when it does not
// occur); with Remove, S loses that text and the delimiter.
KELVORA_EXPORT std::string CutToken(std::string& S, const std::string& Delimiter, bool Remove = true);

// Flags of SplitAtDelimiter: bit 1 appends the delimiter to Left, bit 2
// prefixes it to Right.
enum : int { sadDelimiterToLeft = 1, sadDelimiterToRight = 2 };
// Splits S at the first Delimiter into Left and Right. When the delimiter does
// not occur: Left = S and Right empty, or with NotFoundToRight the other way
// round. Returns whether the delimiter occurred.
KELVORA_EXPORT bool SplitAtDelimiter(const std::string& Delimiter, const std::string& S, std::string& Left, std::string& Right,
                      bool NotFoundToRight = false, int Flags = 0);
// 1-based position of the last occurrence of SubStr in S (case-sensitive); 0
// when absent or when either is empty.
KELVORA_EXPORT int LastPosOf(const std::string& SubStr, const std::string& S);
// S without the run of Ch at its start.
KELVORA_EXPORT std::string StripLeadingChar(const std::string& S, char Ch);
// S without the run of backslashes at its start.
KELVORA_EXPORT std::string StripLeadingBackslashes(const std::string& S);
// Index (from 0) of the first entry of List equal to S (exactly), -1 if none.
KELVORA_EXPORT int IndexOfText(const std::string& S, const std::vector<std::string>& List);
// 1..7 for SUN..SAT and 1..12 for JAN..DEC (S upper-cased, exact match), else 0.
KELVORA_EXPORT int DayNameIndex(const std::string& S);
KELVORA_EXPORT int MonthNameIndex(const std::string& S);

// A "+hhmm" / "-hhmm" offset as a signed fraction of a day; 0 for anything
// else.
KELVORA_EXPORT TDateTime ParseGmtOffset(const std::string& S);
// UTC minus local time, now, as a fraction of a day.
KELVORA_EXPORT TDateTime TimeZoneBias();
// The local time of the UTC date-time T, with the zone's offset in force at
// T (summer time of that date, not of today).
KELVORA_EXPORT TDateTime UtcToLocal(TDateTime T);
// The local date-time of an HTTP date (RFC 1123, RFC 850 and asctime forms,
// numeric offsets). Never raises: "" gives 0, unreadable text gives
// UtcToLocal(0) (after any offset).
KELVORA_EXPORT TDateTime ParseInternetDate(const std::string& S);

// The file-name part of URL: the text after its last "/", backslash or ":".
// A query string stays part of it.
KELVORA_EXPORT std::string UrlToFileName(const std::string& URL);
// Part * 100 / Total rounded to the nearest integer (halves to even), as an
// unsigned byte (wrapping); 0 when Total is 0 or the computation fails.
KELVORA_EXPORT std::uint8_t PercentOf(long double Total, long double Part);

// ===========================================================================
// System helpers
// ===========================================================================

enum TkvFileAttribute : std::uint8_t { atrArchive, atrHidden, atrReadOnly, atrSystem, atrTemporary, atrOffline };

// A set of TkvFileAttribute: one byte, bit n for the n-th value.
class KELVORA_EXPORT TkvFileAttributes {
 public:
  constexpr TkvFileAttributes() = default;
  constexpr TkvFileAttributes(std::initializer_list<TkvFileAttribute> Items) {
    for (auto a : Items) bits_ = static_cast<std::uint8_t>(bits_ | (1u << a));
  }
  static constexpr TkvFileAttributes FromByte(std::uint8_t Bits) {
    TkvFileAttributes s;
    s.bits_ = static_cast<std::uint8_t>(Bits & 0x3F);
    return s;
  }
  constexpr std::uint8_t Byte() const { return bits_; }
  constexpr bool Contains(TkvFileAttribute A) const { return (bits_ >> A) & 1u; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr void Include(TkvFileAttribute A) { bits_ = static_cast<std::uint8_t>(bits_ | (1u << A)); }
  constexpr void Exclude(TkvFileAttribute A) { bits_ = static_cast<std::uint8_t>(bits_ & ~(1u << A)); }
  friend constexpr bool operator==(TkvFileAttributes a, TkvFileAttributes b) { return a.bits_ == b.bits_; }
  friend constexpr TkvFileAttributes operator+(TkvFileAttributes a, TkvFileAttributes b) {
    return FromByte(static_cast<std::uint8_t>(a.bits_ | b.bits_));
  }
  friend constexpr TkvFileAttributes operator-(TkvFileAttributes a, TkvFileAttributes b) {
    return FromByte(static_cast<std::uint8_t>(a.bits_ & ~b.bits_));
  }
  friend constexpr TkvFileAttributes operator*(TkvFileAttributes a, TkvFileAttributes b) {
    return FromByte(static_cast<std::uint8_t>(a.bits_ & b.bits_));
  }

 private:
  std::uint8_t bits_ = 0;
};

// The file-system attribute bits of a set: archive 0x20, hidden 0x2,
// read-only 0x1, system 0x4, temporary 0x100, offline 0x1000.
KELVORA_EXPORT std::uint32_t FileAttributeBits(TkvFileAttributes Attrs);
KELVORA_EXPORT TkvFileAttributes FileAttributesFromBits(std::uint32_t Bits);

// --- connection state ---
// There is no dial-up state here: IsOnline is HasLocalAddress.
KELVORA_EXPORT bool IsOnline();
// True when an interface that is up carries a routable address: not
// loopback (127.0.0.0/8, ::1), not link-local, not unspecified.
KELVORA_EXPORT bool HasLocalAddress();

// --- opening a web address ---
// Puts "http://" in front of an address without "://". With UseBrowser and a
// program for ".html" (GetAssociatedProgram), that program is started with
// the address as its parameter; otherwise (or when it cannot be started) the
// address goes to the desktop's opener (xdg-open, else sensible-browser). The
// process is started detached, in a new session; nothing is waited for and
// nothing is reported.
KELVORA_EXPORT void OpenURL(const std::string& URL, bool UseBrowser);
// OpenURL for an address that came from a server (an info file): only http
// and https addresses are opened (scheme in any case; none means http), so a
// server cannot make the desktop open a local file or start a handler of
// another scheme. Returns whether the address was handed on.
KELVORA_EXPORT bool OpenWebURL(const std::string& URL, bool UseBrowser);
// The program the desktop opens files of extension Ext (with its dot) with:
// the default application of its MIME type (XDG mimeapps.list, as xdg-mime
// answers), the Exec line of its desktop entry with field codes removed,
// reduced by SplitCommandLine. "" when none.
KELVORA_EXPORT std::string GetAssociatedProgram(const std::string& Ext);
// Splits a registered command line: on entry Cmd holds it; on return Cmd is
// the program and Params the parameter text.
KELVORA_EXPORT void SplitCommandLine(std::string& Cmd, std::string& Params);

// --- files and folders ---
KELVORA_EXPORT bool FolderExists(const std::string& Name);
// Creates, from left to right, every folder of FileName's folder part (up to
// and including its last "/"); failures are ignored.
KELVORA_EXPORT void ForceFolders(const std::string& FileName);
// Size of the file, -1 when there is no such file (or it is a folder).
KELVORA_EXPORT std::int64_t FileSizeOf(const std::string& FileName);
// Sets the modification and access times of an existing file that can be
// opened for writing; an argument of -1 keeps that time. A date-time goes
// through the FAT packed form (two-second steps, years 1980 to 2107) and is
// read as local time, like every date-time here (taking it as UTC would shift
// file times by the zone offset); a time that does not convert keeps its old
// value. Created has no counterpart here and is ignored (on Windows it is set
// like the others). Returns whether the times were written.
KELVORA_EXPORT bool SetFileTimes(const std::string& FileName, TDateTime Created, TDateTime Modified, TDateTime Accessed);
// Sets the file's attributes to exactly Attrs: read-only clears the write
// permission bits (its absence gives the owner write permission back), and
// the whole set is kept as text "0x%x" in the extended attribute
// user.DOSATTRIB (removed for the empty set). Returns false when the
// permissions cannot be changed, or the extended attribute cannot be written
// on a file system that supports it. On Windows the bits are the file's own
// attributes (SetFileAttributesW; the empty set is "normal").
KELVORA_EXPORT bool ApplyFileAttributes(const std::string& FileName, TkvFileAttributes Attrs);
// The attribute set of a file: read-only from the owner's write permission,
// the rest from the user.DOSATTRIB extended attribute. False when the file
// does not exist.
KELVORA_EXPORT bool ReadFileAttributes(const std::string& FileName, TkvFileAttributes& Attrs);
// Writes the bytes of the embedded resource Name of type Type (registered in
// the resource registry, names compared ignoring case) to Stream at its
// position. False when Stream is null, the resource is missing or empty, or
// writing raised.
KELVORA_EXPORT bool SaveResourceToStream(THandle Instance, const std::string& Name, const std::string& Type, TStream* Stream);

// --- version numbers ---
// Four parts: S + "." split at its dots; missing parts are "0", parts beyond
// the fourth are ignored.
KELVORA_EXPORT std::array<std::string, 4> SplitVersion(const std::string& S);
// 1, 0 or -1 comparing the four parts as integers; when a part of either is
// not a number, the sign of the byte-wise comparison of the whole texts.
KELVORA_EXPORT std::int8_t CompareVersions(const std::string& A, const std::string& B);

// --- waiting and application control ---
// Creates a manual-reset event, stores its handle in Event, and waits for it
// or any input of the loop back-end for Timeout ms each round (0 = no
// limit); input is processed (Application().ProcessMessages()) and the wait
// repeats; with StopOnTerminate it ends when the application is terminating.
// Event is closed and set to -1 at the end, also when an exception passes.
KELVORA_EXPORT void WaitForSignal(THandle& Event, unsigned Timeout, bool StopOnTerminate);
// Signals Event unless it is -1 or 0 (or no longer open).
KELVORA_EXPORT void SignalWait(THandle& Event);
// Asks the main window, if any, to close, then terminates the application.
KELVORA_EXPORT void CloseApplication();
// True when the kernel's major version is above 5 (kept for the contract;
// there is no virtual store on this platform).
KELVORA_EXPORT bool IsVersion6OrLater();
// Fills Size bytes at Rec with zeros and stores Size in the first 32-bit
// field (Size must be at least 4).
KELVORA_EXPORT void ClearSized(void* Rec, std::size_t Size);

}  // namespace kelvora
