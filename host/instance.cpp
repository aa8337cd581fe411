#include "melbax/instance.h"

#include <cstdio>
#include <cstring>

#include "call_context.h"

namespace melbax {
namespace {

struct TypeName {
  DataType type;
  const char* name;
};

constexpr TypeName kTypeNames[] = {{DataType::kUint16, "uint16"},
                                   {DataType::kInt16, "int16"},
                                   {DataType::kInt32, "int32"},
                                   {DataType::kBit, "bit"},
                                   {DataType::kBlock, "block"}};

constexpr int32_t kBlockSize = 4;
constexpr int kResetIndex = 0xF4;
constexpr int kStatusIndex = 0xF5;

IoRequest RequestFor(const Variable& variable, const ParseRequest& parsed,
                     ValueSlot* slot) {
  IoRequest request{};
  request.address = variable.address().c_str();
  request.plcAddress = parsed.plcAddress;
  request.gateWidth = parsed.gateWidth;
  request.paramIndex = parsed.paramIndex;
  request.bitNumber = parsed.bitNumber;
  request.valueBits = parsed.valueBits;
  request.dataType = static_cast<int32_t>(parsed.dataType);
  request.value = slot;
  return request;
}

std::string StationAddress(int station, int index) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X", station, index);
  return text;
}

bool FitsPortName(const std::string& name) {
  return name.size() < KAVI_PORT_NAME_SIZE &&
         name.find('\0') == std::string::npos;
}

}  // namespace

std::optional<DataType> DataTypeFromName(std::string_view name) {
  for (const TypeName& entry : kTypeNames) {
    if (name == entry.name) return entry.type;
  }
  return std::nullopt;
}

const char* DataTypeName(DataType type) {
  for (const TypeName& entry : kTypeNames) {
    if (entry.type == type) return entry.name;
  }
  return "?";
}

uint32_t DataTypeCode(DataType type) {
  switch (type) {
    case DataType::kUint16:
      return KAVI_TYPE_UINT16;
    case DataType::kInt16:
    case DataType::kBlock:
      return KAVI_TYPE_INT16;
    case DataType::kInt32:
      return KAVI_TYPE_INT32;
    case DataType::kBit:
      return KAVI_TYPE_BIT;
  }
  return KAVI_TYPE_UINT16;
}

std::optional<ValueRange> RangeOf(DataType type) {
  switch (type) {
    case DataType::kUint16:
      return ValueRange{0, 0xFFFF};
    case DataType::kInt16:
      return ValueRange{INT16_MIN, INT16_MAX};
    case DataType::kInt32:
      return ValueRange{INT32_MIN, INT32_MAX};
    case DataType::kBit:
      return ValueRange{0, 1};
    case DataType::kBlock:
      break;
  }
  return std::nullopt;
}

int64_t Variable::value() const {
  switch (type_) {
    case DataType::kUint16:
      return slot_.single.word;
    case DataType::kInt16:
      return static_cast<int16_t>(slot_.single.word);
    case DataType::kInt32:
      return static_cast<int32_t>(slot_.dword);
    case DataType::kBit:
      return parsed_.gateWidth == KAVI_GATE_32BIT ? slot_.dword
                                                  : slot_.single.word;
    case DataType::kBlock:
      break;
  }
  return 0;
}

std::array<uint16_t, 4> Variable::block() const {
  return {slot_.block[0], slot_.block[1], slot_.block[2], slot_.block[3]};
}

