// The C host, compiled as C++: the header's C linkage and records must be
// the same from both languages.
#include "c_host.c"
