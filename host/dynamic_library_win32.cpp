// Loading the driver on Windows. The driver imports err from MELBAX.dll,
// the small library beside the program that hands the driver's messages and
// telegrams on (melbax_dll_win32.cpp). The host code loads it and binds
// itself to it first; the driver's import then resolves to that module,
// which is already in the process.
#include <windows.h>

#include <string>

#include "call_context.h"
#include "dynamic_library.h"
#include "host_binding_win32.h"

namespace melbax::platform {
namespace {

constexpr char kHostLibrary[] = "MELBAX.dll";

std::string ModulePath(HMODULE module) {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(module, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The module that holds this code: the program, or a library that links
// the host code in.
HMODULE SelfModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&SelfModule), &module);
  return module;
}

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string message;
  if (length > 0 && text != nullptr) message.assign(text, length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' ||
          message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : message;
}

void __cdecl LogToHost(int32_t level, const char* format, va_list args) {
  detail::LogFromDriver(level, format, args);
}

// No dialog boxes for a missing library or device: a host may run without
// anyone to click them away.
class QuietErrors {
 public:
  QuietErrors() {
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX,
                       &saved_);
  }
  ~QuietErrors() { SetThreadErrorMode(saved_, nullptr); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  DWORD saved_ = 0;
};

}  // namespace

void* OpenLibrary(const std::string& path, std::string& error) {
  const QuietErrors quiet;
  // A full path, so that what the driver imports is looked for in its own
  // folder too.
  char full[MAX_PATH];
  const DWORD length =
      GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  const bool resolved = length > 0 && length < sizeof full;
  HMODULE library =
      LoadLibraryExA(resolved ? full : path.c_str(), nullptr,
                     resolved ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
  if (library == nullptr) {
    const DWORD code = GetLastError();
    error = "cannot load " + path + ": " + SystemMessage(code);
    if (code == ERROR_MOD_NOT_FOUND &&
        GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      error +=
          " (a library it needs is missing; it imports MELBAX.dll, "
          "looked for beside the program)";
    }
  }
  return library;
}

void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

void* ExposeSelf() {
  const QuietErrors quiet;
  const std::string beside = SelfDirectory() + "\\" + kHostLibrary;
  HMODULE host =
      LoadLibraryExA(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (host == nullptr) host = LoadLibraryA(kHostLibrary);
  if (host == nullptr) return nullptr;
  const auto bind = reinterpret_cast<MelbaxBindFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(host, MELBAX_BIND_NAME)));
  if (bind == nullptr) {
    // Some other MELBAX.dll: the driver would log into it unseen.
    FreeLibrary(host);
    return nullptr;
  }
  bind(&LogToHost, &melbax_trace);
  return host;
}

std::string SelfDirectory() {
  const std::string self = ModulePath(SelfModule());
  const auto slash = self.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return self.substr(0, slash);
}

const char* DriverFileName() { return "kaviros.dll"; }

}  // namespace melbax::platform
