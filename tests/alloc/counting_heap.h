// Every heap allocation of the program goes through counting_heap.cpp,
// which replaces malloc and its relatives as well as operator new. What
// the calling thread allocates while its count is on is counted; other
// threads (the simulator's, the test framework's) are never counted.
#pragma once

#include <cstdint>

namespace kaviros::alloc {

// Starts counting the calling thread's allocations from zero.
void StartCounting();
// Stops counting; returns how many allocations there were.
int64_t StopCounting();

// Holds the count while it lives (the host's own work, e.g. formatting a
// message the driver logged, is not the driver's allocation).
class CountingPause {
 public:
  CountingPause();
  ~CountingPause();
  CountingPause(const CountingPause&) = delete;
  CountingPause& operator=(const CountingPause&) = delete;

 private:
  bool wasCounting_;
};

}  // namespace kaviros::alloc
