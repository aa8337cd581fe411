#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace kaviros::e2e {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
  int read = -1;
  int write = -1;
  bool Open() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    read = ends[0];
    write = ends[1];
    return true;
  }
};

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Starts the program with the given descriptors as its standard streams.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& extraEnvironment, int in, int out,
            int err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  std::vector<std::string> argStrings = args;
  argStrings.insert(argStrings.begin(), program);
  std::vector<char*> argv;
  for (std::string& arg : argStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings = extraEnvironment;
  std::vector<char*> envp;
  for (std::string& entry : envStrings) envp.push_back(entry.data());
  for (char** entry = environ; *entry != nullptr; ++entry)
    envp.push_back(*entry);
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(),
                  envp.data()) != 0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Exit status, or 128 + signal.
int StatusOf(int wait) {
  if (WIFEXITED(wait)) return WEXITSTATUS(wait);
  if (WIFSIGNALED(wait)) return 128 + WTERMSIG(wait);
  return -1;
}

// Waits for the process until `until`; -2 when it is still running then.
int WaitUntil(pid_t pid, Clock::time_point until) {
  int wait = 0;
  while (true) {
    const pid_t done = waitpid(pid, &wait, WNOHANG);
    if (done == pid) return StatusOf(wait);
    if (done < 0 && errno != EINTR) return -1;
    if (Clock::now() >= until) return -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Reap(pid_t pid) {
  kill(pid, SIGKILL);
  int wait = 0;
  while (waitpid(pid, &wait, 0) < 0 && errno == EINTR) {
  }
}

// Reads what is there; false at the end of the stream.
bool ReadSome(int fd, std::string& into) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<size_t>(n));
    return true;
  }
  return n < 0 && errno == EINTR;
}

}  // namespace

Finished RunProgram(const std::string& program,
                    const std::vector<std::string>& args,
                    const std::vector<std::string>& extraEnvironment,
                    std::chrono::seconds limit) {
  Finished finished;
  Pipe out, err;
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (in < 0 || !out.Open() || !err.Open()) return finished;
  const pid_t pid =
      Spawn(program, args, extraEnvironment, in, out.write, err.write);
  close(in);
  CloseFd(out.write);
  CloseFd(err.write);
  if (pid < 0) {
    CloseFd(out.read);
    CloseFd(err.read);
    return finished;
  }
  const auto until = Clock::now() + limit;
  bool outOpen = true;
  bool errOpen = true;
  while ((outOpen || errOpen) && Clock::now() < until) {
    pollfd fds[2] = {{outOpen ? out.read : -1, POLLIN, 0},
                     {errOpen ? err.read : -1, POLLIN, 0}};
    if (poll(fds, 2, 100) <= 0) continue;
    if (fds[0].revents != 0) outOpen = ReadSome(out.read, finished.out);
    if (fds[1].revents != 0) errOpen = ReadSome(err.read, finished.err);
  }
  CloseFd(out.read);
  CloseFd(err.read);
  finished.status = WaitUntil(pid, until);
  if (finished.status == -2) {
    Reap(pid);
    finished.status = -1;
  }
  return finished;
}

SimulatorProcess::SimulatorProcess(std::vector<std::string> args) {
  Pipe in, out, err;
  if (!in.Open() || !out.Open() || !err.Open()) return;
  args.push_back("--exit-on-eof");
  pid_ = Spawn(R2600SIM_PROGRAM, args, {}, in.read, out.write, err.write);
  CloseFd(in.read);
  CloseFd(out.write);
  CloseFd(err.write);
  stdin_ = in.write;
  stdout_ = out.read;
  stderr_ = err.read;
  if (pid_ < 0) return;
  // The first line of its output names the terminal.
  const auto until = Clock::now() + std::chrono::seconds(20);
  std::string text;
  while (text.find('\n') == std::string::npos && Clock::now() < until) {
    pollfd ready{stdout_, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    if (!ReadSome(stdout_, text)) break;
  }
  const size_t end = text.find('\n');
  if (end != std::string::npos) port_ = text.substr(0, end);
}

bool SimulatorProcess::WaitForError(const std::string& text) {
  const auto until = Clock::now() + std::chrono::seconds(20);
  while (err_.find(text) == std::string::npos) {
    if (Clock::now() >= until) return false;
    pollfd ready{stderr_, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    if (!ReadSome(stderr_, err_)) return false;
  }
  return true;
}

Finished SimulatorProcess::Stop() {
  Finished finished;
  if (pid_ < 0) return finished;
  kill(pid_, SIGINT);
  finished.status = WaitUntil(pid_, Clock::now() + std::chrono::seconds(20));
  if (finished.status == -2) {
    Reap(pid_);
    finished.status = -1;
  }
  pid_ = -1;
  finished.err = std::move(err_);
  while (ReadSome(stderr_, finished.err)) {
  }
  return finished;
}

SimulatorProcess::~SimulatorProcess() {
  if (pid_ >= 0) {
    CloseFd(stdin_);  // --exit-on-eof: it stops by itself
    if (WaitUntil(pid_, Clock::now() + std::chrono::seconds(10)) == -2) {
      Reap(pid_);
    }
  }
  CloseFd(stdin_);
  CloseFd(stdout_);
  CloseFd(stderr_);
}

}  // namespace kaviros::e2e
