#include <dlfcn.h>

#include "dynamic_library.h"

namespace melbax::platform {
namespace {

std::string SelfPath() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&SelfDirectory), &self) == 0 ||
      self.dli_fname == nullptr) {
    return {};
  }
  return self.dli_fname;
}

}  // namespace

void* OpenLibrary(const std::string& path, std::string& error) {
  // RTLD_LOCAL: two drivers never see each other's symbols.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "cannot load " + path;
  }
  return library;
}

void* FindSymbol(void* library, const char* name) {
  return dlsym(library, name);
}

void CloseLibrary(void* library) { dlclose(library); }

void* ExposeSelf() {
  const std::string self = SelfPath();
  if (self.empty()) return nullptr;
  return dlopen(self.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
}

std::string SelfDirectory() {
  const std::string self = SelfPath();
  const auto slash = self.rfind('/');
  if (slash == std::string::npos) return ".";
  return self.substr(0, slash);
}

const char* DriverFileName() { return "libkaviros.so"; }

}  // namespace melbax::platform
