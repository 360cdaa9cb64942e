// Runs the built sarvek binary as a child process.
#pragma once
#include <string>
#include <vector>

struct run_result {
  int status = -1;     // exit status, or 128 + signal number
  std::string out;     // standard output
  std::string err;     // standard error
  std::string merged;  // both streams through one pipe (when asked for)
};

struct spawn_options {
  std::string cwd;             // working directory of the child ("" = inherit)
  bool merge_streams = false;  // stdout and stderr on one pipe -> merged
};

// Runs sarvek with the given arguments (argv[0] is the binary's path).
run_result run_sarvek(const std::vector<std::string>& args,
                      const spawn_options& options = {});

// Runs any program with its argv (args[0] is the program, looked up in PATH).
run_result run_program(const std::vector<std::string>& args,
                       const spawn_options& options = {});

// The path of the sarvek binary under test.
const char* sarvek_path();
