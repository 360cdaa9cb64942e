// Standard output's flushes. A failed write or flush of standard output ends
// the run: rows that cannot be delivered must not pass for a complete run.
#pragma once
#include "setup/globals.h"

// Flushes standard output. When it or an earlier write to it failed, writes
// "ERROR: Cannot write to standard output ( <system's text> )" to standard
// error and ends the process with status 1. A closed pipe under the default
// SIGPIPE action ends the process by the signal before this is reached.
void flush_stdout(const globals* g);
