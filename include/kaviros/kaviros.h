/* KAVIROS: serial driver for R2600/R2601 process controllers.
 *
 * Public interface shared by the driver and its host: the records passed
 * through KaviMain, the command and result codes, and the log function the
 * driver imports from the host. Usable from C and C++.
 *
 * Every record has natural alignment with native pointers; on 32-bit Windows
 * the byte offsets are exactly those the host runtime expects (checked at
 * compile time in records_layout.h). */
#ifndef KAVIROS_KAVIROS_H
#define KAVIROS_KAVIROS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Calling convention of the entry and of the host's log function ---- */
#if defined(_WIN32)
#define KAVI_API __stdcall
#else
#define KAVI_API
#endif

/* ---- Command codes (CallBlock.command) ---- */
enum KaviCommand {
  KAVI_COLD_START = 1,
  KAVI_WARM_START = 2,
  KAVI_SINGLE_ADDRESS_PARSER = 3,
  KAVI_BLOCK_ADDRESS_PARSER = 4,
  KAVI_SINGLE_READ = 5,
  KAVI_BLOCK_READ = 6,
  KAVI_SINGLE_WRITE = 7,
  KAVI_END_KAVI = 11,
  KAVI_CLOSE_COM = 12,
  KAVI_REOPEN_COM = 13,
  KAVI_GET_KAVI_INFO = 14,
  KAVI_CHANGE_KAVI_PARAMS = 15
};

/* ---- Result codes of KaviMain ---- */
enum KaviResult {
  KAVI_OK = 0,      /* done */
  KAVI_REFUSED = 1, /* this request refused or failed; driver and port usable */
  KAVI_SEVERE = 2   /* port open/close failed, no valid exchange, no handler */
};

/* ---- Log levels passed to the host's log function ---- */
enum KaviLogLevel {
  KAVI_LEVEL_EXCHANGE = 8, /* exchange with the controller, data-path faults */
  KAVI_LEVEL_SETUP = 32    /* set-up and the host's definitions */
};

/* ---- Gate widths (InstanceBlock.gateTypes entries) ---- */
enum KaviGateWidth {
  KAVI_GATE_NONE = 0,
  KAVI_GATE_8BIT = 1,
  KAVI_GATE_16BIT = 2,
  KAVI_GATE_32BIT = 3
};

/* ---- Data type codes (ParseRequest.dataType, IoRequest.dataType) ---- */
enum KaviDataType {
  KAVI_TYPE_UINT16 = 0, /* 16-bit analog, 8-bit values zero-extended */
  KAVI_TYPE_INT16 = 1,  /* 16-bit analog, 8-bit values sign-extended */
  KAVI_TYPE_INT32 = 3,  /* 32-bit analog (4 and 5 are accepted alike) */
  KAVI_TYPE_BIT = 6     /* one bit of a parameter */
};

/* The record of every call. Bytes 8..15 (32-bit layout) belong to the host. */
typedef struct CallBlock {
  void* instance;   /* InstanceBlock of this driver instance */
  uint32_t command; /* KaviCommand */
  uint8_t hostReserved[8];
  void* params; /* the command's record */
} CallBlock;

/* Line settings in Win32 DCB coding; copied between records as one block. */
typedef struct LineSettings {
  int16_t baudRate;  /* bits per second, sign-extended to 32 bits */
  uint16_t byteSize; /* data bits 4..8 (low byte used) */
  uint16_t stopBits; /* 0 one, 1 one and a half, 2 two (low byte used) */
  uint16_t parity;   /* 0 none, 1 odd, 2 even, 3 mark, 4 space (low byte) */
} LineSettings;

#define KAVI_PORT_NAME_SIZE 12

/* Filled by GetKaviInfo (command 14). */
typedef struct DriverInfo {
  uint32_t fixedA;
  const char* deviceName;
  const char* banner;
  uint32_t instanceSize;
  uint32_t fixedB;
  LineSettings line; /* the controller's default line settings */
  uint32_t fixedC;
} DriverInfo;

/* Read by ColdStart (command 1). */
typedef struct ColdStartParams {
  char portName[KAVI_PORT_NAME_SIZE]; /* zero-terminated; "NUL": null device */
  uint32_t usePort;                   /* 0: run without a port */
  uint32_t readTimeout;               /* milliseconds; 0, 0xFFFFFFFF: keep */
  LineSettings line;
} ColdStartParams;

/* Read by ChangeKaviParams (command 15). */
typedef struct ChangeParams {
  char portName[KAVI_PORT_NAME_SIZE];
  uint32_t readTimeout; /* 0 and 0xFFFFFFFF keep the stored one */
  LineSettings line;    /* line.baudRate 0 keeps all four stored settings */
} ChangeParams;

/* Port name, line settings and modem-line/flow-control selection. */
typedef struct PortSettings {
  char portName[KAVI_PORT_NAME_SIZE];
  LineSettings line;
  uint16_t lineFlags;
} PortSettings;

#define KAVI_GATE_COUNT 256
#define KAVI_TX_BUFFER_SIZE 50
#define KAVI_RX_BUFFER_SIZE 52
#define KAVI_INSTANCE_SIZE 648

