#include "env/product_info.h"

namespace env {

// The installation is not read yet: nothing is found.
SrString DefaultVersion() { return SrString(); }
SrString DefaultChannel() { return SrString(); }
SrString DefaultReportUrl() { return SrString(); }

}  // namespace env
