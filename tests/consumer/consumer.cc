// Links against an installed StatRelay and calls exports that touch nothing.
// The installed header carries the version the package was installed as.
#include <statrelay/statrelay.h>

#include <string_view>

#if defined(SR_PACKAGE_VERSION)
static_assert(std::string_view(STATRELAY_VERSION) == SR_PACKAGE_VERSION,
              "the installed header's version is the package's");
#endif

int main() { return ReportNow() == 1 && Stop() == 1 ? 0 : 1; }
