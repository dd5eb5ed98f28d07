// Facts about the installed product that fill what a host leaves empty in its
// parameter block. Each reads the installation afresh; empty means not found.
#ifndef STATRELAY_ENV_PRODUCT_INFO_H_
#define STATRELAY_ENV_PRODUCT_INFO_H_

#include "platform/text.h"

namespace env {

// The installed product's version text.
SrString DefaultVersion();
// The install channel.
SrString DefaultChannel();
// The address reports are sent to.
SrString DefaultReportUrl();

}  // namespace env

#endif  // STATRELAY_ENV_PRODUCT_INFO_H_
