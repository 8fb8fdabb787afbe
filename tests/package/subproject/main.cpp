// The parent's own program, linked with Kelvora::Core from the subproject.
#include <kelvora/kvUtils.h>

int main() { return kelvora::CompareVersions("2.0", "1.9") > 0 ? 0 : 1; }
