// melbax.exe as its users run it on Windows: a process with kaviros.dll and
// MELBAX.dll beside it, on a COM port to a simulated controller, judged by
// exit status and output.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>

#include "rig.h"

namespace kaviros::wine {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::SizeIs;
using ::testing::StartsWith;

struct Finished {
  int status = -1;  // -1: it did not end in time
  std::string out;
  std::string err;
};

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string self(path, length);
  return self.substr(0, self.find_last_of("\\/"));
}

// A file the child writes to, read once it has ended.
class Capture {
 public:
  explicit Capture(const char* what) {
    char directory[MAX_PATH];
    char name[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    GetTempFileNameA(directory, what, 0, name);
    path_ = name;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    handle_ = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
  }
  ~Capture() {
    Release();
    DeleteFileA(path_.c_str());
  }
  HANDLE handle() const { return handle_; }
  std::string Take() {
    Release();
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  void Release() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  std::string path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Runs melbax.exe with `args`, standard input empty; ends it after a minute.
Finished Melbax(const std::vector<std::string>& args) {
  std::string command = "\"" + ProgramDirectory() + "\\melbax.exe\"";
  for (const std::string& arg : args) command += " \"" + arg + "\"";
  Capture out("out");
  Capture err("err");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out.handle();
  startup.hStdError = err.handle();
  PROCESS_INFORMATION process{};
  Finished finished;
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                      nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << command << ": " << GetLastError();
    return finished;
  }
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    finished.status = static_cast<int>(status);
  } else {
    TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, INFINITE);
    ADD_FAILURE() << command << " did not end within a minute";
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  finished.out = out.Take();
  finished.err = err.Take();
  return finished;
}

// The lines of a program's output, without the console's carriage returns.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class Tool : public ::testing::Test {
 protected:
  void StartSimulator(const std::string& options = "") {
    sim_ = std::make_unique<Sim>(kCom, "--freeze " + options);
    ASSERT_TRUE(sim_->started());
  }

  // melbax on the simulator's port, as a user names it.
  Finished Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", ComName(kCom)});
    return Melbax(args);
  }

  std::unique_ptr<Sim> sim_;
};

TEST_F(Tool, Info) {
  const Finished run = Melbax({"info"});
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_THAT(lines.size(), ::testing::Gt(4u));
  // The driver beside the program, found without being named.
  EXPECT_THAT(lines[0], AllOf(StartsWith("driver:"), EndsWith("kaviros.dll"),
                              HasSubstr(ProgramDirectory())));
  EXPECT_EQ(lines[2],
            "default line:  9600 baud, 8 data bits, even parity, "
            "1 stop bit");
  EXPECT_EQ(lines[3], "instance size: 648 bytes");
  EXPECT_THAT(run.out, HasSubstr("K A V I R O S"));
  EXPECT_EQ(run.err, "");
}

TEST_F(Tool, ReadsOfEachKind) {
  ASSERT_NO_FATAL_FAILURE(
      StartSimulator("--set 10=0x1234 --set 35=0x85 --set 21=123456"));
  const Finished run =
      Run({"read", "0110", "0135:int16", "0121:int32", "013507", "01F0"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(
      Lines(run.out),
      ElementsAre("0110     uint16  4660 (0x1234)",
                  "0135     int16   -123 (0xFF85)",
                  "0121     int32   123456 (0x0001E240)", "013507   bit     1",
                  "01F0     int16   200 (0x00C8)"));
  EXPECT_EQ(run.err, "");
}

TEST_F(Tool, WriteThenReadBackInALaterRun) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator());
  const Finished write = Run({"write", "0100", "900"});
  EXPECT_EQ(write.status, 0);
  EXPECT_THAT(Lines(write.out),
              ElementsAre("0100     uint16  written 900 (0x0384)"));
  EXPECT_EQ(write.err, "");
  EXPECT_EQ(sim_->Value(0x01, 0x00), 900u);

  const Finished bit = Run({"write", "013501", "1"});
  EXPECT_EQ(bit.status, 0);
  EXPECT_THAT(Lines(bit.out), ElementsAre("013501   bit     written 1"));

  // The port was released by the runs before.
  const Finished read = Run({"read", "0100", "0135"});
  EXPECT_EQ(read.status, 0);
  EXPECT_THAT(Lines(read.out), ElementsAre("0100     uint16  900 (0x0384)",
                                           "0135     uint16  7 (0x0007)"));
}

