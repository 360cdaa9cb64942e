#include "deep/deep_run.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <ctime>
#include <string>
#include <utility>

#include "deep/deep_state.h"
#include "deep/facts_file.h"
#include "recover/free_pages.h"
#include "recover/recover_deleted.h"
#include "deep/row_status.h"
#include "live/schema_load.h"
#include "live/table_rows.h"
#include "shared/progress.h"
#include "shared/file_map.h"
#include "deep/outputs.h"
#include "deep/time_probe.h"
#include "sink/sha256.h"

namespace {

std::string utc_now() {
  const time_t now = time(nullptr);
  tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

const char* encoding_name(text_encoding encoding) {
  switch (encoding) {
    case text_encoding::utf16le: return "UTF-16le";
    case text_encoding::utf16be: return "UTF-16be";
    default: return "UTF-8";
  }
}

// Reads the header; false after an "ERROR: " line when no page size can be had.
bool read_header(deep_state* s) {
  const char* input = s->opt->input_file;
  const uint32_t forced = s->opt->page_size;
  s->header = read_db_header(s->image, forced);
  if (s->header.page_size == 0) {
    if (forced != 0)
      fprintf(stderr, "ERROR: Page size %u given for '%s' is not a power of two from 512 to 65536\n",
              forced, input);
    else
      fprintf(stderr,
              "ERROR: '%s' has no valid page size in its header; give one with --page-size=\n",
              input);
    return false;
  }
  if (!s->header.magic_ok)
    note(&s->notes, "'%s' does not begin with the SQLite 3 header; it is read as a database all the same",
         input);
  return true;
}

// A log may hold a newer page 1: its header fields (the text encoding, the
// freelist, auto-vacuum) are the current state's. The page size stays the
// one the pages are laid out with.
void reread_header(deep_state* s) {
  const page_ref first = store_page(s->store, 1);
  if (first.origin == page_origin::db || first.bytes.size() < 100) return;
  db_header current = read_db_header(first.bytes, s->header.page_size);
  if (current.page_size != s->header.page_size) return;
  s->header = current;
}

// An upper bound of the live rows of rowid tables: the cells of every page
// that reads as a table leaf (free pages' old leaves included).
uint64_t table_leaf_cells(const page_store& store) {
  uint64_t cells = 0;
  for (uint32_t n = 1; n <= store.page_count; ++n) {
    const page_ref ref = store_page(store, n);
    const size_t at = n == 1 ? 100 : 0;
    if (ref.bytes.size() > at + 4 && ref.bytes[at] == page_table_leaf)
      cells += be16_or_zero(ref.bytes, at + 3);
  }
  return cells;
}

// Walks every table of the schema (printing its rows) and every index (for
// the page map), in the schema's order.
void walk_objects(deep_state* s) {
  pending_writes pending;
  find_pending_writes(*s, &pending);
  for (const schema_object& object : s->db_schema.objects) {
    if (object.root_page == 0) continue;
    if (object.type == object_type::table && object.table >= 0) {
      table_def& table = s->db_schema.tables[object.table];
      table_rows visitor(&table, object.table, &s->emitter, &s->notes, &s->memory, &pending);
      walk_btree(&s->walk, object.root_page, table.without_rowid, object.table, table.name.c_str(),
                 &visitor);
    } else if (object.type == object_type::index) {
      s->indexes.defs.push_back(make_index_def(object, s->db_schema, s->store));
      s->walk.index_entries = true;
      s->walk.index = static_cast<int32_t>(s->indexes.defs.size() - 1);
      walk_btree(&s->walk, object.root_page, true, s->indexes.defs.back().table, object.name.c_str(), nullptr);
      s->walk.index_entries = false;
      s->walk.index = -1;
    }
  }
}

// The live state: the schema from sqlite_master, every table's rows, every
// index and the freelist for the page map. The time columns, when an output
// decodes them, are found before the first row of their table is printed
// (of the tables --table= names, when it is given).
void read_live_rows(deep_state* s, time_columns* times, table_filter* only) {
  s->db_schema.tables.push_back(sqlite_master_table());
  s->sinks.table(s->db_schema.tables[0]);
  mark_reserved_pages(&s->walk, s->header);
  load_schema(&s->walk, &s->emitter, &s->memory, &s->db_schema);
  find_table_roots(s);
  for (size_t i = 1; i < s->db_schema.tables.size(); ++i)
    if (!s->db_schema.tables[i].virtual_table) s->sinks.table(s->db_schema.tables[i]);
  std::optional<time_probe_thread> probe;
  if (times) probe.emplace(s, times, only);
  walk_objects(s);
  if (probe) probe->join();
  walk_freelist(&s->walk, s->header, &s->freelist);
}

void report_pages(deep_state* s) {
  for (uint32_t i = 0; i < s->map.size(); ++i) {
    const page_entry& entry = s->map[i];
    std::string_view owner;
    if (entry.owner >= 0 && static_cast<size_t>(entry.owner) < s->db_schema.tables.size())
      owner = s->db_schema.tables[entry.owner].name;
    s->sinks.page({i + 1, page_role_name(entry.role), owner, entry.free_bytes, entry.rows_recovered});
  }
}

// Why a frame belongs to no commit.
const char* no_commit(const wal_log& wal, const wal_frame& f) {
  if (f.commit != 0) return nullptr;
  if (f.salt1 != wal.header.salt1 || f.salt2 != wal.header.salt2) return "older generation";
  if (f.fault == wal_frame_fault::none || f.fault == wal_frame_fault::checksum ||
      f.fault == wal_frame_fault::after_break)
    return "uncommitted";
  return "invalid";
}

// The log's frames and commits (commit 0: the database file).
void report_frames(deep_state* s) {
  const wal_log& wal = s->logs.wal;
  for (const wal_frame& f : wal.frames)
    s->sinks.frame({f.index, f.offset, f.page, f.commit_size, f.salt1, f.salt2, f.valid,
                    f.used && s->logs.wal_applied, f.commit, no_commit(wal, f)});
  if (wal.frames.empty()) return;
  s->sinks.commit({0, 0, 0, 0, 0, s->logs.base.page_count});
  uint32_t first = 1;
  for (size_t k = 0; k < wal.commit_frames.size(); ++k) {
    const wal_frame& last = wal.frames[wal.commit_frames[k] - 1];
    s->sinks.commit({static_cast<uint32_t>(k + 1), first, last.index, last.salt1, last.salt2, last.commit_size});
    first = last.index + 1;
  }
}

// The database and each log read, with their SHA-256 when the export wants it.
void input_facts(const deep_state& s, bool hashes, run_facts* facts) {
  facts->files.push_back({"database", s.opt->input_file, s.image.size(),
                          hashes ? sha256_hex(s.image) : std::string()});
  for (const auto& [role, file] : {std::pair<const char*, const side_file*>{"wal", &s.logs.wal_side},
                                  {"journal", &s.logs.journal_side}})
    if (file->used())
      facts->files.push_back({role, file->path, file->size, hashes ? sha256_hex(file->bytes()) : std::string()});
}

std::string joined_arguments(int argc, char** argv) {
  std::string out;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) out.push_back(' ');
    out += argv[i];
  }
  return out;
}

