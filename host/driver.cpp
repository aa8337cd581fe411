#include "melbax/driver.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace melbax {
namespace {

// Commands run synchronously on the caller's thread, so the sink of the
// call in progress on this thread is the one a message belongs to.
thread_local const MessageSink* currentSink = nullptr;

class SinkScope {
 public:
  explicit SinkScope(const MessageSink* sink) : saved_(currentSink) {
    currentSink = sink;
  }
  ~SinkScope() { currentSink = saved_; }

 private:
  const MessageSink* saved_;
};

void* OpenLibrary(const std::string& path, std::string& error) {
#if defined(_WIN32)
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    error = "cannot load " + path + " (error " +
            std::to_string(GetLastError()) + ")";
  }
  return reinterpret_cast<void*>(module);
#else
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) error = dlerror();
  return library;
#endif
}

void* FindSymbol(void* library, const char* name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(library), name));
#else
  return dlsym(library, name);
#endif
}

void CloseLibrary(void* library) {
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(library));
#else
  dlclose(library);
#endif
}

}  // namespace

std::unique_ptr<Driver> Driver::Load(const std::string& path,
                                     std::string& error) {
  void* library = OpenLibrary(path, error);
  if (library == nullptr) return nullptr;
  auto entry =
      reinterpret_cast<KaviMainFunction>(FindSymbol(library, "KaviMain"));
  if (entry == nullptr) {
    error = path + " does not export KaviMain";
    CloseLibrary(library);
    return nullptr;
  }
  std::unique_ptr<Driver> driver(new Driver);
  driver->library_ = library;
  driver->entry_ = entry;
  driver->path_ = path;
  if (driver->Call(nullptr, KAVI_GET_KAVI_INFO, &driver->info_, {}) != 0) {
    error = path + ": GetKaviInfo failed";
    return nullptr;
  }
  return driver;
}

Driver::~Driver() {
  if (library_ != nullptr) CloseLibrary(library_);
}

int32_t Driver::Call(void* instance, uint32_t command, void* params,
                     const MessageSink& sink) const {
  CallBlock call{};
  call.instance = instance;
  call.command = command;
  call.params = params;
  SinkScope scope(&sink);
  return entry_(&call);
}

std::string DefaultDriverPath() {
  if (const char* path = std::getenv("KAVIROS_DRIVER")) return path;
#if defined(_WIN32)
  return "kaviros.dll";
#else
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&DefaultDriverPath), &self) != 0 &&
      self.dli_fname != nullptr) {
    std::string dir = self.dli_fname;
    const auto slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    return dir + "/libkaviros.so";
  }
  return "libkaviros.so";
#endif
}

}  // namespace melbax

// The log function the driver imports.
namespace {
int32_t Deliver(int32_t level, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  const melbax::MessageSink* sink = melbax::currentSink;
  if (sink != nullptr && *sink) (*sink)({level, text});
  return 0;
}
}  // namespace

#if defined(_WIN32)
extern "C" __declspec(dllexport) int32_t
    __cdecl err(int32_t level, const char* format, ...) {
#else
extern "C" __attribute__((visibility("default"))) int32_t melbax_err(
    int32_t level, const char* format, ...) {
#endif
  va_list args;
  va_start(args, format);
  const int32_t result = Deliver(level, format, args);
  va_end(args);
  return result;
}
