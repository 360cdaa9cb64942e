// The progress line: its text, when it is shown, and that it never mixes
// with anything else on standard error. Runs that show it are made under a
// pseudo-terminal.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "shared/progress.h"
#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

std::string format(uint64_t done, uint64_t total, uint64_t bytes, double elapsed, uint64_t rows) {
  char text[160];
  const size_t n = progress_format(text, sizeof text, done, total, bytes, elapsed, rows);
  return std::string(text, n);
}

TEST(Progress, LineText) {
  EXPECT_EQ(format(0, 1000, 0, 0.0, 0), "sarvek: 0% of pages, 0.0 MB/s, 0 rows, --:-- left");
  EXPECT_EQ(format(250, 1000, 25'000'000, 2.0, 1234),
            "sarvek: 25% of pages, 12.5 MB/s, 1234 rows, 0:06 left");
  EXPECT_EQ(format(1, 3601, 4096, 1.0, 7), "sarvek: 0% of pages, 0.0 MB/s, 7 rows, 1:00:00 left");
  EXPECT_EQ(format(999, 1000, 1, 1.0, 0), "sarvek: 99% of pages, 0.0 MB/s, 0 rows, 0:00 left");
  EXPECT_EQ(format(2000, 1000, 0, 1.0, 0), "sarvek: 100% of pages, 0.0 MB/s, 0 rows, 0:00 left");
  char small[12];
  EXPECT_EQ(progress_format(small, sizeof small, 1, 2, 3, 1.0, 4), 11u);
  EXPECT_STREQ(small, "sarvek: 50%");
}

TEST(Progress, ShownOnlyForLargeImagesWithRowsOffTheTerminal) {
  const uint64_t large = progress_min_size;
  EXPECT_TRUE(progress_wanted(false, large, true, false));
  EXPECT_FALSE(progress_wanted(false, large, false, false));  // standard error not a terminal
  EXPECT_FALSE(progress_wanted(false, large, true, true));    // rows go to the terminal
  EXPECT_FALSE(progress_wanted(true, large, true, false));    // -d
  EXPECT_FALSE(progress_wanted(false, large - 1, true, false));
}

enum class rows_to { file, terminal, closed_pipe };

struct terminal_run {
  int status = -1;       // exit status, or 128 + signal number
  std::string terminal;  // every byte written to the pseudo-terminal
  std::string out;       // standard output when it went to a file
};

