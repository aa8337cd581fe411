// A driver instance and the variables declared on it.
//
//   auto driver = melbax::Driver::Load(melbax::DefaultDriverPath(), error);
//   melbax::Instance controller(driver);
//   controller.Start({.name = "pts/7", .line = driver->info().line});
//   melbax::Variable setpoint;
//   controller.Declare("0110", melbax::DataType::kUint16, setpoint);
//   if (controller.Read(setpoint).ok()) use(setpoint.value());
//
// Every call returns the driver's Outcome. An Instance serialises its own
// calls (the driver must never run two commands on one instance at once);
// different instances may be used from different threads freely.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "melbax/driver.h"
#include "melbax/export.h"

namespace melbax {

enum class DataType { kUint16, kInt16, kInt32, kBit, kBlock };

// "uint16", "int16", "int32", "bit", "block".
MELBAX_API std::optional<DataType> DataTypeFromName(std::string_view name);
MELBAX_API const char* DataTypeName(DataType type);
// The code the driver's records carry (block definitions carry none of
// their own; they are sent as int16).
MELBAX_API uint32_t DataTypeCode(DataType type);

// The range of values a variable of `type` takes; empty for a block.
struct ValueRange {
  int64_t min;
  int64_t max;
};
MELBAX_API std::optional<ValueRange> RangeOf(DataType type);

// A variable: its address and type, the fields the driver decoded from
// them, and the memory its value lives in (a ValueSlot: 4 bytes, 8 for a
// block). Plain value; declare it on an Instance before use.
class MELBAX_API Variable {
 public:
  const std::string& address() const { return address_; }
  DataType type() const { return type_; }
  bool declared() const { return declared_; }

  // Decoded by the driver's parser.
  int32_t station() const { return parsed_.plcAddress; }
  int32_t gateWidth() const { return parsed_.gateWidth; }
  int32_t paramIndex() const { return parsed_.paramIndex; }
  int32_t bitNumber() const { return parsed_.bitNumber; }
  int32_t valueBits() const { return parsed_.valueBits; }

  // The value of the last successful read, as its type reads it: a 16-bit
  // value or a bit from the word at offset 2 (or the 32-bit word for a bit
  // of a 32-bit parameter), a 32-bit value from the word at offset 0.
  int64_t value() const;
  // A block: the cycle values F0, F1, F2, F3 as the driver stored them
  // (F2 sign-extended from 8 bits).
  std::array<uint16_t, 4> block() const;
  const ValueSlot& slot() const { return slot_; }

 private:
  friend class Instance;
  std::string address_;
  DataType type_ = DataType::kUint16;
  bool declared_ = false;
  ParseRequest parsed_{};
  ValueSlot slot_{};
};

// ColdStart's settings. `name` is what the driver opens: a device name
// under /dev/ ("pts/7", "ttyUSB0"), an absolute path, or "NUL"; at most
// KAVI_PORT_NAME_SIZE - 1 characters (see DriverPortName).
struct PortConfig {
  std::string name;
  LineSettings line{9600, 8, 0, 2};
  uint32_t readTimeoutMs = 1000;
};

// ChangeKaviParams: a new port name, and optionally new line settings and
// read time-out (kept as they are when empty).
struct PortChange {
  std::string name;
  std::optional<LineSettings> line;
  std::optional<uint32_t> readTimeoutMs;
};

class MELBAX_API Instance {
 public:
  // Allocates the instance block (instanceSize bytes); runs no command.
  explicit Instance(std::shared_ptr<const Driver> driver);
  // Releases the port (CloseCom) and ends the instance (EndKavi) if it was
  // started; their messages go to the observer, else the stray sink.
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  // Messages as they arrive (besides being collected in each Outcome), and
  // the telegrams of this instance's commands. Empty sinks switch off. A
  // sink runs inside the command and must not call this instance again.
  void SetMessageObserver(MessageSink observer);
  void SetTraceSink(TraceSink trace);

  // ColdStart without a port (declarations only) or with one. May be
  // repeated; the port held from an earlier start is closed first.
  Outcome Start();
  Outcome Start(const PortConfig& port);

  // SingleAddressParser, or BlockAddressParser with block size 4 for
  // DataType::kBlock. `variable` is declared only if the driver accepts.
  Outcome Declare(const std::string& address, DataType type,
                  Variable& variable);

  // SingleRead, or BlockRead for a block, into the variable's slot.
  Outcome Read(Variable& variable);
  // SingleWrite of `value`, which must lie in the range of the type.
  Outcome Write(const Variable& variable, int64_t value);
  // The equipment status byte (F5) of a station, 0 to 255.
  Outcome ReadStatus(int station, uint16_t& status);
  // The reset telegram (F4) to a station.
  Outcome Reset(int station);

  Outcome ClosePort();
  Outcome ReopenPort();
  Outcome ChangePort(const PortChange& change);
  // Releases the port (CloseCom) and ends the instance (EndKavi), in the
  // order the driver expects; Start begins it again.
  Outcome End();

  const Driver& driver() const { return *driver_; }

 private:
  Outcome Run(uint32_t command, void* params);
  Outcome Finish();
  Outcome Refuse(std::string text) const;
  Outcome DeclareStation(int station, int index, Variable& variable);

  std::shared_ptr<const Driver> driver_;
  std::unique_ptr<std::max_align_t[]> block_;
  std::mutex mutex_;
  MessageSink observer_;
  TraceSink trace_;
  bool started_ = false;
};

// The name to give the driver for a port the user named. Names the
// driver takes as they are ("NUL", "pts/7", "/dev/ttyS0") come back
// unchanged; a longer path, or one relative to the working folder ("./x"),
// is resolved through its links to a /dev/ name that fits. Empty with the
// reason in `error` when no fitting name exists.
MELBAX_API std::string DriverPortName(const std::string& port,
                                      std::string& error);

}  // namespace melbax
