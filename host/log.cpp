// The host side of the driver's log and trace functions.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "call_context.h"

namespace melbax {
namespace detail {
namespace {

thread_local const CallContext* current = nullptr;

// Calls with a trace sink in progress, anywhere in the process: the trace
// hook's only cost when nobody traces is reading this.
std::atomic<int> tracingCalls{0};

std::mutex strayMutex;

MessageSink& StraySink() {
  static MessageSink sink = [](const Message& message) {
    std::fprintf(stderr, "%s\n", message.text.c_str());
  };
  return sink;
}

std::string Format(const char* format, va_list args) {
  if (format == nullptr) return "(no text)";
  char text[256];
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  std::string result;
  if (length < 0) {
    result = format;
  } else if (static_cast<size_t>(length) < sizeof text) {
    result.assign(text, static_cast<size_t>(length));
  } else {
    result.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(result.data(), result.size(), format, again);
    result.resize(static_cast<size_t>(length));
  }
  va_end(again);
  return result;
}

}  // namespace

CallScope::CallScope(const CallContext& context)
    : saved_(current), tracing_(context.trace != nullptr && *context.trace) {
  if (tracing_) tracingCalls.fetch_add(1, std::memory_order_relaxed);
  current = &context;
}

CallScope::~CallScope() {
  current = saved_;
  if (tracing_) tracingCalls.fetch_sub(1, std::memory_order_relaxed);
}

void Deliver(Message message) {
  const CallContext* context = current;
  if (context == nullptr) {
    std::lock_guard lock(strayMutex);
    if (StraySink()) StraySink()(message);
    return;
  }
  if (context->observer != nullptr && *context->observer) {
    (*context->observer)(message);
  }
  context->outcome->messages.push_back(std::move(message));
}

// The driver is plain C underneath: nothing thrown by a sink may unwind
// through its frames.
void LogFromDriver(int32_t level, const char* format, va_list args) {
  try {
    Deliver({level, Format(format, args)});
  } catch (...) {
  }
}

void TraceFromDriver(int32_t direction, const uint8_t* bytes, uint32_t count) {
  const CallContext* context = current;
  if (context == nullptr || context->trace == nullptr || !*context->trace) {
    return;
  }
  try {
    const TraceEvent event{
        direction == KAVI_TRACE_REQUEST ? TraceDirection::kSent
                                        : TraceDirection::kReceived,
        std::chrono::system_clock::now(), bytes, bytes == nullptr ? 0 : count};
    (*context->trace)(event);
  } catch (...) {
  }
}

}  // namespace detail

void SetStrayMessageSink(MessageSink sink) {
  std::lock_guard lock(detail::strayMutex);
  detail::StraySink() = std::move(sink);
}

}  // namespace melbax

#define MELBAX_EXPORT __attribute__((visibility("default")))

// The log function the driver imports (err from MELBAX.dll on Windows).
extern "C" MELBAX_EXPORT int32_t melbax_err(int32_t level, const char* format,
                                            ...) {
  va_list args;
  va_start(args, format);
  melbax::detail::LogFromDriver(level, format, args);
  va_end(args);
  return 0;
}

// Every telegram the driver sends (direction 0) or receives (1).
extern "C" MELBAX_EXPORT void melbax_trace(int32_t direction,
                                           const uint8_t* bytes,
                                           uint32_t count) {
  if (melbax::detail::tracingCalls.load(std::memory_order_relaxed) == 0) {
    return;
  }
  melbax::detail::TraceFromDriver(direction, bytes, count);
}
