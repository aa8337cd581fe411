// What libmelbax exports to applications.
#pragma once

#if defined(_WIN32)
#if defined(MELBAX_BUILDING)
#define MELBAX_API __declspec(dllexport)
#else
#define MELBAX_API __declspec(dllimport)
#endif
#else
#define MELBAX_API __attribute__((visibility("default")))
#endif
