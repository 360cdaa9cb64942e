// Runs a program and reports its memory as it exits:
//
//   peak_rss <report file> <program> [arguments...]
//
// The program runs under ptrace with an exit stop: when it stops there, its
// address space is still intact, and /proc/<pid>/status gives the peak
// resident size (VmHWM) and the final split of the resident pages into
// file-backed ones (RssFile: the touched pages of the mapped database) and
// anonymous ones (RssAnon: heap, stack, stdio buffers). A thread samples
// RssAnon every millisecond while the program runs, which catches the peak of
// a short-lived allocation such as a large row's assembly buffer. The report
// is one line of key=value pairs in kB; the exit status is the program's.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

struct Memory {
  long hwm = -1, rss = -1, anon = -1, file = -1, shmem = -1;
};

bool read_status(pid_t pid, Memory* m) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  FILE* f = fopen(path, "r");
  if (!f) return false;
  char line[256];
  while (fgets(line, sizeof line, f)) {
    long value = 0;
    if (sscanf(line, "VmHWM: %ld", &value) == 1) m->hwm = value;
    else if (sscanf(line, "VmRSS: %ld", &value) == 1) m->rss = value;
    else if (sscanf(line, "RssAnon: %ld", &value) == 1) m->anon = value;
    else if (sscanf(line, "RssFile: %ld", &value) == 1) m->file = value;
    else if (sscanf(line, "RssShmem: %ld", &value) == 1) m->shmem = value;
  }
  fclose(f);
  return m->rss >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: peak_rss <report file> <program> [arguments...]\n");
    return 2;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    perror("fork");
    return 2;
  }
  if (pid == 0) {
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    raise(SIGSTOP);
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);  // the child's own SIGSTOP
  ptrace(PTRACE_SETOPTIONS, pid, nullptr,
         reinterpret_cast<void*>(static_cast<long>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL)));
  ptrace(PTRACE_CONT, pid, nullptr, nullptr);

  std::atomic<bool> done{false};
  std::atomic<long> max_anon{0};
  std::atomic<long> samples{0};
  std::thread sampler([&] {
    while (!done.load()) {
      Memory m;
      if (read_status(pid, &m) && m.anon > max_anon.load()) max_anon.store(m.anon);
      samples.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  Memory at_exit;
  bool exec_seen = false;
  for (;;) {
    if (waitpid(pid, &status, 0) < 0) break;
    if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    if (!WIFSTOPPED(status)) continue;
    long deliver = 0;
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      read_status(pid, &at_exit);
    } else if (WSTOPSIG(status) == SIGTRAP && !exec_seen) {
      exec_seen = true;  // the stop that follows a successful execve
    } else {
      deliver = WSTOPSIG(status);
    }
    ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(deliver));
  }
  done.store(true);
  sampler.join();
  if (at_exit.anon > max_anon.load()) max_anon.store(at_exit.anon);

  FILE* report = fopen(argv[1], "w");
  if (!report) {
    perror(argv[1]);
    return 2;
  }
  fprintf(report,
          "VmHWM=%ld VmRSS=%ld RssAnon=%ld RssFile=%ld RssShmem=%ld MaxRssAnon=%ld samples=%ld\n",
          at_exit.hwm, at_exit.rss, at_exit.anon, at_exit.file, at_exit.shmem, max_anon.load(),
          samples.load());
  fclose(report);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
