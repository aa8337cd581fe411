// r2600-sim as a program: started, talked to through its terminal, stopped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bytes.h"
#include "pty_client.h"

extern char** environ;

namespace r2600sim {
namespace {

using namespace std::chrono_literals;
using testing::B;
using testing::PtyClient;

const Bytes kRead10 = B("68 06 06 68 01 89 10 01 01 00 9C 16");

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "r2600sim-exe-" + std::to_string(getpid()) +
         "-" + name;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// The program with its three standard streams on pipes.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
        pipe2(err, O_CLOEXEC) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    args.insert(args.begin(), R2600SIM_BINARY);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, R2600SIM_BINARY, &actions, nullptr, argv.data(),
                    environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
  }

  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {stdin_, stdout_, stderr_}) {
      if (fd >= 0) close(fd);
    }
  }

  bool Started() const { return pid_ > 0; }

  // The first line of standard output.
  std::string FirstLine() {
    std::string line;
    char c = 0;
    while (Readable(stdout_) && read(stdout_, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }

  void CloseStdin() {
    close(stdin_);
    stdin_ = -1;
  }

  void Signal(int signal) { kill(pid_, signal); }

  // Exit status; -1 when the program had to be killed after a long wait.
  int Wait() {
    const auto until = std::chrono::steady_clock::now() + 20s;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) return -1;
      std::this_thread::sleep_for(5ms);
    }
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
  }

  // Everything on a stream once the program has ended.
  static std::string Drain(int fd) {
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
      text.append(buffer, static_cast<size_t>(n));
    return text;
  }
  std::string Out() { return Drain(stdout_); }
  std::string Err() { return Drain(stderr_); }

 private:
  static bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 20000) > 0;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
};

TEST(SimExecutable, HelpForNewcomers) {
  Program p({"--help"});
  ASSERT_TRUE(p.Started());
  EXPECT_EQ(p.Wait(), 0);
  const std::string out = p.Out();
  EXPECT_NE(out.find("Usage: r2600-sim [OPTIONS]"), std::string::npos);
  EXPECT_NE(out.find("Examples:"), std::string::npos);
}

TEST(SimExecutable, BadOptionExitsWithTwo) {
  Program p({"--stations", "FF"});
  ASSERT_TRUE(p.Started());
  EXPECT_EQ(p.Wait(), 2);
  const std::string err = p.Err();
  EXPECT_NE(err.find("r2600-sim: station 'FF' cannot be played"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("--help"), std::string::npos);
  EXPECT_TRUE(p.Out().empty());
}

class SimStopSignal : public ::testing::TestWithParam<int> {};

TEST_P(SimStopSignal, ServesThenStopsCleanly) {
  const std::string link = TempPath("link" + std::to_string(GetParam()));
  Program p({"--link", link, "--freeze", "--set", "10=0x1234", "--verbose"});
  ASSERT_TRUE(p.Started());
  const std::string port = p.FirstLine();
  ASSERT_EQ(port.rfind("/dev/pts/", 0), 0u) << port;
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(port, target);
  {
    PtyClient client(link);
    EXPECT_EQ(Hex(client.Transact(kRead10, 14)),
              "68 08 08 68 01 00 10 01 01 00 34 12 59 16");
  }
  p.Signal(GetParam());
  EXPECT_EQ(p.Wait(), 0);
  EXPECT_FALSE(Exists(link));
  const std::string err = p.Err();
  EXPECT_NE(err.find("rx 68 06 06 68 01 89 10 01 01 00 9C 16"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("stopped; 1 requests, 1 replies"), std::string::npos)
      << err;
}

INSTANTIATE_TEST_SUITE_P(Signals, SimStopSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) {
                           return std::string(info.param == SIGINT ? "Interrupt"
                                              : info.param == SIGTERM
                                                  ? "Terminate"
                                                  : "HangUp");
                         });

TEST(SimExecutable, StopsWhenStdinEndsIfAsked) {
  Program p({"--exit-on-eof"});
  ASSERT_TRUE(p.Started());
  ASSERT_FALSE(p.FirstLine().empty());
  p.CloseStdin();
  EXPECT_EQ(p.Wait(), 0);
  EXPECT_NE(p.Err().find("standard input closed"), std::string::npos);
}

TEST(SimExecutable, KeepsServingWhenStdinEndsUnlessAsked) {
  Program p({"--quiet"});
  ASSERT_TRUE(p.Started());
  const std::string port = p.FirstLine();
  p.CloseStdin();
  PtyClient client(port);
  EXPECT_EQ(client.Transact(kRead10, 14).size(), 14u);
  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(), 0);
  EXPECT_TRUE(p.Err().empty()) << "quiet";
  EXPECT_TRUE(p.Out().empty()) << "nothing after the path";
}

TEST(SimExecutable, LinkOverAFileFailsWithOne) {
  const std::string file = TempPath("file");
  std::ofstream(file) << "data";
  Program p({"--link", file});
  ASSERT_TRUE(p.Started());
  EXPECT_EQ(p.Wait(), 1);
  EXPECT_NE(p.Err().find("is not a symbolic link"), std::string::npos);
  EXPECT_TRUE(Exists(file));
  unlink(file.c_str());
}

TEST(SimExecutable, ScriptedFaultsAreCountedInTheSummary) {
  Program p({"--script", "silence,ok", "--seed", "3"});
  ASSERT_TRUE(p.Started());
  PtyClient client(p.FirstLine());
  ASSERT_TRUE(client.Send(kRead10));
  EXPECT_EQ(client.Transact(B("10 01 29 2A 16"), 5).size(), 5u);
  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(), 0);
  const std::string err = p.Err();
  EXPECT_NE(err.find("a script of 2 steps (seed 3)"), std::string::npos) << err;
  EXPECT_NE(err.find("faults: silence 1"), std::string::npos) << err;
}

}  // namespace
}  // namespace r2600sim
