// The driver's one entry: dispatch by command code through a fixed table.
#include "access/read.h"
#include "access/write.h"
#include "address/address_parser.h"
#include "entry/call_block.h"
#include "entry/host_log.h"
#include "entry/lifecycle.h"
#include "serial/port_commands.h"

namespace kavi {
namespace {

struct CommandSlot {
  CommandHandler handler;  // null: empty slot
  bool usesInstance;
  bool usesParams;
};

constexpr CommandSlot kCommandTable[16] = {
    {ColdStart, true, true},            // 1
    {WarmStart, false, false},          // 2
    {SingleAddressParser, true, true},  // 3
    {BlockAddressParser, true, true},   // 4
    {SingleRead, true, true},           // 5
    {BlockRead, true, true},            // 6
    {SingleWrite, true, true},          // 7
    {nullptr, false, false},            // 8
    {nullptr, false, false},            // 9
    {nullptr, false, false},            // 10
    {EndKavi, false, false},            // 11
    {CloseCom, true, false},            // 12
    {ReOpenCom, true, false},           // 13
    {GetKaviInfo, false, true},         // 14
    {ChangeKaviParams, true, true},     // 15
    {nullptr, false, false},            // 16
};

int32_t InternalError() {
  Log(kLevelSetup, "KAVIR> KaviMain() Internal error");
  return KAVI_SEVERE;
}

}  // namespace
}  // namespace kavi

extern "C" int32_t KAVI_API KaviMain(CallBlock* call) {
  using namespace kavi;
  if (call == nullptr) return InternalError();
  const uint32_t command = call->command;
  if (command == 0 || command > 16) return InternalError();
  const CommandSlot& slot = kCommandTable[command - 1];
  // Null records from the host are refused here, so no handler meets one.
  if (slot.handler == nullptr || (slot.usesInstance && !call->instance) ||
      (slot.usesParams && !call->params)) {
    return InternalError();
  }
  return slot.handler(call);
}
