// The deep mode's run: reads the database as the file format defines it and
// prints every live row of every table by name.
#pragma once
#include "format/bytes.h"
#include "shared/run_options.h"
#include "shared/run_output.h"

// Runs the deep mode on opt's input with opt's options; argv is recorded in
// the export, out counts what the outputs write. Returns the exit status: 0
// when the file could be read, 1 for an input or output failure (reported),
// 2 when a blob file could not be written whole.
int deep_main(const run_options& opt, run_output* out, int argc, char** argv);

// Log files handed in as memory: a view that is non-null is read in place
// of the file the options name (the fuzzer hands in logs it made).
struct log_images {
  byte_view wal, journal;
};

// The same on an image in memory (at least one byte): the fuzzer and tests
// hand in memory of their own. The logs come from `logs` where given, else
// from the files the options name.
int deep_run_image(const run_options& opt, run_output* out, byte_view image, int argc, char** argv,
                   const log_images& logs = {});
