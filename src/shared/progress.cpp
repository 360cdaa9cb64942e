#include "shared/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iterator>

namespace {

constexpr char erase_sequence[] = "\r\033[K";

// Whether a line is on the terminal now. File-wide, because the signal
// handler that erases it cannot reach the run's state.
volatile sig_atomic_t line_shown = 0;

constexpr int erasing_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
struct sigaction saved_actions[std::size(erasing_signals)];
bool handlers_installed = false;

int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// Erases the line, then lets the signal do what it would have done.
void erase_and_reraise(int sig) {
  if (line_shown) {
    const ssize_t ignored = write(STDERR_FILENO, erase_sequence, sizeof erase_sequence - 1);
    (void)ignored;
    line_shown = 0;
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

// Installs the erasing handler for the signals whose action is the default
// one; a signal the caller ignores or handles keeps its action.
void install_handlers() {
  struct sigaction action {};
  action.sa_handler = erase_and_reraise;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(erasing_signals); ++i) {
    sigaction(erasing_signals[i], nullptr, &saved_actions[i]);
    if (saved_actions[i].sa_handler == SIG_DFL) sigaction(erasing_signals[i], &action, nullptr);
  }
  handlers_installed = true;
}

void restore_handlers() {
  if (!handlers_installed) return;
  for (size_t i = 0; i < std::size(erasing_signals); ++i)
    sigaction(erasing_signals[i], &saved_actions[i], nullptr);
  handlers_installed = false;
}

uint32_t terminal_columns() {
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) return ws.ws_col;
  return 80;
}

// "m:ss", or "h:mm:ss" from one hour; "--:--" while no estimate exists.
void format_duration(char* out, size_t size, double seconds) {
  if (!(seconds >= 0) || seconds > 1e8) {
    snprintf(out, size, "--:--");
    return;
  }
  const uint64_t s = static_cast<uint64_t>(seconds + 0.5);
  if (s >= 3600)
    snprintf(out, size, "%" PRIu64 ":%02u:%02u", s / 3600, static_cast<unsigned>(s / 60 % 60),
             static_cast<unsigned>(s % 60));
  else
    snprintf(out, size, "%u:%02u", static_cast<unsigned>(s / 60), static_cast<unsigned>(s % 60));
}

void draw(progress_meter* meter, int64_t now) {
  const uint64_t done =
      std::min<uint64_t>(static_cast<uint64_t>(meter->page - 1), meter->total_pages);
  const uint64_t bytes = std::min<uint64_t>(done * meter->page_size, meter->image_size);
  char text[160];
  size_t length = progress_format(text, sizeof text, done, meter->total_pages, bytes,
                                  static_cast<double>(now - meter->start_ns) / 1e9,
                                  meter->out->rows_printed);
  length = std::min<size_t>(length, meter->columns - 1);  // a wrapped line cannot be erased
  char line[sizeof text + 8];
  const int n = snprintf(line, sizeof line, "\r%.*s\033[K", static_cast<int>(length), text);
  // Marked shown before it is written: a signal that comes just after the
  // write must find it to erase (erasing a line not yet written is harmless).
  line_shown = 1;
  fwrite(line, 1, static_cast<size_t>(n), stderr);
  fflush(stderr);
  meter->next_draw_ns = now + progress_interval_ns;
}

}  // namespace

bool progress_wanted(bool debug, uint64_t image_size, bool stderr_is_tty, bool stdout_is_tty) {
  return stderr_is_tty && !stdout_is_tty && !debug && image_size >= progress_min_size;
}

size_t progress_format(char* out, size_t size, uint64_t pages_done, uint64_t total_pages,
                       uint64_t bytes_done, double elapsed_s, uint64_t rows) {
  const uint64_t total = std::max<uint64_t>(total_pages, 1);
  const unsigned percent = static_cast<unsigned>(std::min<uint64_t>(pages_done, total) * 100 / total);
  const double rate = elapsed_s > 0 ? static_cast<double>(bytes_done) / 1e6 / elapsed_s : 0.0;
  const double left = pages_done > 0 && elapsed_s > 0
                          ? elapsed_s * static_cast<double>(total - std::min(pages_done, total)) /
                                static_cast<double>(pages_done)
                          : -1.0;
  char left_text[32];
  format_duration(left_text, sizeof left_text, left);
  const int n = snprintf(out, size, "sarvek: %u%% of pages, %.1f MB/s, %" PRIu64 " rows, %s left",
                         percent, rate, rows, left_text);
  if (n < 0) return 0;
  return std::min<size_t>(static_cast<size_t>(n), size - 1);
}

void progress_begin(run_output* out, progress_meter* meter, bool debug, uint64_t image_size,
                    uint32_t page_size, int64_t first) {
  if (!progress_wanted(debug, image_size, isatty(STDERR_FILENO) == 1, isatty(STDOUT_FILENO) == 1))
    return;
  *meter = progress_meter{};
  const uint64_t walked = image_size > 1 ? image_size - 1 : 0;  // the walk's last start offset
  meter->total_pages = (walked + page_size - 1) / page_size;
  meter->check_every = std::max<uint64_t>(1, (uint64_t{1} << 20) / page_size);
  meter->columns = terminal_columns();
  meter->start_ns = now_ns();
  meter->image_size = image_size;
  meter->page_size = page_size;
  meter->page = first;
  meter->out = out;
  out->progress = meter;
  install_handlers();
  draw(meter, meter->start_ns);
  meter->next_check = static_cast<uint64_t>(first) + meter->check_every;
}

void progress_advance(const run_output* out, int64_t page) {
  progress_meter* meter = out->progress;
  if (!meter) return;
  meter->page = std::max(meter->page, page);
  if (static_cast<uint64_t>(meter->page) < meter->next_check) return;
  meter->next_check = static_cast<uint64_t>(meter->page) + meter->check_every;
  const int64_t now = now_ns();
  if (now >= meter->next_draw_ns) draw(meter, now);
}

void progress_erase(const run_output* out) {
  if (!out->progress || !line_shown) return;
  fwrite(erase_sequence, 1, sizeof erase_sequence - 1, stderr);
  fflush(stderr);
  line_shown = 0;
}

void progress_end_message(const run_output* out) {
  if (!out->progress) return;
  fputc('\n', stderr);
  fflush(stderr);
}

void progress_end(run_output* out) {
  if (!out->progress) return;
  progress_erase(out);
  restore_handlers();
  out->progress = nullptr;
}