// Connects the walk, the emitter and the row memory to the run's pages,
// outputs and options, once the logs are applied.
void connect_stages(deep_state* s, deep_outputs* outputs) {
  const run_options& opt = *s->opt;
  s->map.assign(s->store.page_count, page_entry{});
  s->walk.store = &s->store;
  s->walk.map = &s->map;
  s->walk.notes = &s->notes;
  s->walk.out = s->out;
  attach_outputs(outputs, s);
  s->emitter.sink = &s->sinks;
  s->emitter.encoding = s->header.encoding;
  s->emitter.removed_only = opt.removed_only != 0;
  if (!s->logs.wal_foreign) s->emitter.wal = &s->logs.wal;
  s->emitter.no_inferred = opt.no_inferred != 0;
  s->memory.remember = !opt.deep_live_only;
  expect_live(&s->memory, table_leaf_cells(s->store));
}

}  // namespace

int deep_main(const run_options& opt, run_output* out, int argc, char** argv) {
  mapped_file file{};
  if (map_input_file(opt.input_file, &file) != 0) return 1;
  const int status = deep_run_image(opt, out, byte_view(file.data, file.size), argc, argv);
  close(file.fd);
  return status;
}

int deep_run_image(const run_options& opt, run_output* out, byte_view image, int argc, char** argv,
                   const log_images& logs) {
  const std::string started = utc_now();
  deep_state s;
  s.opt = &opt;
  s.out = out;
  s.image = image;
  s.notes.out = out;
  if (!read_header(&s)) return 1;
  // The export and the output folder are refused (an existing file, a
  // folder that is not empty) before anything is read.
  deep_outputs outputs;
  if (!open_outputs(&opt, out, &outputs)) {
    abandon_outputs(&outputs);
    return 1;
  }
  s.store = make_page_store(image, s.header);
  if (!open_logs(&s, logs.wal, logs.journal)) {
    close_logs(&s.logs);
    abandon_outputs(&outputs);
    return 1;
  }
  reread_header(&s);
  connect_stages(&s, &outputs);

  progress_meter meter;
  progress_begin(out, &meter, opt.debug != 0, image.size(), s.header.page_size, 1);
  read_live_rows(&s, decodes_times(opt) ? &outputs.times : nullptr, outputs.filter.get());
  check_table_names(s, outputs);
  if (!opt.deep_live_only) recover_deleted(&s);
  report_pages(&s);
  report_frames(&s);
  progress_end(out);

  run_facts facts;
  facts.version = SARVEK_VERSION;
  input_facts(s, outputs.exported != nullptr, &facts);
  facts.encoding = encoding_name(s.header.encoding);
  facts.page_size = s.header.page_size;
  facts.options = joined_arguments(argc, argv);
  facts.started = started;
  facts.finished = utc_now();
  int sink_status = finish_outputs(&s, &outputs, facts);
  if (opt.facts_file && !write_facts_file(s, outputs.counter, opt.facts_file)) sink_status = 1;
  notes_end(&s.notes);
  close_logs(&s.logs);
  if (sink_status != 0) return 1;
  return out->blob_failures != 0 ? 2 : 0;
}
