#include "tool.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "format.h"
#include "melbax/driver.h"
#include "melbax/instance.h"
#include "options.h"

namespace melbax::tool {
namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kBadArguments = 2;

const char* const kSimulatorHint =
    "no controller at hand? start the simulator r2600-sim in another "
    "terminal and give the port it prints";

// Where driver messages go at the moment.
enum class Show {
  kLive,    // to stderr as they arrive
  kHold,    // kept; printed only if the command fails
  kFooter,  // the last one under monitor's table
};

void SleepInSlices(milliseconds total, const volatile std::sig_atomic_t* stop) {
  const auto end = Steady::now() + total;
  while ((stop == nullptr || *stop == 0)) {
    const auto left = end - Steady::now();
    if (left <= Steady::duration::zero()) return;
    const auto slice = std::min<Steady::duration>(left, milliseconds(50));
    timespec request{};
    const auto nanos =
        std::chrono::duration_cast<std::chrono::nanoseconds>(slice).count();
    request.tv_sec = static_cast<time_t>(nanos / 1000000000);
    request.tv_nsec = static_cast<long>(nanos % 1000000000);
    nanosleep(&request, nullptr);  // a signal ends it early: fine
  }
}

struct MonitorRow {
  Variable variable;
  int32_t result = -1;
  int64_t reads = 0;
  int64_t errors = 0;
  std::optional<Steady::time_point> lastGood;
};

class Session {
 public:
  Session(const Options& options, ToolIo& io) : o_(options), io_(io) {}

  int Run();

 private:
  bool stopping() const { return io_.stop != nullptr && *io_.stop != 0; }
  void Error(const std::string& text) { io_.err << "melbax: " << text << "\n"; }
  void Note(const std::string& text) {
    if (o_.verbosity == Verbosity::kVerbose) Error(text);
  }
  void Print(const Message& message);
  void PrintHeld(const Outcome& outcome);
  void Trace(const TraceEvent& event);
  // A result outside 0 to 2 from a broken driver still counts as severe.
  int Worse(int32_t result) {
    const int status = result == KAVI_OK ? 0 : result == KAVI_REFUSED ? 1 : 2;
    worst_ = std::max(worst_, status);
    return worst_;
  }

  bool LoadDriver();
  int Info();
  bool Declare(std::vector<Variable>& variables);
  bool OpenPort();
  int Read(std::vector<Variable>& variables);
  int Write(const Variable& variable);
  int Status();
  int Reset();
  int Monitor(std::vector<Variable>& variables);
  void DrawTable(const std::vector<MonitorRow>& rows, int64_t polls);
  void WriteCsv(const std::vector<MonitorRow>& rows, bool header);
  void Finish();

  const Options& o_;
  ToolIo& io_;
  std::shared_ptr<Driver> driver_;
  std::unique_ptr<Instance> instance_;
  std::string portName_;
  Show show_ = Show::kLive;
  std::string lastMessage_;
  std::optional<Clock::time_point> lastSent_;
  int tableLines_ = 0;
  int worst_ = 0;
};

void Session::Print(const Message& message) {
  if (o_.verbosity == Verbosity::kQuiet) return;
  if (o_.verbosity == Verbosity::kVerbose) {
    io_.err << TimeOfDay(Clock::now()) << " [" << message.level << "] "
            << message.text << "\n";
    return;
  }
  switch (show_) {
    case Show::kLive:
      io_.err << message.text << "\n";
      break;
    case Show::kHold:
      break;
    case Show::kFooter:
      lastMessage_ = message.text;
      break;
  }
}

void Session::PrintHeld(const Outcome& outcome) {
  if (outcome.ok() || o_.verbosity != Verbosity::kNormal) return;
  for (const Message& message : outcome.messages) {
    io_.err << message.text << "\n";
  }
}

void Session::Trace(const TraceEvent& event) {
  const bool sent = event.direction == TraceDirection::kSent;
  io_.err << "trace " << TimeOfDay(event.time) << (sent ? " > " : " < ")
          << HexBytes(event.bytes, event.count);
  if (event.count == 0) io_.err << "(nothing)";
  if (!sent && lastSent_) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            event.time - *lastSent_)
                            .count();
    char delta[32];
    std::snprintf(delta, sizeof delta, "  (+%.1f ms)",
                  static_cast<double>(micros) / 1000.0);
    io_.err << delta;
  }
  io_.err << "\n";
  if (sent) lastSent_ = event.time;
}

