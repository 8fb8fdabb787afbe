// The platform seam for programs a package manager owns: such a program is
// replaced by the system's package manager, never by the component.
#pragma once

#include <string>

namespace kelvora::platform {

// The package that installed the file at Path, or empty when none did (or
// the system keeps no such record). Linux: dpkg's database, read by
// dpkg-query (which honours DPKG_ADMINDIR); a program path under /usr is
// also looked up by its name before the merge of /bin into /usr/bin, the
// name the package lists. Windows: always empty; a host whose program an
// MSI product installed says so itself (TkvKelvora::SetPackageOwner).
std::string OwningPackage(const std::string& Path);

}  // namespace kelvora::platform
