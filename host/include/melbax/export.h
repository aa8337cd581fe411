// What libmelbax exports to applications.
#pragma once

#if defined(MELBAX_STATIC)
// Windows: the host code is linked into the program; MELBAX.dll only
// forwards the driver's calls to it.
#define MELBAX_API
#elif defined(_WIN32)
#if defined(MELBAX_BUILDING)
#define MELBAX_API __declspec(dllexport)
#else
#define MELBAX_API __declspec(dllimport)
#endif
#else
#define MELBAX_API __attribute__((visibility("default")))
#endif