bool Session::LoadDriver() {
  const std::string path =
      o_.driverPath.empty() ? DefaultDriverPath() : o_.driverPath;
  std::string error;
  driver_ = Driver::Load(path, error);
  if (!driver_) {
    Error("cannot load the driver: " + error);
    Error("name the driver library with --driver PATH or KAVIROS_DRIVER");
    return false;
  }
  Note("driver " + driver_->path() + " (" + driver_->deviceName() + ")");
  instance_ = std::make_unique<Instance>(driver_);
  instance_->SetMessageObserver([this](const Message& m) { Print(m); });
  if (o_.trace) {
    instance_->SetTraceSink([this](const TraceEvent& e) { Trace(e); });
  }
  return true;
}

int Session::Info() {
  const DriverInfo& info = driver_->info();
  io_.out << "driver:        " << driver_->path() << "\n"
          << "device:        " << driver_->deviceName() << "\n"
          << "default line:  " << FormatLine(info.line) << "\n"
          << "instance size: " << info.instanceSize << " bytes\n"
          << driver_->banner();
  if (!driver_->banner().ends_with('\n')) io_.out << "\n";
  return 0;
}

// Addresses are checked against the driver before the port is touched.
bool Session::Declare(std::vector<Variable>& variables) {
  show_ = Show::kHold;
  const Outcome started = instance_->Start();
  show_ = Show::kLive;
  if (!started.ok()) {
    PrintHeld(started);
    Error("the driver did not start (result " + std::to_string(started.result) +
          ")");
    Worse(started.result);
    return false;
  }
  for (const Target& target : o_.targets) {
    Variable variable;
    const Outcome declared =
        instance_->Declare(target.address, target.type, variable);
    if (!declared.ok()) {
      Error("address " + target.address + " (" + DataTypeName(target.type) +
            ") was refused (result " + std::to_string(declared.result) + ")");
      Worse(declared.result);
      return false;
    }
    variables.push_back(std::move(variable));
  }
  return true;
}

bool Session::OpenPort() {
  PortConfig port{portName_, driver_->info().line, o_.timeoutMs};
  if (o_.baud) port.line.baudRate = *o_.baud;
  if (o_.dataBits) port.line.byteSize = *o_.dataBits;
  if (o_.parity) port.line.parity = *o_.parity;
  if (o_.stopBits) port.line.stopBits = *o_.stopBits;
  Note("port " + portName_ + ", " + FormatLine(port.line) +
       ", reply time-out " + std::to_string(o_.timeoutMs) + " ms");
  show_ = Show::kHold;
  const Outcome opened = instance_->Start(port);
  show_ = Show::kLive;
  if (opened.ok()) return true;
  PrintHeld(opened);
  Error("could not open port " + o_.port + " (result " +
        std::to_string(opened.result) +
        "): check the name, and that no other program holds the port");
  Error(kSimulatorHint);
  Worse(opened.result);
  return false;
}

int Session::Read(std::vector<Variable>& variables) {
  for (Variable& variable : variables) {
    const Outcome outcome = instance_->Read(variable);
    Worse(outcome.result);
    char head[64];
    std::snprintf(head, sizeof head, "%-8s %-7s ", variable.address().c_str(),
                  DataTypeName(variable.type()));
    io_.out << head
            << (outcome.ok()
                    ? FormatValue(variable)
                    : "failed: result " + std::to_string(outcome.result))
            << "\n";
    if (stopping()) break;
  }
  return worst_;
}

int Session::Write(const Variable& variable) {
  const Outcome outcome = instance_->Write(variable, o_.value);
  Worse(outcome.result);
  char head[64];
  std::snprintf(head, sizeof head, "%-8s %-7s ", variable.address().c_str(),
                DataTypeName(variable.type()));
  io_.out << head
          << (outcome.ok() ? "written "
                           : "not written: result " +
                                 std::to_string(outcome.result) + ", value ")
          << FormatValue(variable.type(), o_.value) << "\n";
  return worst_;
}

