#include "batch/child_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace {

// The last "ERROR: " line of the child's standard error, else its last line.
std::string error_line(const std::string& path) {
  std::ifstream in(path);
  std::string line, last, last_error;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    last = line;
    if (line.rfind("ERROR: ", 0) == 0) last_error = line.substr(7);
  }
  return last_error.empty() ? last : last_error;
}

void read_facts(const std::string& path, child_result* out) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string key = line.substr(0, tab), value = line.substr(tab + 1);
    if (key == "note") out->notes.push_back(value);
    else out->facts[key] = value;
  }
}

// Spawns argv with standard output on /dev/null and standard error in
// `errors`; returns the wait status, or -1 with errno.
int spawn_and_wait(const std::vector<std::string>& args, const std::string& errors) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return status;
}

}  // namespace

std::vector<std::string> child_arguments(const run_options& opt, const child_job& job) {
  std::vector<std::string> args = {"sarvek", "--deep", "-i", job.input, "--out-dir=" + job.out_dir,
                                   "--wal=" + job.wal, "--journal=" + job.journal, "--quiet",
                                   "--facts=" + job.facts};
  if (opt.format) args.push_back(std::string("--format=") + opt.format);
  for (const char* table : opt.only_tables) args.push_back(std::string("--table=") + table);
  if (opt.no_times) args.push_back("--no-times");
  if (opt.no_inferred) args.push_back("--no-inferred");
  // --export=NAME: a file of that name in each output folder.
  if (opt.export_file)
    args.push_back("--export=" + job.out_dir + "/" + std::filesystem::path(opt.export_file).filename().string());
  if (opt.page_size) args.push_back("--page-size=" + std::to_string(opt.page_size));
  return args;
}

child_result run_child(const run_options& opt, const child_job& job) {
  child_result out;
  const int status = spawn_and_wait(child_arguments(opt, job), job.errors);
  read_facts(job.facts, &out);
  if (status < 0) {
    out.error = std::string("cannot start the reader ( ") + strerror(errno) + " )";
  } else if (WIFSIGNALED(status)) {
    out.error = std::string("the reader ended on signal ") + std::to_string(WTERMSIG(status)) + " (" +
                strsignal(WTERMSIG(status)) + ")";
  } else if (WEXITSTATUS(status) == 2) {
    out.error = "some blob files could not be written";
  } else if (WEXITSTATUS(status) != 0) {
    out.error = error_line(job.errors);
    if (out.error.empty()) out.error = "the reader ended with status " + std::to_string(WEXITSTATUS(status));
  } else {
    out.ok = true;
  }
  return out;
}
