// The progress line: one line on a terminal's standard error during long
// runs whose rows go to a file or a pipe. It is an addition to the tool's
// output, never part of it: shown only when standard error is a terminal,
// standard output is not, -d is off and the image is large, and always
// erased before anything else is written to standard error and before the
// run ends.
#pragma once
#include <cstddef>
#include <cstdint>

#include "shared/run_output.h"

// Images smaller than this finish too soon to need a progress line.
constexpr uint64_t progress_min_size = uint64_t{64} << 20;

// The redraw interval: at most four lines a second.
constexpr int64_t progress_interval_ns = 250'000'000;

struct progress_meter {
  uint64_t total_pages;   // pages the walk visits
  int64_t start_ns;       // monotonic clock at the start of the walk
  int64_t next_draw_ns;   // no redraw before this time
  uint64_t next_check;    // page count at which the clock is read again
  uint64_t check_every;   // pages between clock readings (about 1 MiB)
  uint32_t columns;       // terminal width; the line is cut to fit
  uint64_t image_size;    // bytes of the file read
  uint32_t page_size;
  int64_t page;           // 1-based number of the page reached
  const run_output* out;  // its rows_printed is shown
};

// The decision: true when standard error is a terminal, standard output is
// not, -d is off and the image holds at least progress_min_size bytes.
bool progress_wanted(bool debug, uint64_t image_size, bool stderr_is_tty, bool stdout_is_tty);

// Formats the line's text (without the carriage return and the erase
// sequence) into out; returns its length, at most size - 1.
size_t progress_format(char* out, size_t size, uint64_t pages_done, uint64_t total_pages,
                       uint64_t bytes_done, double elapsed_s, uint64_t rows);

// Starts the meter for a walk of page_size pages over image_size bytes,
// from page `first`, when progress_wanted holds for the process's own
// streams: attaches it to out->progress, draws the first line and makes the
// usual terminating signals erase the line before they end the process.
void progress_begin(run_output* out, progress_meter* meter, bool debug, uint64_t image_size,
                    uint32_t page_size, int64_t first);

// The walk has reached page `page` (1-based); a number below one reported
// before leaves the count where it is. Redraws when the interval has passed.
// Both modes call it once per page they visit.
void progress_advance(const run_output* out, int64_t page);

// Erases the line if one is shown. Every writer to standard error calls this
// first, so its message starts on a clean line.
void progress_erase(const run_output* out);

// Ends a message that was written without a line feed, so that the next
// progress line does not draw over it. Only while a meter runs: without one,
// standard error keeps the message's bytes as they are.
void progress_end_message(const run_output* out);

// Erases the line, detaches the meter and restores the signal actions.
void progress_end(run_output* out);
