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

bool open_outputs(globals* g, deep_outputs* out) {
  const bool jsonl = g->format && strcmp(g->format, "jsonl") == 0;
  const time_columns* times = g->no_times ? nullptr : &out->times;
  if (g->out_dir) {
    out->dir = std::make_unique<out_dir>();
    if (!out->dir->open(g->out_dir)) return false;
    std::unique_ptr<table_format> format;
    if (jsonl) format = std::make_unique<json_format>(g, times);
    else format = std::make_unique<csv_format>(g);
    out->rows = std::make_unique<dir_sink>(out->dir.get(), std::move(format), g);
  } else if (jsonl) {
    out->rows = std::make_unique<stream_sink>(STDOUT_FILENO, std::make_unique<json_format>(g, times), g);
  } else {
    out->rows = std::make_unique<csv_sink>(STDOUT_FILENO, g);
  }
  // The export after the folder, which must be empty when opened: the
  // export may be made inside it.
  if (g->export_file && !(out->exported = sqlite_sink::open(g->export_file))) return false;
  if (out->exported && !g->no_times) out->exported->decode_times(&out->times);
  out->blobs = std::make_unique<blob_files>(g, out->dir ? out->dir->fd() : AT_FDCWD, out->exported != nullptr);
  if (g->xlsx_file && !(out->workbook = xlsx_sink::open(g->xlsx_file, g, out->blobs.get()))) return false;
  if (!g->only_tables.empty()) out->filter = std::make_unique<table_filter>(g->only_tables);
  return true;
}

bool decodes_times(const globals& g) {
  const bool jsonl = g.format && strcmp(g.format, "jsonl") == 0;
  return !g.no_times && (jsonl || g.export_file);
}

void attach_outputs(deep_outputs* out, deep_state* s) {
  s->sinks.add(out->rows.get());
  if (out->exported) s->sinks.add(out->exported.get());
  if (out->workbook) s->sinks.add(out->workbook.get());
  s->sinks.add(&out->counter);
  if (out->filter) s->sinks.only(out->filter.get());
  if (out->blobs->active()) s->sinks.write_blobs(out->blobs.get());
  s->notes.quiet = s->g->quiet != 0;
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
  if (!s->g->quiet) out->counter.print(stderr);
  return status;
}
