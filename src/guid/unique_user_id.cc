#include "guid/unique_user_id.h"

namespace user_info {

// No machine identifier is computed yet: callers get none.
int UniqueUserID::GetId(SRCHAR* /*buffer*/, uint32_t /*capacity*/) { return 0; }

}  // namespace user_info
