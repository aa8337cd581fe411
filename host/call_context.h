// The command in progress on this thread: where its messages and telegrams
// go. Commands run synchronously on the caller's thread, so whatever the
// driver logs on this thread while a scope is open belongs to that command.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "melbax/driver.h"

namespace melbax::detail {

struct CallContext {
  Outcome* outcome;
  const MessageSink* observer;  // may be null
  const TraceSink* trace;       // may be null
};

class CallScope {
 public:
  explicit CallScope(const CallContext& context);
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  const CallContext* saved_;
  bool tracing_;
};

// A message of the call in progress on this thread, or a stray one.
void Deliver(Message message);

// The driver's log call as the host takes it, for platforms whose binding
// hands the argument list on (Windows: through MELBAX.dll).
void LogFromDriver(int32_t level, const char* format, va_list args);

}  // namespace melbax::detail
