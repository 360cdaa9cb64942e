#include "batch/workers.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

void parallel_for(size_t count, unsigned jobs, const std::function<void(size_t)>& work) {
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < count;) work(i);
  };
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < jobs && t < count; ++t) threads.emplace_back(worker);
  worker();
  for (std::thread& t : threads) t.join();
}

batch_progress::batch_progress(const char* what, uint64_t files, uint64_t bytes, bool shown)
    : what_(what), files_(files), bytes_(bytes), shown_(shown),
      start_(std::chrono::steady_clock::now()), last_(start_ - std::chrono::seconds(1)) {}

void batch_progress::done(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++files_done_;
  bytes_done_ += bytes;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_ >= std::chrono::milliseconds(500)) {
    last_ = now;
    draw();
  }
}

void batch_progress::draw() {
  const double seconds = std::max(0.0, std::chrono::duration<double>(last_ - start_).count());
  const double mib = 1024.0 * 1024.0;
  const double rate = seconds > 0 ? static_cast<double>(bytes_done_) / seconds : 0;
  const double left = rate > 0 ? static_cast<double>(bytes_ - bytes_done_) / rate : 0;
  const long s = static_cast<long>(left);
  fprintf(stderr, "\rsarvek: %s, files %llu/%llu, %.1f/%.1f MiB, %.1f MiB/s, %ld:%02ld:%02ld left\033[K", what_,
          static_cast<unsigned long long>(files_done_), static_cast<unsigned long long>(files_),
          static_cast<double>(bytes_done_) / mib, static_cast<double>(bytes_) / mib, rate / mib, s / 3600,
          s / 60 % 60, s % 60);
  fflush(stderr);
}

void batch_progress::end() {
  if (shown_) fputs("\r\033[K", stderr);
}
