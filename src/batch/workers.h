// Work spread over threads, and the progress line over files.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

// Calls work(i) for every i below count, on `jobs` threads, each taking the
// next index when it is free.
void parallel_for(size_t count, unsigned jobs, const std::function<void(size_t)>& work);

// "sarvek: reading, files 12/300, 45.1/1200.0 MiB, 12.3 MiB/s, 0:01:23
// left" on standard error, drawn when the first file is done, then at most
// twice a second; nothing when it is not a terminal.
class batch_progress {
 public:
  batch_progress(const char* what, uint64_t files, uint64_t bytes, bool shown);
  void done(uint64_t bytes);  // one file more, of that many bytes
  void end();                 // erases the line

 private:
  void draw();
  std::mutex mutex_;
  const char* what_;
  uint64_t files_, bytes_, files_done_ = 0, bytes_done_ = 0;
  bool shown_;
  std::chrono::steady_clock::time_point start_, last_;
};
