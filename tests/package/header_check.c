/* The public header on its own, as a host writer includes it: it must
 * compile as C99, C11 and C++ without a warning, and give the records the
 * layout the driver was built with. Compiled as part of every build. */
/* clang-format off: first, so that nothing included before it can hide
   what it fails to include itself. */
#include "kaviros/kaviros.h"
/* clang-format on */

#include <stddef.h>

#if defined(__cplusplus) || \
    (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
#if defined(__cplusplus)
#define CHECK(condition, name) static_assert(condition, #name)
#else
#define CHECK(condition, name) _Static_assert(condition, #name)
#endif
#else
#define CHECK(condition, name) \
  typedef char header_check_##name[(condition) ? 1 : -1]
#endif

/* Records without pointers are the same everywhere. */
CHECK(sizeof(LineSettings) == 8, line_settings_size);
CHECK(offsetof(LineSettings, parity) == 6, line_settings_parity);
CHECK(sizeof(ColdStartParams) == 28, cold_start_size);
CHECK(offsetof(ColdStartParams, usePort) == 12, cold_start_use_port);
CHECK(offsetof(ColdStartParams, line) == 20, cold_start_line);
CHECK(sizeof(ChangeParams) == 24, change_params_size);
CHECK(offsetof(ChangeParams, line) == 16, change_params_line);
CHECK(sizeof(PortSettings) == 22, port_settings_size);
CHECK(sizeof(InstanceBlock) == KAVI_INSTANCE_SIZE, instance_size);
CHECK(offsetof(InstanceBlock, portSettings) == 524, instance_settings);
CHECK(offsetof(InstanceBlock, rxBuffer) == 596, instance_rx_buffer);
CHECK(sizeof(ValueSlot) == 8, value_slot_size);

/* Where pointers are 32 bits wide, the byte offsets the host runtime uses. */
#if defined(_WIN32) && !defined(_WIN64)
CHECK(sizeof(CallBlock) == 20, call_block_size);
CHECK(offsetof(CallBlock, params) == 16, call_block_params);
CHECK(sizeof(DriverInfo) == 32, driver_info_size);
CHECK(offsetof(DriverInfo, line) == 20, driver_info_line);
CHECK(sizeof(ParseRequest) == 36, parse_request_size);
CHECK(offsetof(ParseRequest, plcAddress) == 16, parse_request_station);
CHECK(offsetof(IoRequest, plcAddress) == 8, io_request_station);
CHECK(offsetof(IoRequest, value) == 40, io_request_value);
#endif

int header_check_uses_every_name(CallBlock* call);

/* Every type, constant and function pointer a host needs, used once. */
int header_check_uses_every_name(CallBlock* call) {
  static const uint32_t commands[] = {
      KAVI_COLD_START,           KAVI_WARM_START,    KAVI_SINGLE_ADDRESS_PARSER,
      KAVI_BLOCK_ADDRESS_PARSER, KAVI_SINGLE_READ,   KAVI_BLOCK_READ,
      KAVI_SINGLE_WRITE,         KAVI_END_KAVI,      KAVI_CLOSE_COM,
      KAVI_REOPEN_COM,           KAVI_GET_KAVI_INFO, KAVI_CHANGE_KAVI_PARAMS};
  static const int32_t results[] = {KAVI_OK, KAVI_REFUSED, KAVI_SEVERE};
  static const int32_t levels[] = {KAVI_LEVEL_EXCHANGE, KAVI_LEVEL_SETUP};
  static const int32_t widths[] = {KAVI_GATE_NONE, KAVI_GATE_8BIT,
                                   KAVI_GATE_16BIT, KAVI_GATE_32BIT};
  static const uint32_t types[] = {KAVI_TYPE_UINT16, KAVI_TYPE_INT16,
                                   KAVI_TYPE_INT32, KAVI_TYPE_BIT};
  static const int32_t directions[] = {KAVI_TRACE_REQUEST, KAVI_TRACE_REPLY};
  static const char logName[] = KAVI_HOST_LOG_NAME;
  static const char traceName[] = KAVI_HOST_TRACE_NAME;
  KaviMainFunction entry = KaviMain;
  KaviTraceFunction trace = melbax_trace;
  DriverInfo info;
  ColdStartParams start;
  ChangeParams change;
  ParseRequest parse;
  IoRequest io;
  ValueSlot slot;
  CallBlock inner;
  int sum = 0;

  info.fixedA = 0;
  start.usePort = 0;
  change.readTimeout = 0;
  parse.dataType = types[1];
  io.value = &slot;
  slot.single.word = 0;
  call->command = commands[0];
  inner.params = &info;
  sum += results[1] + levels[1] + widths[3] + directions[1];
  sum += logName[0] + traceName[0];
  sum += start.usePort == 0 && change.readTimeout == 0;
  sum += parse.dataType == KAVI_TYPE_INT16 && io.value == &slot;
  sum += entry ? 1 : 0;
  sum += trace ? 1 : 0;
  sum += slot.single.word == 0 && info.fixedA == 0 && inner.params == &info;
  return sum + KAVI_PORT_NAME_SIZE + KAVI_GATE_COUNT + KAVI_TX_BUFFER_SIZE +
         KAVI_RX_BUFFER_SIZE;
}