TEST_F(Tool, WriteRefusedByTheController) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator("--read-only 10"));
  const Finished run = Run({"write", "0110", "5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(Lines(run.out),
              ElementsAre("0110     uint16  not written: result 1, value 5 "
                          "(0x0005)"));
  EXPECT_THAT(run.err, HasSubstr("KAVIR> WriteParameter() device not able or "
                                 "ready to do this job"));
}

TEST_F(Tool, BlockStatusAndReset) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator("--set 16=0"));
  const Finished block = Run({"block", "01F0"});
  EXPECT_EQ(block.status, 0);
  EXPECT_THAT(Lines(block.out),
              ElementsAre("01F0     block   F0=200 F1=200 F2=0 F3=0"));

  const Finished status = Run({"status", "01"});
  EXPECT_EQ(status.status, 0);
  EXPECT_THAT(status.out, StartsWith("station 01  status 0x04"));

  const Finished reset = Run({"--trace", "reset", "01"});
  EXPECT_EQ(reset.status, 0);
  EXPECT_THAT(Lines(reset.out), ElementsAre("station 01  reset sent"));
  EXPECT_THAT(reset.err, HasSubstr("> 10 01 09 0A 16"));
  ASSERT_TRUE(sim_->WaitForTelegrams(3));
  EXPECT_EQ(sim_->Resets(0x01), 1u);
}

TEST_F(Tool, MonitorIntoAFileWritesOneCsvLinePerPoll) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator("--set 10=0x1234"));
  const Finished run = Run(
      {"monitor", "0110", "01F0:block", "--count", "3", "--interval", "50"});
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_THAT(lines, SizeIs(4));
  EXPECT_EQ(
      lines[0],
      "time,0110,0110 result,01F0 F0,01F0 F1,01F0 F2,01F0 F3,01F0 result");
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_THAT(lines[i], EndsWith(",4660,0,200,200,0,0,0")) << lines[i];
  }
}

TEST_F(Tool, TraceShowsBothDirections) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator("--set 10=0x1234"));
  const Finished run = Run({"--trace", "read", "0110"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.err,
              AllOf(HasSubstr(" > 68 06 06 68 01 89 10 01 01 00 9C 16"),
                    HasSubstr(" < 68 08 08 68 01 00 10 01 01 00 34 12 59 16")));
}

TEST_F(Tool, RetriedReadShowsTheDriversMessages) {
  ASSERT_NO_FATAL_FAILURE(
      StartSimulator("--set 10=0x1234 --script silence,checksum"));
  const Finished run = Run({"--timeout", "300", "read", "0110"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(Lines(run.out), ElementsAre("0110     uint16  4660 (0x1234)"));
  EXPECT_THAT(Lines(run.err),
              ElementsAre("KAVIR> ReceiveLongSet() wrong length reading",
                          "KAVIR> Read() error reading reply, retry 1",
                          "KAVIR> ReceiveLongSet() error checking telegram",
                          "KAVIR> Read() error reading reply, retry 2"));
}

TEST_F(Tool, SilentStationIsASevereFailure) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator());
  const Finished run = Run({"--timeout", "100", "read", "0210"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(Lines(run.out), ElementsAre("0210     uint16  failed: result 2"));
  EXPECT_THAT(
      run.err,
      AllOf(HasSubstr("KAVIR> Read() error reading reply, retry 5"),
            HasSubstr("KAVIR> SingleRead() error while reading PI=10")));
}

TEST_F(Tool, WrongAddressGetsTheDriversMessage) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator());
  const Finished run = Run({"read", "01G0"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("KAVIR> ParseAddress() found illegal "
                                 "character in address string"));
  EXPECT_EQ(run.out, "");
}

TEST_F(Tool, PortThatDoesNotExist) {
  const Finished run = Melbax({"--port", ComName(kMissingCom), "read", "0110"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("could not open port COM59"));
  EXPECT_EQ(run.out, "");
}

TEST_F(Tool, NullDeviceOpensButNothingAnswers) {
  const Finished run =
      Melbax({"--port", "NUL", "--timeout", "100", "read", "0110"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(Lines(run.out), ElementsAre("0110     uint16  failed: result 2"));
  EXPECT_THAT(run.err, HasSubstr("KAVIR> Read() error reading reply, retry 5"));
}

TEST_F(Tool, BadArgumentsAreRefusedBeforeAnyPort) {
  const Finished run = Melbax({"--port", "COM1", "write", "0110"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err, "");
}

TEST_F(Tool, MissingDriverIsNamed) {
  const Finished run = Melbax({"--driver", "C:\\nowhere\\kaviros.dll", "info"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("cannot load the driver"));
}

}  // namespace
}  // namespace kaviros::wine