int Session::Status() {
  uint16_t status = 0;
  const Outcome outcome = instance_->ReadStatus(o_.station, status);
  Worse(outcome.result);
  char head[32];
  std::snprintf(head, sizeof head, "station %02X  ", o_.station);
  io_.out << head
          << (outcome.ok()
                  ? "status " + FormatStatus(status)
                  : "status not read: result " + std::to_string(outcome.result))
          << "\n";
  return worst_;
}

int Session::Reset() {
  const Outcome outcome = instance_->Reset(o_.station);
  Worse(outcome.result);
  char head[32];
  std::snprintf(head, sizeof head, "station %02X  ", o_.station);
  io_.out << head
          << (outcome.ok()
                  ? std::string("reset sent")
                  : "reset failed: result " + std::to_string(outcome.result))
          << "\n";
  return worst_;
}

void Session::DrawTable(const std::vector<MonitorRow>& rows, int64_t polls) {
  const auto now = Steady::now();
  std::vector<std::string> lines;
  char text[512];
  std::snprintf(text, sizeof text,
                "melbax monitor  port %s  every %lld ms  poll %lld  "
                "(Ctrl-C stops)",
                o_.port.c_str(), static_cast<long long>(o_.intervalMs),
                static_cast<long long>(polls));
  lines.emplace_back(text);
  size_t width = 5;
  std::vector<std::string> values;
  for (const MonitorRow& row : rows) {
    values.push_back(row.lastGood ? FormatValue(row.variable) : "-");
    width = std::max(width, values.back().size());
  }
  std::snprintf(text, sizeof text, "%-8s %-7s %-*s %6s %9s %11s", "ADDRESS",
                "TYPE", static_cast<int>(width), "VALUE", "RESULT", "AGE",
                "ERRORS");
  lines.emplace_back(text);
  for (size_t i = 0; i < rows.size(); ++i) {
    const MonitorRow& row = rows[i];
    char age[32] = "-";
    if (row.lastGood) {
      const double seconds =
          std::chrono::duration<double>(now - *row.lastGood).count();
      std::snprintf(age, sizeof age, "%.1f s", seconds);
    }
    char errors[32];
    std::snprintf(errors, sizeof errors, "%lld/%lld",
                  static_cast<long long>(row.errors),
                  static_cast<long long>(row.reads));
    std::snprintf(text, sizeof text, "%-8s %-7s %-*s %6d %9s %11s",
                  row.variable.address().c_str(),
                  DataTypeName(row.variable.type()), static_cast<int>(width),
                  values[i].c_str(), row.result, age, errors);
    lines.emplace_back(text);
  }
  if (o_.verbosity != Verbosity::kQuiet) {
    lines.push_back("last message: " +
                    (lastMessage_.empty() ? "-" : lastMessage_));
  }
  // Back to the table's first line, then each line rewritten in place.
  if (tableLines_ > 0) io_.out << "\r\x1b[" << tableLines_ << "A";
  const size_t columns =
      static_cast<size_t>(std::max(io_.terminalColumns, 20) - 1);
  for (std::string& line : lines) {
    if (line.size() > columns) line.resize(columns);
    io_.out << "\x1b[2K" << line << "\n";
  }
  tableLines_ = static_cast<int>(lines.size());
  io_.out.flush();
}

void Session::WriteCsv(const std::vector<MonitorRow>& rows, bool header) {
  if (header) {
    io_.out << "time";
    for (const MonitorRow& row : rows) {
      const std::string& address = row.variable.address();
      if (row.variable.type() == DataType::kBlock) {
        for (int i = 0; i < 4; ++i) io_.out << "," << address << " F" << i;
      } else {
        io_.out << "," << address;
      }
      io_.out << "," << address << " result";
    }
    io_.out << "\n";
  }
  io_.out << IsoTime(Clock::now());
  for (const MonitorRow& row : rows) {
    const bool good = row.result == KAVI_OK;
    if (row.variable.type() == DataType::kBlock) {
      const auto words = row.variable.block();
      for (const uint16_t word : words) {
        io_.out << ",";
        if (good) io_.out << static_cast<int16_t>(word);
      }
    } else {
      io_.out << ",";
      if (good) io_.out << row.variable.value();
    }
    io_.out << "," << row.result;
  }
  io_.out << "\n";
  io_.out.flush();
}

