// Whether a second thread can run beside the first: the scan-ahead worker
// and the deep mode's second search thread go without one otherwise.
#pragma once
#include <sched.h>

#include <thread>

// True when this process may run on two processors or more.
inline bool two_processors() {
#ifdef __linux__
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set) >= 2;
#endif
  return std::thread::hardware_concurrency() >= 2;
}
