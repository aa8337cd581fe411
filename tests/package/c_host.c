/* A host written in plain C against the public header alone: it loads the
 * driver at run time, defines the log function the driver imports, and runs
 * the commands a host starts with. Built as C and as C++ from this file, and
 * again against the installed header by the install test.
 *
 * Usage: c_host DRIVER_LIBRARY */
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kaviros/kaviros.h"

static int messageCount;
static int32_t lastLevel;
static char lastMessage[256];
static int failures;

/* The driver's log function: printf-style, 32-bit integer arguments. */
int32_t melbax_err(int32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(lastMessage, sizeof lastMessage, format, args);
  va_end(args);
  lastLevel = level;
  ++messageCount;
  return 0;
}

static void Check(int passed, const char* what) {
  if (!passed) {
    fprintf(stderr, "c_host: FAILED: %s\n", what);
    ++failures;
  }
}

static int32_t Run(KaviMainFunction entry, void* instance, uint32_t command,
                   void* params) {
  CallBlock call;
  memset(&call, 0, sizeof call);
  call.instance = instance;
  call.command = command;
  call.params = params;
  messageCount = 0;
  lastMessage[0] = '\0';
  return entry(&call);
}

static void CheckMessage(int32_t level, const char* text, const char* what) {
  Check(
      messageCount == 1 && lastLevel == level && strcmp(lastMessage, text) == 0,
      what);
  if (messageCount > 0) printf("c_host: [%d] %s\n", lastLevel, lastMessage);
}

int main(int argc, char** argv) {
  void* library;
  void* symbol;
  KaviMainFunction entry;
  DriverInfo info;
  ColdStartParams start;
  ParseRequest parse;
  IoRequest io;
  ValueSlot slot;
  void* instance;

  if (argc != 2) {
    fprintf(stderr, "usage: c_host DRIVER_LIBRARY\n");
    return 2;
  }
  library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "c_host: cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  symbol = dlsym(library, "KaviMain");
  if (symbol == NULL) {
    fprintf(stderr, "c_host: %s does not export KaviMain\n", argv[1]);
    return 1;
  }
  memcpy(&entry, &symbol, sizeof entry);

  memset(&info, 0, sizeof info);
  Check(Run(entry, NULL, KAVI_GET_KAVI_INFO, &info) == KAVI_OK,
        "GetKaviInfo returns 0");
  Check(info.instanceSize == KAVI_INSTANCE_SIZE, "instance size is 648");
  Check(info.line.baudRate == 9600 && info.line.byteSize == 8 &&
            info.line.stopBits == 0 && info.line.parity == 2,
        "default line 9600 8E1");
  Check(info.deviceName != NULL && info.banner != NULL, "names are given");
  if (info.deviceName != NULL) printf("c_host: device %s\n", info.deviceName);

  instance = calloc(1, info.instanceSize);
  if (instance == NULL) return 1;

  memset(&start, 0, sizeof start);
  start.usePort = 0;
  start.readTimeout = 1000;
  start.line = info.line;
  Check(Run(entry, instance, KAVI_COLD_START, &start) == KAVI_OK &&
            messageCount == 0,
        "ColdStart without a port returns 0 and logs nothing");

  memset(&parse, 0, sizeof parse);
  parse.address = "0110";
  parse.dataType = KAVI_TYPE_UINT16;
  Check(Run(entry, instance, KAVI_SINGLE_ADDRESS_PARSER, &parse) == KAVI_OK,
        "address 0110 is declared");
  Check(parse.plcAddress == 1 && parse.paramIndex == 0x10 &&
            parse.gateWidth == KAVI_GATE_16BIT && parse.bitNumber == -1 &&
            parse.valueBits == 16,
        "address 0110 decodes to station 1, index 0x10, 16 bits");

  memset(&io, 0, sizeof io);
  io.address = parse.address;
  io.plcAddress = parse.plcAddress;
  io.gateWidth = parse.gateWidth;
  io.paramIndex = parse.paramIndex;
  io.bitNumber = parse.bitNumber;
  io.valueBits = parse.valueBits;
  io.dataType = (int32_t)parse.dataType;
  io.value = &slot;
  memset(&slot, 0, sizeof slot);
  Check(Run(entry, instance, KAVI_SINGLE_READ, &io) == KAVI_REFUSED,
        "a read without a port is refused");
  CheckMessage(KAVI_LEVEL_SETUP, "KAVIR> SingleRead() com-port is not open",
               "the refusal is logged at level 32");

  parse.address = "0G10";
  Check(
      Run(entry, instance, KAVI_SINGLE_ADDRESS_PARSER, &parse) == KAVI_REFUSED,
      "address 0G10 is refused");
  CheckMessage(KAVI_LEVEL_SETUP,
               "KAVIR> ParseAddress() found illegal character in address "
               "string",
               "the illegal character is logged");

  Check(Run(entry, instance, 9, NULL) == KAVI_SEVERE, "code 9 has no handler");
  CheckMessage(KAVI_LEVEL_SETUP, "KAVIR> KaviMain() Internal error",
               "an empty slot is logged");

  Check(Run(entry, instance, KAVI_END_KAVI, NULL) == KAVI_OK,
        "EndKavi returns 0");

  free(instance);
  dlclose(library);
  if (failures != 0) {
    fprintf(stderr, "c_host: %d check(s) failed\n", failures);
    return 1;
  }
  printf("c_host: every check passed\n");
  return 0;
}
