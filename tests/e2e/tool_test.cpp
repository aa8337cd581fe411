// melbax as its users run it: a process with the real driver, against the
// r2600-sim program, judged by exit status and output.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "process.h"

namespace kaviros::e2e {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::SizeIs;
using ::testing::StartsWith;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class E2eTool : public ::testing::Test {
 protected:
  // The simulator with the process standing still (and these options).
  void StartSimulator(std::vector<std::string> args = {}) {
    args.insert(args.begin(), "--freeze");
    sim_ = std::make_unique<SimulatorProcess>(std::move(args));
    ASSERT_THAT(sim_->port(), StartsWith("/dev/"));
  }

  // melbax on the simulator's port with the driver of this build.
  Finished Melbax(std::vector<std::string> args) {
    if (sim_) args.insert(args.begin(), {"--port", sim_->port()});
    return RunProgram(MELBAX_PROGRAM, args,
                      {std::string("KAVIROS_DRIVER=") + KAVIROS_E2E_DRIVER});
  }

  std::unique_ptr<SimulatorProcess> sim_;
};

TEST_F(E2eTool, ReadsOfEachKind) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator(
      {"--set", "10=0x1234", "--set", "35=0x85", "--set", "21=123456"}));
  const Finished run = Melbax(
      {"read", "0110", "0135:int16", "0121:int32", "013507", "01F0", "01F2"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(Lines(run.out),
              ElementsAre("0110     uint16  4660 (0x1234)",
                          "0135     int16   -123 (0xFF85)",
                          "0121     int32   123456 (0x0001E240)",
                          "013507   bit     1", "01F0     int16   200 (0x00C8)",
                          "01F2     int16   0 (0x0000)"));
  EXPECT_EQ(run.err, "");
}

TEST_F(E2eTool, PortGivenAsTheSimulatorsLink) {
  const std::string link = ::testing::TempDir() + "kaviros-e2e-" +
                           std::to_string(getpid()) + "-line";
  {
    SimulatorProcess sim({"--freeze", "--set", "10=0x1234", "--link", link});
    ASSERT_THAT(sim.port(), StartsWith("/dev/"));
    const Finished run =
        RunProgram(MELBAX_PROGRAM, {"--port", link, "read", "0110"},
                   {std::string("KAVIROS_DRIVER=") + KAVIROS_E2E_DRIVER});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0110     uint16  4660 (0x1234)\n");
  }
  EXPECT_NE(access(link.c_str(), F_OK), 0) << "the link outlived its simulator";
}

TEST_F(E2eTool, WriteThenReadBackInALaterRun) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator());
  const Finished write = Melbax({"write", "0100", "900"});
  EXPECT_EQ(write.status, 0);
  EXPECT_EQ(write.out, "0100     uint16  written 900 (0x0384)\n");
  EXPECT_EQ(write.err, "");

  const Finished bit = Melbax({"write", "013501", "1"});
  EXPECT_EQ(bit.status, 0);
  EXPECT_EQ(bit.out, "013501   bit     written 1\n");

  // The port was released by the runs before.
  const Finished read = Melbax({"read", "0100", "0135"});
  EXPECT_EQ(read.status, 0);
  EXPECT_THAT(Lines(read.out), ElementsAre("0100     uint16  900 (0x0384)",
                                           "0135     uint16  7 (0x0007)"));
}

TEST_F(E2eTool, WriteRefusedByTheController) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--read-only", "10"}));
  const Finished run = Melbax({"write", "0110", "5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "0110     uint16  not written: result 1, value 5 (0x0005)\n");
  EXPECT_THAT(run.err,
              HasSubstr("KAVIR> WriteParameter() device not able or ready to "
                        "do this job\n"));
}

TEST_F(E2eTool, BlockAndStatus) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--set", "16=0"}));
  const Finished block = Melbax({"block", "01F0"});
  EXPECT_EQ(block.status, 0);
  EXPECT_EQ(block.out, "01F0     block   F0=200 F1=200 F2=0 F3=0\n");

  // Control switched off (PI 16 = 0) shows as status bit 04.
  const Finished status = Melbax({"status", "01"});
  EXPECT_EQ(status.status, 0);
  EXPECT_THAT(status.out, StartsWith("station 01  status 0x04"));
}

TEST_F(E2eTool, ResetIsSent) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator());
  const Finished run = Melbax({"--trace", "reset", "01"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "station 01  reset sent\n");
  EXPECT_THAT(run.err, HasSubstr("> 10 01 09 0A 16"));
}

