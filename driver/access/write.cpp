// Not built yet: answers like an empty command slot.
#include "access/write.h"

#include "entry/host_log.h"

namespace kavi {

int32_t SingleWrite(CallBlock*) {
  Log(kLevelSetup, "KAVIR> KaviMain() Internal error");
  return KAVI_SEVERE;
}

}  // namespace kavi
