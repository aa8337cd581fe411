#include "serial/port_termios.h"

#include <cstddef>
#include <iterator>

namespace kavi {
namespace {

#if !defined(__linux__)
#error "the read time-out lives in Linux's spare control-character slots"
#endif

// The read time-out is a property of the open port, like Win32's
// COMMTIMEOUTS, and the system has no such property for a descriptor. So it
// lives in three control-character slots that no Linux line discipline ever
// reads in any mode: VSWTC and the two spares after VEOL2. It stays with the
// port from open to close without any state in the driver, and it is read
// together with VMIN by the one tcgetattr a read needs anyway.
constexpr int kTimeoutSlots[] = {VSWTC, VEOL2 + 1, VEOL2 + 2};
static_assert(VEOL2 + 2 < NCCS);
static_assert(VSWTC != VEOL2 + 1 && VSWTC != VEOL2 + 2);

struct SpeedEntry {
  int32_t rate;
  speed_t speed;
};

// Every rate a terminal names that a 16-bit setting can carry.
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},     {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},   {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200},
};

// The framing bits a terminal may keep its own way.
constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD
#if defined(CMSPAR)
                                  | CMSPAR
#endif
    ;

bool CharacterSize(uint8_t byteSize, tcflag_t* bits) {
  switch (byteSize) {
    case 5:
      *bits = CS5;
      return true;
    case 6:
      *bits = CS6;
      return true;
    case 7:
      *bits = CS7;
      return true;
    case 8:
      *bits = CS8;
      return true;
    default:
      return false;
  }
}

bool ParityBits(uint8_t parity, tcflag_t* bits) {
  switch (parity) {
    case 0:
      *bits = 0;
      return true;
    case 1:
      *bits = PARENB | PARODD;
      return true;
    case 2:
      *bits = PARENB;
      return true;
#if defined(CMSPAR)
    case 3:  // mark: the parity bit always 1
      *bits = PARENB | CMSPAR | PARODD;
      return true;
    case 4:  // space: always 0
      *bits = PARENB | CMSPAR;
      return true;
#endif
    default:
      return false;
  }
}

// A UART sends one and a half stop bits for CSTOPB with 5-bit characters and
// two otherwise, so each Win32 code has one character size it works with.
bool StopBits(uint8_t stopBits, uint8_t byteSize, tcflag_t* bits) {
  switch (stopBits) {
    case 0:
      *bits = 0;
      return true;
    case 1:
      *bits = CSTOPB;
      return byteSize == 5;
    case 2:
      *bits = CSTOPB;
      return byteSize != 5;
    default:
      return false;
  }
}

}  // namespace

bool TermiosSpeed(int32_t baudRate, speed_t* speed) {
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.rate == baudRate) {
      *speed = entry.speed;
      return true;
    }
  }
  return false;
}

bool ConfigureTermios(const LineSettings& line, const TerminalControl& control,
                      termios* attributes) {
  speed_t speed = B0;
  tcflag_t size = 0;
  tcflag_t parity = 0;
  tcflag_t stop = 0;
  const auto byteSize = static_cast<uint8_t>(line.byteSize & 0xFF);
  if (!TermiosSpeed(line.baudRate, &speed) || !CharacterSize(byteSize, &size) ||
      !ParityBits(static_cast<uint8_t>(line.parity & 0xFF), &parity) ||
      !StopBits(static_cast<uint8_t>(line.stopBits & 0xFF), byteSize, &stop)) {
    return false;
  }

  termios result = *attributes;
  // Raw bytes both ways: telegrams are binary, so no software flow control,
  // no line editing, no translation and no signals. A byte with a parity
  // error reads as 0 (INPCK without PARMRK); a terminal cannot replace it
  // with the error character, and the telegram checksum rejects it either
  // way.
  result.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK |
                                           INPCK | ISTRIP | INLCR | IGNCR |
                                           ICRNL | IXON | IXOFF | IXANY);
  if (control.parityCheck) result.c_iflag |= INPCK;
  result.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  result.c_lflag &=
      ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // CLOCAL: carrier detect plays no part, as on a Win32 port.
  result.c_cflag &= ~static_cast<tcflag_t>(kFramingBits | CSTOPB | CRTSCTS);
  result.c_cflag |= size | parity | stop | CREAD | CLOCAL;
  if (control.hardwareFlow) result.c_cflag |= CRTSCTS;
  result.c_cc[VMIN] = 1;
  result.c_cc[VTIME] = 0;
  StoreReadTimeout(&result, kOpenReadTimeout);
  if (cfsetispeed(&result, speed) != 0 || cfsetospeed(&result, speed) != 0) {
    return false;
  }
  *attributes = result;
  return true;
}

uint32_t DcbFlagsFromTermios(const termios& attributes, bool dtrRaised,
                             bool rtsRaised) {
  return DcbFlagsFromTerminal((attributes.c_cflag & CRTSCTS) != 0,
                              (attributes.c_iflag & INPCK) != 0, dtrRaised,
                              rtsRaised);
}

bool AppliedApartFromFraming(const termios& wanted, const termios& actual) {
  if (wanted.c_iflag != actual.c_iflag || wanted.c_oflag != actual.c_oflag ||
      wanted.c_lflag != actual.c_lflag ||
      (wanted.c_cflag & ~kFramingBits) != (actual.c_cflag & ~kFramingBits) ||
      cfgetispeed(&wanted) != cfgetispeed(&actual) ||
      cfgetospeed(&wanted) != cfgetospeed(&actual)) {
    return false;
  }
  return wanted.c_cc[VMIN] == actual.c_cc[VMIN] &&
         wanted.c_cc[VTIME] == actual.c_cc[VTIME] &&
         StoredReadTimeout(wanted) == StoredReadTimeout(actual);
}

uint32_t StoredReadTimeout(const termios& attributes) {
  uint32_t value = 0;
  for (std::size_t i = 0; i < std::size(kTimeoutSlots); ++i) {
    value |= static_cast<uint32_t>(attributes.c_cc[kTimeoutSlots[i]])
             << (8 * i);
  }
  return value != 0 ? value : kOpenReadTimeout;
}

void StoreReadTimeout(termios* attributes, uint32_t milliseconds) {
  if (milliseconds > kLongestStoredReadTimeout) {
    milliseconds = kLongestStoredReadTimeout;
  }
  for (std::size_t i = 0; i < std::size(kTimeoutSlots); ++i) {
    attributes->c_cc[kTimeoutSlots[i]] =
        static_cast<cc_t>((milliseconds >> (8 * i)) & 0xFF);
  }
}

}  // namespace kavi
