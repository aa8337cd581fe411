#include "melbax/driver.h"

#include <cstdlib>

#include "call_context.h"
#include "dynamic_library.h"

namespace melbax {
namespace {

// Far beyond any driver's needs; a larger figure means a broken library.
constexpr uint32_t kMaxInstanceSize = 1u << 20;

}  // namespace

std::shared_ptr<Driver> Driver::Load(const std::string& path,
                                     std::string& error) {
  std::shared_ptr<Driver> driver(new Driver);
  driver->path_ = path;
  // Before the driver: its imports are resolved as it loads.
  driver->self_ = platform::ExposeSelf();
  driver->library_ = platform::OpenLibrary(path, error);
  if (driver->library_ == nullptr) return nullptr;
  driver->entry_ = reinterpret_cast<KaviMainFunction>(
      platform::FindSymbol(driver->library_, "KaviMain"));
  if (driver->entry_ == nullptr) {
    error = path + " is not a driver library: it does not export KaviMain";
    return nullptr;
  }
  DriverInfo info{};
  const Outcome outcome =
      driver->Call(nullptr, KAVI_GET_KAVI_INFO, &info, nullptr, nullptr);
  if (!outcome.ok()) {
    error = path + ": GetKaviInfo failed with result " +
            std::to_string(outcome.result);
    for (const Message& message : outcome.messages) {
      error += "\n" + message.text;
    }
    return nullptr;
  }
  if (info.instanceSize == 0 || info.instanceSize > kMaxInstanceSize) {
    error = path + ": GetKaviInfo reports an instance size of " +
            std::to_string(info.instanceSize) + " bytes";
    return nullptr;
  }
  driver->deviceName_ = info.deviceName != nullptr ? info.deviceName : "";
  driver->banner_ = info.banner != nullptr ? info.banner : "";
  info.deviceName = driver->deviceName_.c_str();
  info.banner = driver->banner_.c_str();
  driver->info_ = info;
  return driver;
}

Driver::~Driver() {
  if (library_ != nullptr) platform::CloseLibrary(library_);
  if (self_ != nullptr) platform::CloseLibrary(self_);
}

Outcome Driver::Call(void* instance, uint32_t command, void* params,
                     const MessageSink* observer,
                     const TraceSink* trace) const {
  Outcome outcome;
  CallBlock call{};
  call.instance = instance;
  call.command = command;
  call.params = params;
  {
    const detail::CallContext context{&outcome, observer, trace};
    detail::CallScope scope(context);
    outcome.result = entry_(&call);
  }
  return outcome;
}

std::string DefaultDriverPath() {
  if (const char* path = std::getenv("KAVIROS_DRIVER");
      path != nullptr && *path != '\0') {
    return path;
  }
  return platform::SelfDirectory() + "/" + platform::DriverFileName();
}

}  // namespace melbax
