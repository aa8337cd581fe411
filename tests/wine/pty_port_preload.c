/* Preloaded into Wine (LD_PRELOAD) by the harness that runs the Windows
 * programs against pseudo-terminals standing in for COM ports: makes Wine
 * see such a terminal as a serial port that the driver can configure again
 * and again. For pseudo-terminals only; data and every other device pass
 * untouched.
 *
 * RTS mode. Wine derives a port's DTR and RTS modes from the terminal. It
 * asks the modem lines with TIOCMGET, which a pseudo-terminal refuses, and
 * then reports both enabled; it reports CRTSCTS, which it sets for RTS
 * handshake, as RTS enabled as well; RTS handshake it never reports. So
 * every such port reads fRtsControl 1, and the driver's lineFlags rule that
 * sets the high bit of fRtsControl asks for 3 (toggle), which Wine refuses.
 * A Windows port the driver opened before reads handshake (2), and the rule
 * keeps 2; the nearest state Wine can report that gives the same result is
 * 0. So TIOCMGET reports RTS low, and DTR as this process last set it
 * (TIOCMSET, TIOCMBIS, TIOCMBIC), low at first; setting lines succeeds; and
 * the attributes read report no CRTSCTS (there is no CTS line to follow).
 *
 * Character framing. A pseudo-terminal keeps 8 bits without parity, and
 * glibc's tcsetattr reports a request for parity or fewer bits as EINVAL
 * when nothing else changes, which a second open with the controller's even
 * parity is. Wine's attribute writes here ask for 8 bits without parity,
 * what the terminal keeps anyway. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <stdarg.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

/* The kernel's record of TCGETS2, which Wine built with <asm/termbits.h>
 * reads; glibc does not declare it. */
struct termios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
#ifndef TCGETS2
#define TCGETS2 _IOR('T', 0x2A, struct termios2)
#endif
/* TCGETS fills the kernel's termios, whose c_cflag sits where these do. */
_Static_assert(offsetof(struct termios, c_cflag) ==
                   offsetof(struct termios2, c_cflag),
               "c_cflag at one offset");

enum { kPtySlaveFirstMajor = 136, kPtySlaveLastMajor = 143, kTerminals = 64 };

typedef int (*IoctlFunction)(int, unsigned long, ...);
typedef int (*GetAttributesFunction)(int, struct termios*);
typedef int (*SetAttributesFunction)(int, int, const struct termios*);

static pthread_mutex_t dtrMutex = PTHREAD_MUTEX_INITIALIZER;
static dev_t dtrRaised[kTerminals]; /* terminals with DTR up; 0: free */

/* POSIX's way to take a function from dlsym. */
static void* Next(void** cache, const char* name) {
  if (*cache == NULL) *cache = dlsym(RTLD_NEXT, name);
  return *cache;
}

static IoctlFunction RealIoctl(void) {
  static void* cache;
  IoctlFunction function;
  *(void**)&function = Next(&cache, "ioctl");
  return function;
}

static GetAttributesFunction RealGetAttributes(void) {
  static void* cache;
  GetAttributesFunction function;
  *(void**)&function = Next(&cache, "tcgetattr");
  return function;
}

static SetAttributesFunction RealSetAttributes(void) {
  static void* cache;
  SetAttributesFunction function;
  *(void**)&function = Next(&cache, "tcsetattr");
  return function;
}

/* The pseudo-terminal behind fd, or 0. */
static dev_t PtyOf(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return 0;
  const unsigned int number = major(status.st_rdev);
  if (number < kPtySlaveFirstMajor || number > kPtySlaveLastMajor) return 0;
  return status.st_rdev;
}

/* Under dtrMutex. */
static int DtrUp(dev_t pty) {
  for (int i = 0; i < kTerminals; ++i) {
    if (dtrRaised[i] == pty) return 1;
  }
  return 0;
}

static void SetDtr(dev_t pty, int up) {
  for (int i = 0; i < kTerminals; ++i) {
    if (dtrRaised[i] == pty) dtrRaised[i] = 0;
  }
  if (!up) return;
  for (int i = 0; i < kTerminals; ++i) {
    if (dtrRaised[i] == 0) {
      dtrRaised[i] = pty;
      return;
    }
  }
}

static void HideHardwareFlow(tcflag_t* cflag) { *cflag &= ~(tcflag_t)CRTSCTS; }

int ioctl(int fd, unsigned long request, ...) {
  va_list rest;
  va_start(rest, request);
  void* argument = va_arg(rest, void*);
  va_end(rest);

  const dev_t pty = PtyOf(fd);
  if (pty != 0 && argument != NULL &&
      (request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
       request == TIOCMBIC)) {
    int* bits = argument;
    pthread_mutex_lock(&dtrMutex);
    if (request == TIOCMGET) {
      *bits = DtrUp(pty) ? TIOCM_DTR : 0;
    } else if (request == TIOCMSET) {
      SetDtr(pty, (*bits & TIOCM_DTR) != 0);
    } else if ((*bits & TIOCM_DTR) != 0) {
      SetDtr(pty, request == TIOCMBIS);
    }
    pthread_mutex_unlock(&dtrMutex);
    return 0;
  }

  const int result = RealIoctl()(fd, request, argument);
  if (result == 0 && pty != 0 && (request == TCGETS || request == TCGETS2)) {
    HideHardwareFlow(&((struct termios2*)argument)->c_cflag);
  }
  return result;
}

int tcgetattr(int fd, struct termios* attributes) {
  const int result = RealGetAttributes()(fd, attributes);
  if (result == 0 && PtyOf(fd) != 0) HideHardwareFlow(&attributes->c_cflag);
  return result;
}

int tcsetattr(int fd, int when, const struct termios* attributes) {
  if (attributes == NULL || PtyOf(fd) == 0) {
    return RealSetAttributes()(fd, when, attributes);
  }
  struct termios framed = *attributes;
  framed.c_cflag &= ~(tcflag_t)(PARENB | PARODD | CMSPAR | CSIZE);
  framed.c_cflag |= CS8;
  return RealSetAttributes()(fd, when, &framed);
}
