// The deep mode without its recovery stage: the live rows alone, the
// benchmark's measure of what the recovery of deleted rows adds.
//
//   deep_live_only -i <db> [sarvek's --deep options]
#include "deep/deep_run.h"
#include "setup/command_line.h"
#include "setup/globals.h"

int main(int argc, char** argv) {
  globals g;
  globals_init(&g);
  parse_parameters(argc, argv, &g);
  g.deep = 1;
  g.deep_live_only = 1;
  const int status = deep_main(&g, argc, argv);
  globals_release(&g);
  return status;
}
