#include "support/run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_count = err_fd >= 0 ? 2 : 1;
  if (err_fd < 0) fds[1].fd = -1;
  char buf[65536];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace

run_result run_program(const std::vector<std::string>& args,
                       const spawn_options& options) {
  run_result result;
  int out_pipe[2], err_pipe[2] = {-1, -1};
  if (pipe(out_pipe) != 0) return result;
  if (!options.merge_streams && pipe(err_pipe) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out_pipe[1], 1);
    dup2(options.merge_streams ? out_pipe[1] : err_pipe[1], 2);
    close(out_pipe[0]);
    close(out_pipe[1]);
    if (err_pipe[0] >= 0) {
      close(err_pipe[0]);
      close(err_pipe[1]);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  if (err_pipe[1] >= 0) close(err_pipe[1]);
  std::string& out = options.merge_streams ? result.merged : result.out;
  drain(out_pipe[0], err_pipe[0], out, result.err);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return result;
}

const char* sarvek_path() { return SARVEK_BIN; }

run_result run_sarvek(const std::vector<std::string>& args,
                      const spawn_options& options) {
  std::vector<std::string> full{sarvek_path()};
  full.insert(full.end(), args.begin(), args.end());
  return run_program(full, options);
}
