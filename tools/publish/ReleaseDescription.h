// The release description "make" reads: a JSON object
//   {"version": "1.5.0" | "date": "12/24/2026", "message": "...", "method": 0,
//    "expires": "2027-06-30", "files": [{"path": "build/app", "url": "https://...",
//    "target": "%current%app"}, ...]}
// and the info file it becomes.
#pragma once

#include <string>

namespace publish {

// The unsigned info file for the description in File (its text Json); file
// paths are taken relative to File's folder. Throws Failure naming File and
// the line, or the member, that is wrong.
std::string InfoFileFromDescription(const std::string& File, const std::string& Json);

// Text with its signature line (if any) replaced by one made with the
// private key in PEM.
std::string SignInfoText(const std::string& Text, const std::string& PrivateKeyPem);

}  // namespace publish
