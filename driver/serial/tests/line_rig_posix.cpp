// Both ends in the test process: each line a pseudo-terminal pair, the port
// opened by its name under /dev/.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "line_rig.h"
#include "pty_pair.h"

namespace kavi::testing {
namespace {

class PtyRig : public LineRig {
 public:
  PtyRig() {
    for (auto& pair : pairs_) pair = std::make_unique<PtyPair>();
  }
  ~PtyRig() override { JoinSenders(); }

  bool ok() const { return pairs_[0]->ok() && pairs_[1]->ok(); }

  std::string PortName(int line) override {
    return pairs_[line]->relativeName();
  }
  std::string MissingPortName() override { return "ttyKAVIROS"; }

  void Send(int line, const Bytes& bytes, int delayMs) override {
    if (delayMs <= 0) {
      EXPECT_TRUE(pairs_[line]->Send(bytes));
      return;
    }
    std::lock_guard lock(mutex_);
    senders_.emplace_back([pair = pairs_[line].get(), bytes, delayMs] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      pair->Send(bytes);
    });
  }

  Bytes Receive(int line, std::size_t count, int waitMs) override {
    return pairs_[line]->Receive(count, waitMs);
  }

  void ResetLine(int line) override {
    JoinSenders();
    pairs_[line]->Reset();
  }

  bool HandleIsOpen(PortHandle handle) override {
    return handle != 0 && fcntl(static_cast<int>(handle) - 1, F_GETFD) != -1;
  }

  int OpenHandleCount() override {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) return -1;
    int count = 0;
    while (readdir(directory) != nullptr) ++count;
    closedir(directory);
    return count;
  }

 private:
  void JoinSenders() {
    std::lock_guard lock(mutex_);
    for (std::thread& sender : senders_) sender.join();
    senders_.clear();
  }

  std::unique_ptr<PtyPair> pairs_[2];
  std::mutex mutex_;
  std::vector<std::thread> senders_;
};

}  // namespace

LineRig& Rig() {
  static PtyRig rig;
  EXPECT_TRUE(rig.ok()) << "no pseudo-terminals on this machine";
  return rig;
}

}  // namespace kavi::testing
