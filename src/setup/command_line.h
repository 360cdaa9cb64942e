// The command line: fills the settings of the scan context.
#pragma once
#include "setup/globals.h"

// The help text, 31 lines.
extern const char* const help_text;

// Reads the arguments into g. Returns 0 when a run is to follow; ends the
// process itself for help, version and every argument error.
int parse_parameters(int argc, char** argv, globals* g);

// A number as the long options read it: signed decimal, clamped to 32 bits.
int32_t parse_number(const char* text);