TEST_F(E2eTool, MonitorIntoAPipeWritesOneCsvLinePerPoll) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--set", "10=0x1234"}));
  const Finished run = Melbax(
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

TEST_F(E2eTool, TraceShowsBothDirections) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--set", "10=0x1234"}));
  const Finished run = Melbax({"--trace", "read", "0110"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.err,
              AllOf(HasSubstr(" > 68 06 06 68 01 89 10 01 01 00 9C 16\n"),
                    HasSubstr(" < 68 08 08 68 01 00 10 01 01 00 34 12 59 16")));
}

TEST_F(E2eTool, RetriedReadShowsTheDriversMessages) {
  ASSERT_NO_FATAL_FAILURE(
      StartSimulator({"--set", "10=0x1234", "--script", "silence,checksum"}));
  const Finished run = Melbax({"--timeout", "300", "read", "0110"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "0110     uint16  4660 (0x1234)\n");
  EXPECT_THAT(Lines(run.err),
              ElementsAre("KAVIR> ReceiveLongSet() wrong length reading",
                          "KAVIR> Read() error reading reply, retry 1",
                          "KAVIR> ReceiveLongSet() error checking telegram",
                          "KAVIR> Read() error reading reply, retry 2"));
}

TEST_F(E2eTool, SilentStationIsASevereFailure) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator());
  const Finished run = Melbax({"--timeout", "300", "read", "0210"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "0210     uint16  failed: result 2\n");
  EXPECT_THAT(
      run.err,
      AllOf(HasSubstr("KAVIR> Read() error reading reply, retry 5\n"),
            HasSubstr("KAVIR> SingleRead() error while reading PI=10")));
}

TEST_F(E2eTool, WrongAddressGetsTheDriversMessage) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator());
  const Finished run = Melbax({"read", "01G0"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err,
              HasSubstr("KAVIR> ParseAddress() found illegal character in "
                        "address string"));
  EXPECT_EQ(run.out, "");
}

TEST_F(E2eTool, PortThatDoesNotExist) {
  const Finished run = Melbax({"--port", "ttyNONE7", "read", "0110"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("could not open port ttyNONE7"));
  EXPECT_EQ(run.out, "");
}

TEST_F(E2eTool, PortHeldByAnotherRun) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--verbose"}));
  // A monitor holds the port for a while; a read in the meantime is kept
  // out with a clear message, and the monitor is not disturbed.
  Finished monitor;
  std::thread holder([&] {
    monitor = Melbax({"monitor", "0110", "--count", "50", "--interval", "100"});
  });
  const bool polling = sim_->WaitForError("rx 68 06 06 68 01 89 10");
  Finished read;
  if (polling) read = Melbax({"read", "0110"});
  holder.join();
  ASSERT_TRUE(polling) << "the monitor never polled";
  EXPECT_EQ(read.status, 2);
  EXPECT_THAT(read.err, HasSubstr("could not open port"));
  EXPECT_EQ(read.out, "");
  EXPECT_EQ(monitor.status, 0);
  EXPECT_THAT(Lines(monitor.out), SizeIs(51));
}

TEST_F(E2eTool, SimulatorGoneDuringMonitor) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--verbose", "--set", "10=0x1234"}));
  Finished monitor;
  std::thread watcher([&] {
    monitor = Melbax({"--timeout", "300", "monitor", "0110", "--count", "20",
                      "--interval", "100"});
  });
  const bool polling = sim_->WaitForError("rx 68 06 06 68 01 89 10");
  const Finished stopped = sim_->Stop();
  watcher.join();
  ASSERT_TRUE(polling) << "the monitor never polled";
  EXPECT_EQ(stopped.status, 0);
  // The run goes on to its count, and ends severe, each failed poll on
  // record.
  EXPECT_EQ(monitor.status, 2);
  const std::vector<std::string> lines = Lines(monitor.out);
  ASSERT_THAT(lines, SizeIs(21));
  EXPECT_THAT(lines.back(), EndsWith(",,2"));
  EXPECT_THAT(monitor.err, HasSubstr("KAVIR> SEND> Unable to send message."));
}

TEST_F(E2eTool, SimulatorSummaryCountsTheFaults) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--script", "checksum"}));
  EXPECT_EQ(Melbax({"--timeout", "300", "read", "0110"}).status, 0);
  const Finished stopped = sim_->Stop();
  EXPECT_EQ(stopped.status, 0);
  EXPECT_THAT(stopped.err, HasSubstr("faults: checksum 1"));
}

}  // namespace
}  // namespace kaviros::e2e
