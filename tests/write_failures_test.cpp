// Output that cannot be written: standard output that fails ends the run
// with one error line and status 1; blob files that cannot be written whole
// are removed and the run ends with status 2 after the last page.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

struct child_setup {
  int out_fd = -1;              // standard output (-1: a pipe read into out)
  bool ignore_sigpipe = false;
  rlim_t file_size_limit = RLIM_INFINITY;  // with SIGXFSZ ignored
  std::string cwd;
};

// Runs sarvek with the given arguments in a child prepared as asked.
run_result run_prepared(const std::vector<std::string>& args, const child_setup& setup) {
  run_result result;
  int out_pipe[2] = {-1, -1}, err_pipe[2];
  if ((setup.out_fd < 0 && pipe(out_pipe) != 0) || pipe(err_pipe) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(setup.out_fd >= 0 ? setup.out_fd : out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    signal(SIGPIPE, setup.ignore_sigpipe ? SIG_IGN : SIG_DFL);
    if (setup.file_size_limit != RLIM_INFINITY) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{setup.file_size_limit, setup.file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (!setup.cwd.empty() && chdir(setup.cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv{const_cast<char*>(sarvek_path())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(err_pipe[1]);
  if (out_pipe[1] >= 0) close(out_pipe[1]);
  char buffer[65536];
  for (int fd : {out_pipe[0], err_pipe[0]}) {
    if (fd < 0) continue;
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
      (fd == err_pipe[0] ? result.err : result.out).append(buffer, static_cast<size_t>(n));
    close(fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string make_rows_db(const scratch_dir& dir) {
  const std::string db = dir.file("rows.db");
  make_db(db,
          "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, data BLOB);"
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) "
          "INSERT INTO t SELECT i, 'row number ' || i, randomblob(i * 10) FROM n;");
  return db;
}

}  // namespace

TEST(WriteFailures, StandardOutputThatFailsEndsTheRun) {
  scratch_dir dir;
  const std::string db = make_rows_db(dir);
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, {"--fine-search"}, {"-d"}, {"--blob-size-limit=1"}}) {
    std::vector<std::string> args{"-i", db};
    args.insert(args.end(), options.begin(), options.end());
    const run_result r = run_prepared(args, {.out_fd = full, .cwd = dir.path});
    EXPECT_EQ(r.status, 1) << args.back();
    EXPECT_EQ(r.err, "ERROR: Cannot write to standard output ( No space left on device )\n") << args.back();
  }
  close(full);
  // The run ends at the first failed row: at most one blob file was written.
  EXPECT_LE(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2);

  // A reader that has gone away: the default SIGPIPE ends the run as before;
  // with SIGPIPE ignored the failed write is reported.
  for (bool ignore : {false, true}) {
    int gone[2];
    ASSERT_EQ(pipe(gone), 0);
    close(gone[0]);
    const run_result r = run_prepared({"-i", db}, {.out_fd = gone[1], .ignore_sigpipe = ignore, .cwd = dir.path});
    close(gone[1]);
    EXPECT_EQ(r.status, ignore ? 1 : 128 + SIGPIPE);
    EXPECT_EQ(r.err, ignore ? "ERROR: Cannot write to standard output ( Broken pipe )\n" : "");
  }
}

TEST(WriteFailures, ShortBlobFilesAreRemovedAndTheRunEndsWithStatusTwo) {
  scratch_dir dir;
  const std::string db = make_rows_db(dir);
  const std::vector<std::string> args{"-i", db, "--blob-size-limit=1500"};
  scratch_dir whole;
  const run_result reference = run_prepared(args, {.cwd = whole.path});
  ASSERT_EQ(reference.status, 0);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(whole.path))
    names.push_back(entry.path().filename().string());
  ASSERT_EQ(names.size(), 51u);  // the blobs of 1500 to 2000 bytes

  // Files may not grow beyond 1700 bytes: the blobs of 1710 bytes and more
  // are cut short, reported, and removed; the others are written whole.
  scratch_dir limited;
  const run_result r = run_prepared(args, {.file_size_limit = 1700, .cwd = limited.path});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, reference.out);
  std::string expected_err;
  int cut = 0;
  for (const std::string& name : names) {
    const std::vector<uint8_t> bytes = read_file(whole.file(name));
    if (bytes.size() <= 1700) {
      EXPECT_EQ(read_file(limited.file(name)), bytes) << name;
    } else {
      EXPECT_FALSE(std::filesystem::exists(limited.file(name))) << name;
      expected_err += "Wrote 1700 of " + std::to_string(bytes.size()) + " bytes to " + name + " ( Success )\n";
      ++cut;
    }
  }
  EXPECT_EQ(cut, 30);
  // The messages, one per file cut short, in any order.
  const auto sorted_lines = [](const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  const std::vector<std::string> got = sorted_lines(r.err), want = sorted_lines(expected_err);
  EXPECT_EQ(got, want);
}
