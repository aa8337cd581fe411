// Not built yet: answers like an empty command slot.
#include "address/address_parser.h"

#include "entry/host_log.h"

namespace kavi {

int32_t SingleAddressParser(CallBlock*) {
  Log(kLevelSetup, "KAVIR> KaviMain() Internal error");
  return KAVI_SEVERE;
}

int32_t BlockAddressParser(CallBlock*) {
  Log(kLevelSetup, "KAVIR> KaviMain() Internal error");
  return KAVI_SEVERE;
}

}  // namespace kavi
