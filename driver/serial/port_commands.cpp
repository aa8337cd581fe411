// Not built yet: answers like an empty command slot.
#include "serial/port_commands.h"

#include "entry/host_log.h"

namespace kavi {

int32_t CloseCom(CallBlock*) {
  Log(kLevelSetup, "KAVIR> KaviMain() Internal error");
  return KAVI_SEVERE;
}

int32_t ReOpenCom(CallBlock*) {
  Log(kLevelSetup, "KAVIR> KaviMain() Internal error");
  return KAVI_SEVERE;
}

int32_t ChangeKaviParams(CallBlock*) {
  Log(kLevelSetup, "KAVIR> KaviMain() Internal error");
  return KAVI_SEVERE;
}

}  // namespace kavi
