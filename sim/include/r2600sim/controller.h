// The controller model: complete request telegrams in, reply telegrams out.
// No I/O and no clock of its own; the caller moves time forward. Every
// public member is safe to call from several threads.
#ifndef R2600SIM_CONTROLLER_H
#define R2600SIM_CONTROLLER_H

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "r2600sim/wire.h"

namespace r2600sim {

struct ControllerOptions {
  // Station addresses this controller bus plays (0x00-0xFA).
  std::vector<uint8_t> stations{0x01};
  // Acknowledge writes with the service-request bit so the host reads back.
  bool service_request = false;
  // Parameter indices whose writes are refused with the not-ready bit.
  std::vector<uint8_t> read_only;
  // Start with the process standing still.
  bool frozen = false;
};

// The four cycle values of a station, in engineering units:
// F0 actual temperature (0.1 degC), F1 effective setpoint (0.1 degC),
// F2 controller output (%), F3 control deviation F0 - F1 (0.1 degC).
struct CycleValues {
  int16_t actual = 0;
  int16_t setpoint = 0;
  int8_t output = 0;
  int16_t deviation = 0;
  friend bool operator==(const CycleValues&, const CycleValues&) = default;
};

// Parameters the process uses (the rest only hold values).
inline constexpr uint8_t kParamSetpoint = 0x00;
inline constexpr uint8_t kParamSetpoint2 = 0x01;
inline constexpr uint8_t kParamRampRate = 0x02;
inline constexpr uint8_t kParamProportionalBand = 0x03;
inline constexpr uint8_t kParamIntegralTime = 0x04;
inline constexpr uint8_t kParamSetpointHigh = 0x07;
inline constexpr uint8_t kParamSetpointLow = 0x08;
inline constexpr uint8_t kParamAlarmHigh = 0x09;
inline constexpr uint8_t kParamAlarmLow = 0x0C;
inline constexpr uint8_t kParamOutputHigh = 0x12;
inline constexpr uint8_t kParamOutputLow = 0x14;
inline constexpr uint8_t kParamControlMode = 0x16;
inline constexpr uint8_t kParamOperatingSeconds = 0x21;
inline constexpr uint8_t kParamSerialNumber = 0x64;

// Bits of the equipment status (F5).
inline constexpr uint8_t kEquipmentAlarmHigh = 0x01;
inline constexpr uint8_t kEquipmentAlarmLow = 0x02;
inline constexpr uint8_t kEquipmentControlOff = 0x04;

enum class RequestKind : uint8_t {
  kUnknown,
  kReadParameter,
  kReadCycle,
  kReadStatus,
  kWrite,
  kReset,
};

enum class Verdict : uint8_t {
  kAnswered,      // the reply is in Outcome::reply
  kNotAnswered,   // a valid request that gets no reply: reset, station 0xFF
  kOtherStation,  // valid, but for a station this bus does not play
  kRejected,      // not a request this controller accepts; ignored
};

struct Outcome {
  Verdict verdict = Verdict::kRejected;
  RequestKind kind = RequestKind::kUnknown;
  uint8_t station = 0;
  uint8_t index = 0;
  // Value read, or value written as requested.
  uint32_t value = 0;
  // Value kept after a write (limits may clamp it).
  uint32_t stored = 0;
  // Why a request was rejected or a write refused; empty otherwise.
  std::string reason;
  Bytes reply;
};

// One line for logs, e.g. "read st=01 PI=10 -> 0x1234".
std::string Describe(const Outcome& outcome);

struct ControllerCounters {
  uint64_t requests = 0;  // valid telegrams, whoever they were for
  uint64_t replies = 0;
  uint64_t reads = 0;  // parameter, cycle-value and status reads answered
  uint64_t writes = 0;
  uint64_t writes_refused = 0;
  uint64_t resets = 0;
  uint64_t broadcasts = 0;
  uint64_t other_station = 0;
  uint64_t rejected = 0;
};

class Controller {
 public:
  explicit Controller(ControllerOptions options = {});

  // One complete telegram as received.
  Outcome Handle(std::span<const uint8_t> frame);

  // Moves the process on (nothing happens while frozen).
  void Advance(std::chrono::nanoseconds elapsed);
  // Moves the process to `now`; the first call only sets the origin.
  void AdvanceTo(std::chrono::steady_clock::time_point now);

  bool Plays(uint8_t station) const;
  std::vector<uint8_t> Stations() const;

  // The values a host should read: parameters, F0-F3 as their raw wire
  // value (F2 as one byte), F5 the equipment status. Empty for a station
  // not played or an index without a value.
  std::optional<uint32_t> Value(uint8_t station, uint8_t index) const;
  // Sets a parameter (masked to its width) or one of F0-F3. No limits.
  bool SetValue(uint8_t station, uint8_t index, uint32_t value);

  std::optional<CycleValues> Cycle(uint8_t station) const;
  bool SetCycle(uint8_t station, const CycleValues& values);

  std::optional<uint8_t> EquipmentStatus(uint8_t station) const;
  // Latches status bits until the station is reset.
  bool RaiseEquipmentFault(uint8_t station, uint8_t bits);

  void SetFrozen(bool frozen);
  bool Frozen() const;
  void SetServiceRequest(bool on);
  bool ServiceRequest() const;
  void SetReadOnly(uint8_t index, bool read_only);
  bool ReadOnly(uint8_t index) const;

  ControllerCounters Counters() const;
  uint64_t Resets(uint8_t station) const;

 private:
  struct Process {
    double actual = 0;
    double setpoint = 0;
    double output = 0;
    double deviation = 0;
    double integral = 0;
    int64_t ticks = 0;  // steps towards the next operating-time second
  };
  struct Station {
    std::array<uint32_t, 256> params{};
    Process process;
    uint8_t latched = 0;
    uint64_t resets = 0;
  };

  Station* Find(uint8_t station);
  const Station* Find(uint8_t station) const;
  void Step(Station& station, double seconds);
  void StepAll(double seconds);
  static uint8_t StatusOf(const Station& station);
  static CycleValues CycleOf(const Station& station);
  // Applies a write; returns the refusal reason or an empty string.
  std::string Write(Station& station, uint8_t index,
                    std::span<const uint8_t> data, uint32_t* stored);
  Outcome Dispatch(Outcome request, std::span<const uint8_t> data);

  mutable std::mutex mutex_;
  std::map<uint8_t, Station> stations_;
  std::array<bool, 256> read_only_{};
  bool service_request_ = false;
  bool frozen_ = false;
  std::optional<std::chrono::steady_clock::time_point> last_;
  int64_t pending_ns_ = 0;
  ControllerCounters counters_;
};

}  // namespace r2600sim

#endif  // R2600SIM_CONTROLLER_H
