// The work is done by the platform security service (platform/security.h);
// this file keeps the class's translation unit beside its header.
#include "env/open_security_attributes.h"