// Runs sarvek with standard error on a raw pseudo-terminal of 100 columns
// and standard output where asked; sends it signal_on_draw (if not 0) as
// soon as the first progress line arrives.
terminal_run run_on_terminal(const std::vector<std::string>& args, rows_to where,
                             const std::string& cwd, int signal_on_draw = 0) {
  terminal_run result;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return result;
  }
  const std::string slave_name = ptsname(master);
  const std::string out_path = cwd + "/stdout.txt";
  int pipe_fds[2] = {-1, -1};
  if (where == rows_to::closed_pipe && pipe(pipe_fds) != 0) ADD_FAILURE() << "no pipe";
  if (pipe_fds[0] >= 0) close(pipe_fds[0]);  // a reader that has gone away
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int slave = open(slave_name.c_str(), O_RDWR);
    termios mode{};
    tcgetattr(slave, &mode);
    cfmakeraw(&mode);  // bytes arrive as written: no "\n" to "\r\n"
    tcsetattr(slave, TCSANOW, &mode);
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    ioctl(slave, TIOCSWINSZ, &size);
    int out = slave;
    if (where == rows_to::file) out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (where == rows_to::closed_pipe) out = pipe_fds[1];
    dup2(out, STDOUT_FILENO);
    dup2(slave, STDERR_FILENO);
    close(master);
    signal(SIGPIPE, SIG_DFL);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv{const_cast<char*>(sarvek_path())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pipe_fds[1] >= 0) close(pipe_fds[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the child and its streams are gone
    result.terminal.append(buffer, static_cast<size_t>(n));
    if (signal_on_draw != 0 && result.terminal.find("\rsarvek: ") != std::string::npos) {
      kill(pid, signal_on_draw);
      signal_on_draw = 0;
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (where == rows_to::file) {
    const std::vector<uint8_t> bytes = read_file(out_path);
    result.out.assign(bytes.begin(), bytes.end());
  }
  return result;
}

struct transcript {
  int draws = 0;
  std::string others;    // everything that is not a progress line or its erasure
  bool mixed = false;    // another byte written while a line was shown
  bool left_shown = false;
};

// Splits a terminal transcript into progress lines ("\rsarvek: ...ESC[K"),
// erasures ("\rESC[K") and everything else.
transcript read_transcript(const std::string& t) {
  static const std::string draw = "\rsarvek: ";
  static const std::string erase = "\r\033[K";
  transcript r;
  bool shown = false;
  for (size_t i = 0; i < t.size();) {
    if (t.compare(i, erase.size(), erase) == 0) {
      shown = false;
      i += erase.size();
    } else if (t.compare(i, draw.size(), draw) == 0) {
      const size_t end = t.find("\033[K", i);
      if (end == std::string::npos || t.find("% of pages, ", i) > end ||
          t.find('\n', i) < end) {
        r.others += t.substr(i);
        r.mixed = true;
        break;
      }
      r.draws += 1;
      shown = true;
      i = end + 3;
    } else {
      if (shown) r.mixed = true;
      r.others += t[i++];
    }
  }
  r.left_shown = shown;
  return r;
}

// What both modes report: the page reached, never lowered (the deep mode's
// recovery names pages out of order), and nothing without a meter.
TEST(Progress, AdvanceKeepsTheHighestPageReached) {
  run_output out{};
  progress_advance(&out, 7);  // no meter: nothing to do
  progress_meter meter{};
  meter.page = 1;
  meter.next_check = UINT64_MAX;  // no redraw in this test
  out.progress = &meter;
  const struct {
    int64_t page, reached;
  } steps[] = {{5, 5}, {3, 5}, {5, 5}, {9, 9}, {1, 9}};
  for (const auto& step : steps) {
    progress_advance(&out, step.page);
    EXPECT_EQ(meter.page, step.reached) << "after page " << step.page;
  }
}

// A database with rows and blobs, padded with zero bytes to the size from
// which progress is shown.
std::string large_db(const scratch_dir& dir) {
  const std::string db = dir.file("large.db");
  make_db(db,
          "CREATE TABLE t(a, b, c);"
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40) "
          "INSERT INTO t SELECT i, randomblob(20 + i), 'row ' || i FROM n;");
  std::filesystem::resize_file(db, progress_min_size);
  return db;
}

TEST(Progress, LineIsDrawnAndErasedAroundTheRun) {
  scratch_dir dir;
  const std::string db = large_db(dir);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-i", db}, std::vector<std::string>{"--deep", "-i", db}}) {
    SCOPED_TRACE(args[0]);
    const run_result plain = run_sarvek(args);
    ASSERT_EQ(plain.status, 0);

    const terminal_run run = run_on_terminal(args, rows_to::file, dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, plain.out);  // the rows are untouched
    const transcript t = read_transcript(run.terminal);
    EXPECT_GE(t.draws, 1) << run.terminal;
    EXPECT_EQ(t.others, plain.err);  // the deep mode's summary, after the line is erased
    EXPECT_FALSE(t.mixed);
    EXPECT_FALSE(t.left_shown) << "the line must be erased before the run ends";
    EXPECT_EQ(run.terminal.substr(0, 23), "\rsarvek: 0% of pages, 0");
  }
}

TEST(Progress, MessagesStartOnAnErasedLine) {
  scratch_dir dir;
  const std::string db = large_db(dir);
  scratch_dir blocked;  // every blob file's name taken by a folder
  for (int number = 0; number <= 60; ++number)
    std::filesystem::create_directory(blocked.file(std::to_string(number) + ".blob"));
  const std::vector<std::string> args{"-i", db, "--blob-size-limit=1"};
  spawn_options options;
  options.cwd = blocked.path;
  const run_result plain = run_sarvek(args, options);
  ASSERT_NE(plain.err, "");

  const terminal_run run = run_on_terminal(args, rows_to::file, blocked.path);
  EXPECT_EQ(run.status, 2);  // blob files missing
  EXPECT_EQ(run.out, plain.out);
  const transcript t = read_transcript(run.terminal);
  EXPECT_GE(t.draws, 1);
  EXPECT_EQ(t.others, plain.err);  // every message whole and in order
  EXPECT_FALSE(t.mixed) << run.terminal;
  EXPECT_FALSE(t.left_shown);
}

