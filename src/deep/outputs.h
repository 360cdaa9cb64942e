// The deep mode's outputs, as the options choose them: the CSV stream on
// standard output or one file per table (--out-dir=, --format=), the
// export database (--export=), the workbook (--xlsx=), and what every run adds: the count of rows
// by table (the summary on standard error) and the --table= filter.
#pragma once
#include <memory>

#include "deep/deep_state.h"
#include "sink/csv_sink.h"
#include "sink/dir_sink.h"
#include "sink/row_counter.h"
#include "sink/sqlite_sink.h"
#include "sink/table_filter.h"
#include "sink/time_columns.h"
#include "sink/xlsx_sink.h"

struct deep_outputs {
  std::unique_ptr<sqlite_sink> exported;
  std::unique_ptr<out_dir> dir;
  std::unique_ptr<row_sink> rows;  // the CSV stream, or --out-dir's files
  std::unique_ptr<table_filter> filter;
  row_counter counter;
  time_columns times;  // filled before the live rows are read
  std::unique_ptr<blob_files> blobs;
  std::unique_ptr<xlsx_sink> workbook;  // after blobs: it saves cut cells through them
};

// Creates the files the options name, refusing existing ones, before
// anything is read; false after an "ERROR: " line.
bool open_outputs(const run_options* opt, run_output* counts, deep_outputs* out);

// Undoes what open_outputs made when the run stops before reading: a
// folder it created that is still empty.
void abandon_outputs(deep_outputs* out);

// True when an output decodes times: JSON Lines and the export, unless
// --no-times.
bool decodes_times(const run_options& opt);

// Hands the outputs to the run's sinks.
void attach_outputs(deep_outputs* out, deep_state* s);

// After the schema is read: one note naming the tables, when a --table=
// name is none of them (nor an index).
void check_table_names(const deep_state& s, const deep_outputs& out);

// Ends every output: the counts and the notes, then each sink's finish;
// then the summary on standard error (unless --quiet). Returns the sinks'
// status (0, or 1 after a reported failure).
int finish_outputs(deep_state* s, deep_outputs* out, const run_facts& facts);
