// The platform's way of loading a library at run time; the only place in
// libmelbax that knows it (dynamic_library_<platform>.cpp).
#pragma once

#include <string>

namespace melbax::platform {

// Null on failure, with the system's reason in `error`.
void* OpenLibrary(const std::string& path, std::string& error);
void* FindSymbol(void* library, const char* name);
void CloseLibrary(void* library);

// Makes this library's own exports (the driver's log and trace functions)
// visible to libraries loaded after it, also when the application itself
// loaded libmelbax privately. Returns a handle for CloseLibrary, or null.
void* ExposeSelf();

// The folder that holds libmelbax, and the file name of the driver there.
std::string SelfDirectory();
const char* DriverFileName();

}  // namespace melbax::platform