TEST(Progress, NothingChangesInOtherCombinations) {
  scratch_dir dir;
  const std::string db = large_db(dir);
  const run_result plain = run_sarvek({"-i", db});

  // Rows on the terminal too: the terminal holds exactly the rows.
  const terminal_run both = run_on_terminal({"-i", db}, rows_to::terminal, dir.path);
  EXPECT_EQ(both.status, 0);
  EXPECT_EQ(both.terminal, plain.out);

  // An image below the size limit.
  const std::string small = dir.file("small.db");
  std::filesystem::copy_file(db, small);
  std::filesystem::resize_file(small, progress_min_size - 1);
  const terminal_run below = run_on_terminal({"-i", small}, rows_to::file, dir.path);
  EXPECT_EQ(below.status, 0);
  EXPECT_EQ(below.terminal, "");
  EXPECT_EQ(below.out, plain.out);
}

TEST(Progress, LineIsErasedWhenTheReaderGoesAway) {
  scratch_dir dir;
  const std::string db = large_db(dir);
  const terminal_run run = run_on_terminal({"-i", db}, rows_to::closed_pipe, dir.path);
  EXPECT_EQ(run.status, 128 + SIGPIPE);  // ends as it would without the line
  const transcript t = read_transcript(run.terminal);
  EXPECT_EQ(t.draws, 1);
  EXPECT_EQ(t.others, "");
  EXPECT_FALSE(t.left_shown) << run.terminal;
}

TEST(Progress, LineIsErasedWhenTheRunIsTerminated) {
  // The signal must come while the walk runs: a file that takes a while.
  scratch_dir dir;
  const std::string db = large_db(dir);
  std::filesystem::resize_file(db, 16 * progress_min_size);
  for (int signal_number : {SIGTERM, SIGINT}) {
    const terminal_run run = run_on_terminal({"-i", db}, rows_to::file, dir.path, signal_number);
    if (run.status == 0) GTEST_SKIP() << "the run ended before the signal came";
    EXPECT_EQ(run.status, 128 + signal_number);  // ends as it would without the line
    const transcript t = read_transcript(run.terminal);
    EXPECT_GE(t.draws, 1);
    EXPECT_EQ(t.others, "");
    EXPECT_FALSE(t.left_shown) << run.terminal;
  }
}

}  // namespace

TEST(Progress, AFolderRunCountsFilesAndErasesItsLine) {
  scratch_dir dir;
  std::filesystem::create_directories(dir.file("ev/sub"));
  make_db(dir.file("ev/a.db"), "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
  make_db(dir.file("ev/sub/b"), "CREATE TABLE t(a); INSERT INTO t VALUES(2);");
  write_file(dir.file("ev/notes.txt"), "not a database");
  const terminal_run run =
      run_on_terminal({"--deep", "-i", dir.file("ev"), "--out-dir=" + dir.file("out"), "-j", "1"}, rows_to::file,
                      dir.path);
  EXPECT_EQ(run.status, 0) << run.terminal;
  // Each phase draws when its first file is done: hashing all three files,
  // then reading the two databases; each line is erased before the next.
  for (const char* line : {"\rsarvek: hashing, files 1/3, ", "\r\033[K\rsarvek: reading, files 1/2, "})
    EXPECT_NE(run.terminal.find(line), std::string::npos) << run.terminal;
  const std::string summary = "\r\033[Ksarvek: 3 files listed in '" + dir.file("out") + "/inventory.csv'\n";
  ASSERT_GE(run.terminal.size(), summary.size());
  EXPECT_EQ(run.terminal.substr(run.terminal.size() - summary.size()), summary) << run.terminal;
}
