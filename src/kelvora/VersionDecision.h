// The version decision: is the release announced by an info file newer than
// the running program?
#pragma once

#include <string>

#include "kelvora/Types.h"

namespace kelvora {

// The engine's date form: two-digit month, "/", two-digit day, "/", four-digit
// year, whatever the locale (10/15/2005 is the 15th of October 2005).
std::string FormatEngineDate(TDateTime Date);
// Reads month/day/year into a date; false when the fields are not decimal
// integers forming a valid calendar date (the year is taken as written).
bool ParseEngineDate(const std::string& Text, TDateTime& Date);
// Today's local date (midnight).
TDateTime TodayDate();

struct TReleaseInfo;

// True when the release date lies after VersionDate; either date, when
// empty or malformed, counts as today.
bool IsNewerByDate(const TReleaseInfo& Release, const std::string& VersionDate);
bool IsNewerByDate(const TReleaseInfo& Release, const std::string& VersionDate, TDateTime Today);
// True when the release's version orders above VersionNumber (ReleaseVersion.h).
// A release whose version is not one is not newer (a check refuses its file);
// a VersionNumber that is not one is compared by CompareVersions, as before
// versions had rules.
bool IsNewerByNumber(const TReleaseInfo& Release, const std::string& VersionNumber);
// The same for the info file Text.
bool IsNewerByDate(const std::string& Text, const std::string& VersionDate);
bool IsNewerByNumber(const std::string& Text, const std::string& VersionNumber);

}  // namespace kelvora
