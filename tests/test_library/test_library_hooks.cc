// The test build of the shared library exports, beside the product's
// functions, the hooks a test's child process needs when it loads the library
// dynamically (it has no other way to reach them).
#include "pcf/filebase.h"
#include "statrelay/statrelay.h"

// Filebase::SetSaveTimerPeriodForTest for report files made from now on.
extern "C" SR_EXPORT void SR_CALL SetSaveTimerPeriodForTest(unsigned int period_ms) {
  Filebase::SetSaveTimerPeriodForTest(period_ms);
}

// Filebase::SaveTicksForTest: the save-timer ticks run so far.
extern "C" SR_EXPORT uint64_t SR_CALL SaveTicksForTest(void) { return Filebase::SaveTicksForTest(); }