/* The driver's whole state; allocated by the host, KAVI_INSTANCE_SIZE bytes. */
typedef struct InstanceBlock {
  uint16_t gateTypes[KAVI_GATE_COUNT]; /* KaviGateWidth per parameter index */
  uint32_t readTimeout;
  uint32_t portOpen;
  uint32_t portHandle; /* 0 when no port is open */
  PortSettings portSettings;
  uint8_t txBuffer[KAVI_TX_BUFFER_SIZE];
  uint8_t rxBuffer[KAVI_RX_BUFFER_SIZE];
} InstanceBlock;

/* Read and filled by SingleAddressParser (3) and BlockAddressParser (4). */
typedef struct ParseRequest {
  const char* address; /* in: zero-terminated address string */
  uint32_t hostReserved;
  uint32_t dataType;  /* in: KaviDataType */
  int32_t blockSize;  /* in: block definitions only */
  int32_t plcAddress; /* out: station 0..250 or 255 */
  int32_t gateWidth;  /* out: KaviGateWidth */
  int32_t paramIndex; /* out: 0..255 */
  int32_t bitNumber;  /* out: bit 0..31, or -1 */
  int32_t valueBits;  /* out: 1, 16 or 32 */
} ParseRequest;

/* The variable of SingleRead (5), BlockRead (6) and SingleWrite (7): the
 * parser's outputs and where the value lives. Never written by the driver. */
typedef struct IoRequest {
  const char* address;
  uint32_t hostReserved1;
  int32_t plcAddress;
  int32_t gateWidth;
  int32_t paramIndex;
  int32_t bitNumber;
  int32_t valueBits;
  int32_t dataType;
  uint8_t hostReserved2[8];
  void* value; /* ValueSlot: 4 bytes, 8 for a block */
} IoRequest;

/* Host memory of a value. A single variable has 4 bytes: 8/16-bit values
 * and bits of 8/16-bit parameters in the 16-bit word at offset 2 (bytes 0
 * and 1 untouched), 32-bit values and bits of 32-bit parameters in the
 * 32-bit word at offset 0. A block has 8 bytes: F0, F1, F2, F3 as 16-bit
 * words. */
typedef union ValueSlot {
  uint32_t dword;
  struct {
    uint16_t hostKept;
    uint16_t word;
  } single;
  uint16_t block[4];
} ValueSlot;

/* The driver's one export. */
#if defined(_WIN32) && defined(KAVIROS_BUILDING_DRIVER)
__declspec(dllexport)
#elif defined(__GNUC__) && defined(KAVIROS_BUILDING_DRIVER)
__attribute__((visibility("default")))
#endif
    int32_t KAVI_API KaviMain(CallBlock* call);

/* Pointer type of KaviMain, for hosts that load the driver at run time. */
typedef int32_t(KAVI_API* KaviMainFunction)(CallBlock* call);

/* The host's log function, which the driver imports. On Windows it is `err`
 * exported by MELBAX.dll; elsewhere `melbax_err`, resolved from the host
 * process. printf-style; every argument is a 32-bit integer. */
#if defined(_WIN32)
#define KAVI_HOST_LOG_NAME "err"
#else
#define KAVI_HOST_LOG_NAME "melbax_err"
int32_t melbax_err(int32_t level, const char* format, ...);
#endif

/* ---- Telegram trace (optional host function) ----
 *
 *   void melbax_trace(int32_t direction, const uint8_t* bytes,
 *                     uint32_t count);           (__cdecl on Windows)
 *
 * A host that wants to see the line defines this function; the driver then
 * calls it with every request right after writing it (the bytes the port
 * took) and every reply right after reading it (the bytes that arrived, also
 * when the reply is rejected or none came: count may be 0). `bytes` is valid
 * only during the call. The host decides whether tracing is on and does all
 * the formatting; a host without the function loses nothing but the trace.
 *
 * Binding: on Windows the driver looks the name up in MELBAX.dll
 * (GetModuleHandleA + GetProcAddress) each time it would trace, so MELBAX.dll
 * exports it undecorated like `err`; it is never imported. Elsewhere the
 * driver refers to it weakly: defined with default visibility in the host
 * process, it is called; absent, the call is skipped. */
enum KaviTraceDirection {
  KAVI_TRACE_REQUEST = 0, /* written to the controller */
  KAVI_TRACE_REPLY = 1    /* read from the controller */
};

#if defined(_WIN32)
#define KAVI_TRACE_API __cdecl
#else
#define KAVI_TRACE_API
#endif
#define KAVI_HOST_TRACE_NAME "melbax_trace"

typedef void(KAVI_TRACE_API* KaviTraceFunction)(int32_t direction,
                                                const uint8_t* bytes,
                                                uint32_t count);

void KAVI_TRACE_API melbax_trace(int32_t direction, const uint8_t* bytes,
                                 uint32_t count);
/* ---- End of telegram trace ---- */

#ifdef __cplusplus
}
#endif

#endif /* KAVIROS_KAVIROS_H */
