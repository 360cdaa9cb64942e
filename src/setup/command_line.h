// The command line: fills the run's options.
#pragma once
#include "shared/run_options.h"

// The help text, 31 lines.
extern const char* const help_text;

// Reads the arguments into opt. Returns 0 when a run is to follow; ends the
// process itself for help, version and every argument error.
int parse_parameters(int argc, char** argv, run_options* opt);

// A number as the long options read it: signed decimal, clamped to 32 bits.
int32_t parse_number(const char* text);