int Session::Monitor(std::vector<Variable>& variables) {
  const bool table =
      io_.outIsTerminal && !o_.trace && o_.verbosity != Verbosity::kVerbose;
  if (table) show_ = Show::kFooter;
  std::vector<MonitorRow> rows;
  for (Variable& variable : variables) {
    MonitorRow row;
    row.variable = std::move(variable);
    rows.push_back(std::move(row));
  }

  const auto start = Steady::now();
  const auto interval = milliseconds(o_.intervalMs);
  std::optional<Steady::time_point> deadline;
  if (o_.durationS) {
    deadline = start + std::chrono::duration_cast<Steady::duration>(
                           std::chrono::duration<double>(*o_.durationS));
  }
  for (int64_t polls = 1;; ++polls) {
    const auto pollStart = Steady::now();
    for (MonitorRow& row : rows) {
      const Outcome outcome = instance_->Read(row.variable);
      Worse(outcome.result);
      row.result = outcome.result;
      ++row.reads;
      if (outcome.ok()) {
        row.lastGood = Steady::now();
      } else {
        ++row.errors;
      }
    }
    if (table) {
      DrawTable(rows, polls);
    } else {
      WriteCsv(rows, polls == 1);
    }
    // A closed pipe ends the run like Ctrl-C.
    if (!io_.out || stopping()) break;
    if (o_.count && polls >= *o_.count) break;
    const auto next = pollStart + interval;
    if (deadline && next >= *deadline) break;
    const auto wait = next - Steady::now();
    if (wait > Steady::duration::zero()) {
      const auto ms = std::chrono::ceil<milliseconds>(wait);
      if (io_.sleep) {
        io_.sleep(ms);
      } else {
        SleepInSlices(ms, io_.stop);
      }
    }
    if (stopping()) break;
  }
  show_ = Show::kLive;
  return worst_;
}

void Session::Finish() {
  if (!instance_) return;
  show_ = Show::kHold;
  const Outcome ended = instance_->End();
  show_ = Show::kLive;
  if (!ended.ok()) {
    PrintHeld(ended);
    Error("closing the port failed (result " + std::to_string(ended.result) +
          ")");
    Worse(ended.result);
  }
}

int Session::Run() {
  if (o_.command != Command::kInfo) {
    if (o_.port.empty()) {
      Error("no port given: name one with --port, e.g. --port ttyUSB0");
      Error(kSimulatorHint);
      return kBadArguments;
    }
    std::string error;
    portName_ = DriverPortName(o_.port, error);
    if (portName_.empty()) {
      Error(error);
      return kBadArguments;
    }
  }
  if (!LoadDriver()) return kBadArguments;
  if (o_.command == Command::kInfo) return Info();
  if (portName_ != o_.port) Note("port " + o_.port + " is " + portName_);

  std::vector<Variable> variables;
  if (!Declare(variables) || !OpenPort()) {
    Finish();
    return worst_;
  }
  switch (o_.command) {
    case Command::kRead:
    case Command::kBlock:
      Read(variables);
      break;
    case Command::kWrite:
      Write(variables.front());
      break;
    case Command::kStatus:
      Status();
      break;
    case Command::kReset:
      Reset();
      break;
    case Command::kMonitor:
      Monitor(variables);
      break;
    case Command::kHelp:
    case Command::kInfo:
      break;
  }
  Finish();
  return worst_;
}

}  // namespace

int RunTool(const std::vector<std::string>& args, ToolIo& io) {
  const ParseResult parsed = ParseCommandLine(args);
  if (!parsed.options) {
    io.err << "melbax: " << parsed.error << "\n"
           << "Run 'melbax --help' for the commands and options.\n";
    return kBadArguments;
  }
  if (parsed.options->command == Command::kHelp) {
    io.out << kUsage;
    return 0;
  }
  Session session(*parsed.options, io);
  return session.Run();
}

}  // namespace melbax::tool
