// Not built yet: answers like an empty command slot.
#include "access/read.h"

#include "entry/host_log.h"

namespace kavi {

int32_t SingleRead(CallBlock*) {
  Log(kLevelSetup, "KAVIR> KaviMain() Internal error");
  return KAVI_SEVERE;
}

int32_t BlockRead(CallBlock*) {
  Log(kLevelSetup, "KAVIR> KaviMain() Internal error");
  return KAVI_SEVERE;
}

}  // namespace kavi