Instance::Instance(std::shared_ptr<const Driver> driver)
    : driver_(std::move(driver)) {
  const size_t size = driver_->info().instanceSize;
  const size_t units =
      (size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
  // Zeroed, so that a driver reading before ColdStart sees no garbage.
  block_ = std::make_unique<std::max_align_t[]>(units);
}

Instance::~Instance() {
  std::lock_guard lock(mutex_);
  if (!started_) return;
  Outcome outcome = Finish();
  if (!observer_) {
    for (Message& message : outcome.messages) {
      detail::Deliver(std::move(message));
    }
  }
}

Outcome Instance::Finish() {
  Outcome outcome = Run(KAVI_CLOSE_COM, nullptr);
  Outcome ended = Run(KAVI_END_KAVI, nullptr);
  started_ = false;
  outcome.messages.insert(outcome.messages.end(), ended.messages.begin(),
                          ended.messages.end());
  if (outcome.ok()) outcome.result = ended.result;
  return outcome;
}

void Instance::SetMessageObserver(MessageSink observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void Instance::SetTraceSink(TraceSink trace) {
  std::lock_guard lock(mutex_);
  trace_ = std::move(trace);
}

Outcome Instance::Run(uint32_t command, void* params) {
  return driver_->Call(block_.get(), command, params, &observer_, &trace_);
}

Outcome Instance::Refuse(std::string text) const {
  Message message{KAVI_LEVEL_SETUP, "MELBAX> " + std::move(text)};
  if (observer_) observer_(message);
  return {KAVI_REFUSED, {std::move(message)}};
}

Outcome Instance::Start() {
  std::lock_guard lock(mutex_);
  Outcome closed;
  if (started_) {
    closed = Run(KAVI_CLOSE_COM, nullptr);
    if (!closed.ok()) return closed;
  }
  ColdStartParams params{};
  params.usePort = 0;
  params.line = driver_->info().line;
  Outcome outcome = Run(KAVI_COLD_START, &params);
  started_ = true;
  outcome.messages.insert(outcome.messages.begin(), closed.messages.begin(),
                          closed.messages.end());
  return outcome;
}

Outcome Instance::Start(const PortConfig& port) {
  std::lock_guard lock(mutex_);
  if (!FitsPortName(port.name)) {
    return Refuse("port name \"" + port.name + "\" is longer than " +
                  std::to_string(KAVI_PORT_NAME_SIZE - 1) + " characters");
  }
  // The driver takes a new start as a fresh block and would lose the port
  // held from the last one.
  Outcome closed;
  if (started_) {
    closed = Run(KAVI_CLOSE_COM, nullptr);
    if (!closed.ok()) return closed;
  }
  ColdStartParams params{};
  std::memcpy(params.portName, port.name.c_str(), port.name.size() + 1);
  params.usePort = 1;
  params.readTimeout = port.readTimeoutMs;
  params.line = port.line;
  Outcome outcome = Run(KAVI_COLD_START, &params);
  started_ = true;
  outcome.messages.insert(outcome.messages.begin(), closed.messages.begin(),
                          closed.messages.end());
  return outcome;
}

Outcome Instance::Declare(const std::string& address, DataType type,
                          Variable& variable) {
  std::lock_guard lock(mutex_);
  if (!started_) return Refuse("declare " + address + " before start");
  Variable declared;
  declared.address_ = address;
  declared.type_ = type;
  ParseRequest& parsed = declared.parsed_;
  parsed.address = declared.address_.c_str();
  parsed.dataType = DataTypeCode(type);
  parsed.blockSize = type == DataType::kBlock ? kBlockSize : 0;
  parsed.bitNumber = -1;
  const uint32_t command = type == DataType::kBlock
                               ? KAVI_BLOCK_ADDRESS_PARSER
                               : KAVI_SINGLE_ADDRESS_PARSER;
  Outcome outcome = Run(command, &parsed);
  if (outcome.ok()) {
    declared.declared_ = true;
    parsed.address = nullptr;  // the copy's own string is used at each call
    variable = std::move(declared);
  }
  return outcome;
}

Outcome Instance::Read(Variable& variable) {
  std::lock_guard lock(mutex_);
  if (!variable.declared_) {
    return Refuse("variable " + variable.address_ + " is not declared");
  }
  IoRequest request = RequestFor(variable, variable.parsed_, &variable.slot_);
  return Run(
      variable.type_ == DataType::kBlock ? KAVI_BLOCK_READ : KAVI_SINGLE_READ,
      &request);
}

Outcome Instance::Write(const Variable& variable, int64_t value) {
  std::lock_guard lock(mutex_);
  if (!variable.declared_) {
    return Refuse("variable " + variable.address_ + " is not declared");
  }
  const std::optional<ValueRange> range = RangeOf(variable.type_);
  if (!range) return Refuse("a block cannot be written");
  if (value < range->min || value > range->max) {
    return Refuse("value " + std::to_string(value) + " is out of range for " +
                  DataTypeName(variable.type_) + " (" +
                  std::to_string(range->min) + " to " +
                  std::to_string(range->max) + ")");
  }
  // Bytes the driver does not write stay as the host keeps them.
  ValueSlot slot = variable.slot_;
  if (variable.type_ == DataType::kInt32) {
    slot.dword = static_cast<uint32_t>(value);
  } else {
    slot.single.word = static_cast<uint16_t>(value);
  }
  IoRequest request = RequestFor(variable, variable.parsed_, &slot);
  return Run(KAVI_SINGLE_WRITE, &request);
}

Outcome Instance::DeclareStation(int station, int index, Variable& variable) {
  if (station < 0 || station > 0xFF) {
    return Refuse("station " + std::to_string(station) +
                  " is out of range (0 to 255)");
  }
  if (!started_) return Refuse("start the instance first");
  variable.address_ = StationAddress(station, index);
  variable.type_ = DataType::kUint16;
  ParseRequest& parsed = variable.parsed_;
  parsed = {};
  parsed.address = variable.address_.c_str();
  parsed.dataType = KAVI_TYPE_UINT16;
  parsed.bitNumber = -1;
  Outcome outcome = Run(KAVI_SINGLE_ADDRESS_PARSER, &parsed);
  parsed.address = nullptr;
  variable.declared_ = outcome.ok();
  return outcome;
}

Outcome Instance::ReadStatus(int station, uint16_t& status) {
  std::lock_guard lock(mutex_);
  Variable variable;
  Outcome outcome = DeclareStation(station, kStatusIndex, variable);
  if (!outcome.ok()) return outcome;
  IoRequest request = RequestFor(variable, variable.parsed_, &variable.slot_);
  Outcome read = Run(KAVI_SINGLE_READ, &request);
  if (read.ok()) status = variable.slot_.single.word;
  return read;
}

Outcome Instance::Reset(int station) {
  std::lock_guard lock(mutex_);
  Variable variable;
  Outcome outcome = DeclareStation(station, kResetIndex, variable);
  if (!outcome.ok()) return outcome;
  IoRequest request = RequestFor(variable, variable.parsed_, &variable.slot_);
  return Run(KAVI_SINGLE_WRITE, &request);
}

Outcome Instance::ClosePort() {
  std::lock_guard lock(mutex_);
  if (!started_) return Refuse("start the instance first");
  return Run(KAVI_CLOSE_COM, nullptr);
}

Outcome Instance::ReopenPort() {
  std::lock_guard lock(mutex_);
  if (!started_) return Refuse("start the instance first");
  return Run(KAVI_REOPEN_COM, nullptr);
}

Outcome Instance::ChangePort(const PortChange& change) {
  std::lock_guard lock(mutex_);
  if (!started_) return Refuse("start the instance first");
  if (!FitsPortName(change.name)) {
    return Refuse("port name \"" + change.name + "\" is longer than " +
                  std::to_string(KAVI_PORT_NAME_SIZE - 1) + " characters");
  }
  ChangeParams params{};
  std::memcpy(params.portName, change.name.c_str(), change.name.size() + 1);
  params.readTimeout = change.readTimeoutMs.value_or(0);
  if (change.line) params.line = *change.line;
  return Run(KAVI_CHANGE_KAVI_PARAMS, &params);
}

Outcome Instance::End() {
  std::lock_guard lock(mutex_);
  if (!started_) return Refuse("start the instance first");
  return Finish();
}

}  // namespace melbax
