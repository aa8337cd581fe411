// A driver library loaded at run time, and the host's side of its log
// function: messages reach the sink of the call that caused them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kaviros/kaviros.h"

namespace melbax {

struct Message {
  int32_t level;
  std::string text;
};

using MessageSink = std::function<void(const Message&)>;

class Driver {
 public:
  // Loads the library at `path`; on failure returns null and sets `error`.
  static std::unique_ptr<Driver> Load(const std::string& path,
                                      std::string& error);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Runs one command; every message it logs goes to `sink` (may be empty).
  int32_t Call(void* instance, uint32_t command, void* params,
               const MessageSink& sink) const;

  // GetKaviInfo, asked once at load.
  const DriverInfo& info() const { return info_; }
  const std::string& path() const { return path_; }

 private:
  Driver() = default;
  void* library_ = nullptr;
  KaviMainFunction entry_ = nullptr;
  DriverInfo info_{};
  std::string path_;
};

// The driver library next to this host library, or KAVIROS_DRIVER if set.
std::string DefaultDriverPath();

}  // namespace melbax
