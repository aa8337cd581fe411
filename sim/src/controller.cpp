#include "r2600sim/controller.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "r2600sim/gate_table.h"

namespace r2600sim {
namespace {

using std::chrono::nanoseconds;

struct ParamDefault {
  uint8_t index;
  uint32_t value;
};

// Factory settings of a temperature controller. Temperatures in 0.1 degC.
constexpr ParamDefault kDefaults[] = {
    {kParamSetpoint, 750},          // 75.0 degC
    {kParamSetpoint2, 500},         //
    {kParamRampRate, 100},          // 10.0 degC per minute; 0: no ramp
    {kParamProportionalBand, 200},  // 20.0 degC
    {kParamIntegralTime, 120},      // s; 0: no integral action
    {0x05, 30},                     // derivative time, s (not modelled)
    {0x06, 20},                     // switching cycle, s
    {kParamSetpointHigh, 2000},     //
    {kParamSetpointLow, 0},         //
    {kParamAlarmHigh, 1000},        //
    {kParamAlarmLow, 100},          //
    {0x0E, 0},                      // input range start
    {0x0F, 4000},                   // input range end
    {0x10, 30},                     // alarm delay, s
    {0x11, 10},                     // input filter, 0.1 s
    {kParamOutputHigh, 100},        // %
    {kParamOutputLow, 0},           // %: heating only
    {0x15, 5},                      // switching hysteresis
    {0x18, 10},                     // alarm hysteresis
    {0x20, 1},                      // display mode
    {0x33, 3},                      // input type
    {0x60, 0x0210},                 // firmware version
    {kParamSerialNumber, 24000},    // plus the station address
    {0x0D, 1},                      // decimal places
    {kParamControlMode, 1},         // 1 automatic, 0 off
    {0x1D, 2},                      // alarm 1 function
    {0x1E, 0},                      // alarm 2 function
    {0x22, 0},                      // configuration lock
    {0x23, 3},                      // interface speed code
    {0x28, 1},                      // unit: degC
    {0x30, 1},                      // output 1 function
    {0x31, 0},                      // output 2 function
    {0x32, 2},                      // input filter class
    {0x35, 0x05},                   // switching outputs, one bit each
    {0x36, 0xA0},                   // relay mask, one bit each
    {0x39, 0},                      // keypad lock
    {0x3A, 7},                      // display brightness
    {kParamOperatingSeconds, 360000},
};

constexpr double kAmbient = 200;   // 20.0 degC
constexpr double kPlantGain = 20;  // 2.0 degC per % of output
constexpr double kPlantLag = 90;   // s
constexpr int64_t kStepNs = 100'000'000;
constexpr int64_t kStepsPerSecond = 10;
// Beyond an hour of catch-up the process has long settled.
constexpr int64_t kMaxStepsPerAdvance = 36000;

int16_t Signed16(uint32_t raw) {
  return static_cast<int16_t>(static_cast<uint16_t>(raw & 0xFFFF));
}

int16_t Round16(double v) {
  return static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

bool IsPseudoIndex(uint8_t index) { return index >= kIndexCycleFirst; }

// Checks the frame and decodes the request; fills kind, station, index and
// the data bytes of a write. On failure sets the reason and returns false.
bool Parse(std::span<const uint8_t> f, Outcome* out,
           std::span<const uint8_t>* data) {
  if (f.size() == kShortFrameSize && f[0] == kShortStart) {
    if (f[4] != kEnd) {
      out->reason = "short frame without end byte";
      return false;
    }
    if (f[3] != Checksum(f.subspan(1, 2))) {
      out->reason = "short frame with wrong checksum";
      return false;
    }
    out->station = f[1];
    switch (f[2]) {
      case kControlRead:
        out->kind = RequestKind::kReadCycle;
        out->index = kIndexCycleFirst;
        return true;
      case kControlReset:
        out->kind = RequestKind::kReset;
        out->index = kIndexReset;
        return true;
      case kControlStatus:
        out->kind = RequestKind::kReadStatus;
        out->index = kIndexStatus;
        return true;
      default:
        out->reason = "short frame with unknown control byte";
        return false;
    }
  }
  if (f.size() < 6 || f[0] != kLongStart) {
    out->reason = "not a telegram";
    return false;
  }
  const uint8_t length = f[1];
  if (f[2] != length || f[3] != kLongStart || f.size() != length + 6u) {
    out->reason = "long frame with inconsistent length";
    return false;
  }
  if (f[length + 5u] != kEnd) {
    out->reason = "long frame without end byte";
    return false;
  }
  if (f[length + 4u] != Checksum(f.subspan(4, length))) {
    out->reason = "long frame with wrong checksum";
    return false;
  }
  if (length < kMinRequestLength) {
    out->reason = "long frame too short for a request";
    return false;
  }
  out->station = f[4];
  out->index = f[6];
  size_t header = 1;
  if (HasExtension(out->index)) {
    header += 3;
    if (length < 2 + header ||
        !std::equal(std::begin(kExtension), std::end(kExtension),
                    f.begin() + 7)) {
      out->reason = "wrong extension bytes";
      return false;
    }
  }
  const std::span<const uint8_t> payload =
      f.subspan(6 + header, length - 2 - header);
  switch (f[5]) {
    case kControlRead:
      if (!payload.empty()) {
        out->reason = "read request with data bytes";
        return false;
      }
      out->kind = RequestKind::kReadParameter;
      return true;
    case kControlWrite:
      if (payload.empty()) {
        out->reason = "write request without data";
        return false;
      }
      out->kind = RequestKind::kWrite;
      *data = payload;
      return true;
    default:
      out->reason = "long frame with unknown control byte";
      return false;
  }
}

uint32_t LittleEndian(std::span<const uint8_t> bytes) {
  uint32_t v = 0;
  for (size_t i = bytes.size(); i-- > 0;) v = (v << 8) | bytes[i];
  return v;
}

void PutLittleEndian(Bytes& out, uint32_t v, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    v >>= 8;
  }
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format,
                                                         ...) {
  char line[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

}  // namespace

std::string Describe(const Outcome& o) {
  const unsigned st = o.station;
  const unsigned pi = o.index;
  switch (o.verdict) {
    case Verdict::kRejected:
      return "ignored: " + o.reason;
    case Verdict::kOtherStation:
      return Format("station %02X is not played here, not answered", st);
    case Verdict::kNotAnswered:
      if (o.kind == RequestKind::kReset) {
        return Format("reset st=%02X, not answered", st);
      }
      if (o.kind == RequestKind::kWrite) {
        return Format("write st=%02X PI=%02X 0x%X, not answered%s%s", st, pi,
                      o.value, o.reason.empty() ? "" : ": refused, ",
                      o.reason.c_str());
      }
      return Format("request to st=%02X, not answered", st);
    case Verdict::kAnswered:
      break;
  }
  switch (o.kind) {
    case RequestKind::kReadParameter:
      if (!o.reason.empty()) {
        return Format("read st=%02X PI=%02X -> %s", st, pi, o.reason.c_str());
      }
      return Format("read st=%02X PI=%02X -> 0x%X", st, pi, o.value);
    case RequestKind::kReadCycle:
      if (o.reply.size() >= 13) {
        const auto& r = o.reply;
        return Format("cycle values st=%02X -> F0=%d F1=%d F2=%d F3=%d", st,
                      Signed16(LittleEndian({&r[6], 2})),
                      Signed16(LittleEndian({&r[8], 2})),
                      static_cast<int8_t>(r[10]),
                      Signed16(LittleEndian({&r[11], 2})));
      }
      return Format("cycle values st=%02X", st);
    case RequestKind::kReadStatus:
      return Format("status st=%02X -> 0x%02X", st, o.value);
    case RequestKind::kWrite:
      if (!o.reason.empty()) {
        return Format("write st=%02X PI=%02X 0x%X -> refused: %s", st, pi,
                      o.value, o.reason.c_str());
      }
      if (o.stored != o.value) {
        return Format("write st=%02X PI=%02X 0x%X -> kept 0x%X (limit)", st, pi,
                      o.value, o.stored);
      }
      return Format("write st=%02X PI=%02X 0x%X -> done", st, pi, o.value);
    case RequestKind::kReset:
    case RequestKind::kUnknown:
      break;
  }
  return Format("st=%02X", st);
}

Controller::Controller(ControllerOptions options)
    : service_request_(options.service_request), frozen_(options.frozen) {
  for (uint8_t address : options.stations) {
    Station& s = stations_[address];
    for (const auto& d : kDefaults) s.params[d.index] = d.value;
    // Each station differs a little, so mixed-up stations show.
    s.params[kParamSetpoint] = 725 + 25u * (address % 8u);
    s.params[kParamSerialNumber] = 24000u + address;
    s.process.actual = kAmbient;
    s.process.setpoint = kAmbient;
  }
  for (uint8_t index : options.read_only) read_only_[index] = true;
}

Controller::Station* Controller::Find(uint8_t station) {
  auto it = stations_.find(station);
  return it == stations_.end() ? nullptr : &it->second;
}

const Controller::Station* Controller::Find(uint8_t station) const {
  auto it = stations_.find(station);
  return it == stations_.end() ? nullptr : &it->second;
}

bool Controller::Plays(uint8_t station) const {
  std::lock_guard lock(mutex_);
  return Find(station) != nullptr;
}

std::vector<uint8_t> Controller::Stations() const {
  std::lock_guard lock(mutex_);
  std::vector<uint8_t> out;
  for (const auto& [address, s] : stations_) out.push_back(address);
  return out;
}

void Controller::Step(Station& s, double dt) {
  Process& p = s.process;
  const auto& par = s.params;
  const double target = Signed16(par[kParamSetpoint]);
  const double ramp = Signed16(par[kParamRampRate]) / 60.0;  // per second
  if (ramp <= 0) {
    p.setpoint = target;
  } else if (p.setpoint < target) {
    p.setpoint = std::min(target, p.setpoint + ramp * dt);
  } else {
    p.setpoint = std::max(target, p.setpoint - ramp * dt);
  }

  const double high =
      std::clamp<double>(Signed16(par[kParamOutputHigh]), -100, 100);
  const double low = std::min<double>(
      high, std::clamp<double>(Signed16(par[kParamOutputLow]), -100, 100));
  if (par[kParamControlMode] == 0) {
    p.output = 0;
    p.integral = 0;
  } else {
    const double band =
        std::max<double>(1, Signed16(par[kParamProportionalBand]));
    const double proportional = 100.0 * (p.setpoint - p.actual) / band;
    const double tn = Signed16(par[kParamIntegralTime]);
    if (tn > 0) {
      p.integral = std::clamp(p.integral + proportional * dt / tn, low, high);
    } else {
      p.integral = 0;
    }
    p.output = std::clamp(proportional + p.integral, low, high);
  }
  p.actual += dt * (kAmbient + kPlantGain * p.output - p.actual) / kPlantLag;
  p.deviation = p.actual - p.setpoint;
}

void Controller::StepAll(double dt) {
  for (auto& [address, s] : stations_) Step(s, dt);
}

void Controller::Advance(nanoseconds elapsed) {
  std::lock_guard lock(mutex_);
  if (frozen_ || elapsed.count() <= 0) return;
  pending_ns_ += elapsed.count();
  int64_t steps = pending_ns_ / kStepNs;
  pending_ns_ %= kStepNs;
  for (auto& [address, s] : stations_) {
    // The operating-time counter gets the whole time, settled or not.
    const int64_t ticks = s.process.ticks + steps;
    s.params[kParamOperatingSeconds] +=
        static_cast<uint32_t>(ticks / kStepsPerSecond);
    s.process.ticks = ticks % kStepsPerSecond;
  }
  steps = std::min(steps, kMaxStepsPerAdvance);
  for (int64_t i = 0; i < steps; ++i) {
    StepAll(static_cast<double>(kStepNs) / 1e9);
  }
}

void Controller::AdvanceTo(std::chrono::steady_clock::time_point now) {
  nanoseconds elapsed{0};
  {
    std::lock_guard lock(mutex_);
    if (last_) elapsed = now - *last_;
    last_ = now;
  }
  Advance(elapsed);
}

uint8_t Controller::StatusOf(const Station& s) {
  const int16_t actual = Round16(s.process.actual);
  uint8_t status = s.latched;
  if (actual > Signed16(s.params[kParamAlarmHigh]))
    status |= kEquipmentAlarmHigh;
  if (actual < Signed16(s.params[kParamAlarmLow])) status |= kEquipmentAlarmLow;
  if (s.params[kParamControlMode] == 0) status |= kEquipmentControlOff;
  return status;
}

CycleValues Controller::CycleOf(const Station& s) {
  const Process& p = s.process;
  return CycleValues{
      Round16(p.actual), Round16(p.setpoint),
      static_cast<int8_t>(std::clamp(std::lround(p.output), -128L, 127L)),
      Round16(p.deviation)};
}

std::string Controller::Write(Station& s, uint8_t index,
                              std::span<const uint8_t> data, uint32_t* stored) {
  const Width width = DefaultWidth(index);
  if (width == Width::kNone || IsPseudoIndex(index)) return "no such parameter";
  if (data.size() != ValueSize(width)) return "wrong number of data bytes";
  if (read_only_[index]) return "read-only parameter";
  uint32_t value = LittleEndian(data);
  int32_t low = 0;
  int32_t high = 0;
  bool limited = false;
  if (index == kParamSetpoint || index == kParamSetpoint2) {
    low = Signed16(s.params[kParamSetpointLow]);
    high = Signed16(s.params[kParamSetpointHigh]);
    limited = low <= high;
  } else if (index == kParamOutputHigh || index == kParamOutputLow) {
    low = -100;
    high = 100;
    limited = true;
  }
  if (limited) {
    value =
        static_cast<uint16_t>(std::clamp<int32_t>(Signed16(value), low, high));
  }
  s.params[index] = value;
  *stored = value;
  return {};
}

Outcome Controller::Handle(std::span<const uint8_t> frame) {
  Outcome out;
  std::span<const uint8_t> data;
  const bool valid = Parse(frame, &out, &data);
  std::lock_guard lock(mutex_);
  if (!valid) {
    ++counters_.rejected;
    out.verdict = Verdict::kRejected;
    return out;
  }
  ++counters_.requests;
  if (out.kind == RequestKind::kWrite) out.value = LittleEndian(data);

  if (out.station == kBroadcast) {
    ++counters_.broadcasts;
    out.verdict = Verdict::kNotAnswered;
    for (auto& [address, s] : stations_) {
      if (out.kind == RequestKind::kWrite) {
        std::string refused = Write(s, out.index, data, &out.stored);
        if (!refused.empty()) out.reason = refused;
      } else if (out.kind == RequestKind::kReset) {
        s.latched = 0;
        ++s.resets;
      }
    }
    if (out.kind == RequestKind::kWrite) {
      ++(out.reason.empty() ? counters_.writes : counters_.writes_refused);
    }
    if (out.kind == RequestKind::kReset) ++counters_.resets;
    return out;
  }

  Station* s = Find(out.station);
  if (s == nullptr) {
    ++counters_.other_station;
    out.verdict = Verdict::kOtherStation;
    return out;
  }

  out.verdict = Verdict::kAnswered;
  switch (out.kind) {
    case RequestKind::kReadCycle: {
      const CycleValues c = CycleOf(*s);
      Bytes values;
      PutLittleEndian(values, static_cast<uint16_t>(c.actual), 2);
      PutLittleEndian(values, static_cast<uint16_t>(c.setpoint), 2);
      values.push_back(static_cast<uint8_t>(c.output));
      PutLittleEndian(values, static_cast<uint16_t>(c.deviation), 2);
      out.reply = LongReply(out.station, 0, values);
      ++counters_.reads;
      break;
    }
    case RequestKind::kReadStatus:
      out.value = StatusOf(*s);
      out.reply = ShortReply(out.station, static_cast<uint8_t>(out.value));
      ++counters_.reads;
      break;
    case RequestKind::kReset:
      s->latched = 0;
      ++s->resets;
      ++counters_.resets;
      out.verdict = Verdict::kNotAnswered;
      break;
    case RequestKind::kReadParameter: {
      const Width width = DefaultWidth(out.index);
      if (width == Width::kNone || IsPseudoIndex(out.index)) {
        // Answered like a value-range error: short, service-request bit.
        out.reason = "no such parameter";
        out.reply = ShortReply(out.station, kStatusServiceRequest);
        break;
      }
      out.value = s->params[out.index];
      Bytes payload;
      payload.reserve(8);
      payload.push_back(out.index);
      if (HasExtension(out.index)) {
        for (uint8_t b : kExtension) payload.push_back(b);
      }
      PutLittleEndian(payload, out.value, ValueSize(width));
      out.reply = LongReply(out.station, 0, payload);
      ++counters_.reads;
      break;
    }
    case RequestKind::kWrite: {
      out.reason = Write(*s, out.index, data, &out.stored);
      uint8_t status = service_request_ ? kStatusServiceRequest : 0;
      if (!out.reason.empty()) {
        status = kStatusNotReady;
        ++counters_.writes_refused;
      } else {
        ++counters_.writes;
      }
      out.reply = ShortReply(out.station, status);
      break;
    }
    case RequestKind::kUnknown:
      out.verdict = Verdict::kRejected;
      break;
  }
  if (!out.reply.empty()) ++counters_.replies;
  return out;
}

std::optional<uint32_t> Controller::Value(uint8_t station,
                                          uint8_t index) const {
  std::lock_guard lock(mutex_);
  const Station* s = Find(station);
  if (s == nullptr) return std::nullopt;
  if (IsCycleIndex(index)) {
    const CycleValues c = CycleOf(*s);
    switch (index) {
      case 0xF0:
        return static_cast<uint16_t>(c.actual);
      case 0xF1:
        return static_cast<uint16_t>(c.setpoint);
      case 0xF2:
        return static_cast<uint8_t>(c.output);
      default:
        return static_cast<uint16_t>(c.deviation);
    }
  }
  if (index == kIndexStatus) return StatusOf(*s);
  if (IsPseudoIndex(index) || DefaultWidth(index) == Width::kNone) {
    return std::nullopt;
  }
  return s->params[index];
}

bool Controller::SetValue(uint8_t station, uint8_t index, uint32_t value) {
  std::lock_guard lock(mutex_);
  Station* s = Find(station);
  if (s == nullptr) return false;
  Process& p = s->process;
  switch (index) {
    case 0xF0:
      p.actual = Signed16(value);
      return true;
    case 0xF1:
      p.setpoint = Signed16(value);
      return true;
    case 0xF2:
      p.output = static_cast<int8_t>(value & 0xFF);
      return true;
    case 0xF3:
      p.deviation = Signed16(value);
      return true;
    default:
      break;
  }
  const Width width = DefaultWidth(index);
  if (IsPseudoIndex(index) || width == Width::kNone) return false;
  s->params[index] = value & ValueMask(width);
  return true;
}

std::optional<CycleValues> Controller::Cycle(uint8_t station) const {
  std::lock_guard lock(mutex_);
  const Station* s = Find(station);
  if (s == nullptr) return std::nullopt;
  return CycleOf(*s);
}

bool Controller::SetCycle(uint8_t station, const CycleValues& values) {
  std::lock_guard lock(mutex_);
  Station* s = Find(station);
  if (s == nullptr) return false;
  s->process.actual = values.actual;
  s->process.setpoint = values.setpoint;
  s->process.output = values.output;
  s->process.deviation = values.deviation;
  return true;
}

std::optional<uint8_t> Controller::EquipmentStatus(uint8_t station) const {
  std::lock_guard lock(mutex_);
  const Station* s = Find(station);
  if (s == nullptr) return std::nullopt;
  return StatusOf(*s);
}

bool Controller::RaiseEquipmentFault(uint8_t station, uint8_t bits) {
  std::lock_guard lock(mutex_);
  Station* s = Find(station);
  if (s == nullptr) return false;
  s->latched |= bits;
  return true;
}

void Controller::SetFrozen(bool frozen) {
  std::lock_guard lock(mutex_);
  frozen_ = frozen;
}

bool Controller::Frozen() const {
  std::lock_guard lock(mutex_);
  return frozen_;
}

void Controller::SetServiceRequest(bool on) {
  std::lock_guard lock(mutex_);
  service_request_ = on;
}

bool Controller::ServiceRequest() const {
  std::lock_guard lock(mutex_);
  return service_request_;
}

void Controller::SetReadOnly(uint8_t index, bool read_only) {
  std::lock_guard lock(mutex_);
  read_only_[index] = read_only;
}

bool Controller::ReadOnly(uint8_t index) const {
  std::lock_guard lock(mutex_);
  return read_only_[index];
}

ControllerCounters Controller::Counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

uint64_t Controller::Resets(uint8_t station) const {
  std::lock_guard lock(mutex_);
  const Station* s = Find(station);
  return s == nullptr ? 0 : s->resets;
}

}  // namespace r2600sim
