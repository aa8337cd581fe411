// libmelbax: the host runtime of the KAVIROS driver.
//
// A Driver is a driver library loaded at run time. Every command it runs
// returns an Outcome: the driver's result code and the messages it logged
// during that command, in order, with their levels. Messages reach the
// command that caused them even when several drivers and instances run in
// one process on several threads: the driver's log function (melbax_err,
// defined here) hands each message to the command in progress on the
// calling thread. Messages logged while no command runs on the thread go
// to the stray-message sink.
//
// Trace: a driver that supports it hands every telegram it sends or
// receives to melbax_trace (defined here), which passes it to the trace
// sink of the command in progress. With no trace sink set anywhere the hook
// returns after one flag check.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kaviros/kaviros.h"
#include "melbax/export.h"

namespace melbax {

struct Message {
  int32_t level;  // KAVI_LEVEL_EXCHANGE or KAVI_LEVEL_SETUP
  std::string text;
  bool operator==(const Message&) const = default;
};

// What one command came to: the driver's result (KAVI_OK, KAVI_REFUSED,
// KAVI_SEVERE) and every message logged while it ran. Requests that this
// library refuses itself, before the driver sees them, have result
// KAVI_REFUSED and one message beginning with "MELBAX> ".
struct Outcome {
  int32_t result = KAVI_OK;
  std::vector<Message> messages;
  bool ok() const { return result == KAVI_OK; }
};

using MessageSink = std::function<void(const Message&)>;

enum class TraceDirection : int32_t { kSent = 0, kReceived = 1 };

struct TraceEvent {
  TraceDirection direction;
  std::chrono::system_clock::time_point time;
  const uint8_t* bytes;  // valid only during the sink's call
  uint32_t count;
};

using TraceSink = std::function<void(const TraceEvent&)>;

// Where messages go that arrive on a thread with no command of this
// library in progress. The default writes them to stderr; an empty sink
// drops them. Safe to call from any thread.
MELBAX_API void SetStrayMessageSink(MessageSink sink);

class MELBAX_API Driver {
 public:
  // Loads the library at `path` and asks it GetKaviInfo. On failure returns
  // null and says why in `error`.
  static std::shared_ptr<Driver> Load(const std::string& path,
                                      std::string& error);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Runs one command as it stands. Each message is collected into the
  // outcome and also shown to `observer` as it arrives; each telegram goes
  // to `trace`. Either may be null. Sinks must not run commands on the
  // same instance.
  Outcome Call(void* instance, uint32_t command, void* params,
               const MessageSink* observer = nullptr,
               const TraceSink* trace = nullptr) const;

  // What GetKaviInfo reported at load; the text pointers are replaced by
  // the copies below.
  const DriverInfo& info() const { return info_; }
  const std::string& deviceName() const { return deviceName_; }
  const std::string& banner() const { return banner_; }
  const std::string& path() const { return path_; }

 private:
  Driver() = default;
  void* library_ = nullptr;
  void* self_ = nullptr;
  KaviMainFunction entry_ = nullptr;
  DriverInfo info_{};
  std::string deviceName_;
  std::string banner_;
  std::string path_;
};

// $KAVIROS_DRIVER if set, else the driver library beside libmelbax.
MELBAX_API std::string DefaultDriverPath();

}  // namespace melbax
