// The deep mode without its recovery stage: the live rows alone, the
// benchmark's measure of what the recovery of deleted rows adds.
//
//   deep_live_only -i <db> [sarvek's --deep options]
#include "deep/deep_run.h"
#include "setup/command_line.h"
#include "shared/run_options.h"
#include "shared/run_output.h"

int main(int argc, char** argv) {
  run_options options;
  run_options_init(&options);
  parse_parameters(argc, argv, &options);
  options.deep = 1;
  options.deep_live_only = 1;
  run_output out{};
  return deep_main(options, &out, argc, argv);
}
