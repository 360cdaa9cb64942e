#include "deep/outputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "sink/csv_format.h"
#include "sink/json_format.h"
#include "sink/stream_sink.h"
#include "sink/xlsx_sink.h"

bool open_outputs(const run_options* opt, run_output* counts, deep_outputs* out) {
  const bool jsonl = opt->format && strcmp(opt->format, "jsonl") == 0;
  const time_columns* times = opt->no_times ? nullptr : &out->times;
  if (opt->out_dir) {
    out->dir = std::make_unique<out_dir>();
    if (!out->dir->open(opt->out_dir)) return false;
    std::unique_ptr<table_format> format;
    if (jsonl) format = std::make_unique<json_format>(opt, times);
    else format = std::make_unique<csv_format>(opt);
    out->rows = std::make_unique<dir_sink>(out->dir.get(), std::move(format), counts);
  } else if (jsonl) {
    out->rows = std::make_unique<stream_sink>(STDOUT_FILENO, std::make_unique<json_format>(opt, times), counts);
  } else {
    out->rows = std::make_unique<csv_sink>(STDOUT_FILENO, opt, counts);
  }
  // The export after the folder, which must be empty when opened: the
  // export may be made inside it.
  if (opt->export_file && !(out->exported = sqlite_sink::open(opt->export_file))) return false;
  if (out->exported && !opt->no_times) out->exported->decode_times(&out->times);
  out->blobs = std::make_unique<blob_files>(opt, counts, out->dir ? out->dir->fd() : AT_FDCWD, out->exported != nullptr);
  if (opt->xlsx_file && !(out->workbook = xlsx_sink::open(opt->xlsx_file, opt, counts, out->blobs.get()))) return false;
  if (!opt->only_tables.empty()) out->filter = std::make_unique<table_filter>(opt->only_tables);
  return true;
}

void abandon_outputs(deep_outputs* out) {
  if (out->dir) out->dir->discard_if_empty();
}

bool decodes_times(const run_options& opt) {
  const bool jsonl = opt.format && strcmp(opt.format, "jsonl") == 0;
  return !opt.no_times && (jsonl || opt.export_file);
}

void attach_outputs(deep_outputs* out, deep_state* s) {
  s->sinks.add(out->rows.get());
  if (out->exported) s->sinks.add(out->exported.get());
  if (out->workbook) s->sinks.add(out->workbook.get());
  s->sinks.add(&out->counter);
  if (out->filter) s->sinks.only(out->filter.get());
  if (out->blobs->active()) s->sinks.write_blobs(out->blobs.get());
  s->notes.quiet = s->opt->quiet != 0;
}

void check_table_names(const deep_state& s, const deep_outputs& out) {
  if (!out.filter) return;
  std::vector<std::string_view> known, tables;
  for (const table_def& table : s.db_schema.tables) {
    known.push_back(table.name);
    tables.push_back(table.name);
  }
  for (const schema_object& object : s.db_schema.objects)
    if (object.type == object_type::index) known.push_back(object.name);
  const std::vector<std::string_view> unknown = out.filter->unknown(known);
  if (unknown.empty()) return;
  std::string line = "sarvek: no table named";
  for (size_t i = 0; i < unknown.size(); ++i) line += (i ? ", '" : " '") + std::string(unknown[i]) + "'";
  line += "; the tables are:";
  for (size_t i = 0; i < tables.size(); ++i) line += (i ? ", '" : " '") + std::string(tables[i]) + "'";
  fprintf(stderr, "%s\n", line.c_str());
}

int finish_outputs(deep_state* s, deep_outputs* out, const run_facts& facts) {
  out->counter.report(&s->sinks);
  for (const std::string& text : s->notes.kept) s->sinks.note(text);
  const int status = s->sinks.finish(facts);
  if (!s->opt->quiet) out->counter.print(stderr);
  return status;
}
