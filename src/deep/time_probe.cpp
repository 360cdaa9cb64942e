#include "deep/time_probe.h"

#include <vector>

#include "deep/table_rows.h"

namespace {

// Takes the live rows of one table into one probe per column.
class probe_sink final : public row_sink {
 public:
  explicit probe_sink(size_t columns) : probes_(columns) {}
  void row(const deep_row& row) override {
    if (row.status != row_status::live) return;
    for (size_t i = 0; i < row.values.size() && i < probes_.size(); ++i) probes_[i].add(row.values[i]);
  }
  int finish(const run_facts& facts) override { (void)facts; return 0; }
  const std::vector<time_probe>& probes() const { return probes_; }

 private:
  std::vector<time_probe> probes_;
};

bool has_time_name(const table_def& table) {
  for (const column_def& column : table.columns)
    if (time_name_suggests(column.name)) return true;
  return false;
}

// The epochs of the table's columns; empty when none holds times.
std::vector<time_epoch> probe_table(deep_state* s, const schema_object& object, table_def* table) {
  page_map map(s->store.page_count);
  note_log silent;
  silent.quiet = true;
  walk_context walk{};
  walk.store = &s->store;
  walk.map = &map;
  walk.notes = &silent;
  probe_sink sink(table->columns.size());
  row_emitter emitter;
  emitter.sink = &sink;
  emitter.encoding = s->header.encoding;
  row_memory memory;
  memory.remember = false;
  table_rows visitor(table, object.table, &emitter, &silent, &memory);
  walk_btree(&walk, object.root_page, table->without_rowid, object.table, table->name.c_str(), &visitor);
  std::vector<time_epoch> epochs(table->columns.size(), time_epoch::none);
  bool any = false;
  for (size_t i = 0; i < epochs.size() && i < sink.probes().size(); ++i) {
    if (!time_name_suggests(table->columns[i].name)) continue;
    epochs[i] = sink.probes()[i].epoch();
    any = any || epochs[i] != time_epoch::none;
  }
  if (!any) epochs.clear();
  return epochs;
}

}  // namespace

time_probe_thread::time_probe_thread(deep_state* s, time_columns* out) : out_(out) {
  std::vector<std::pair<const schema_object*, table_def*>> tables;
  for (const schema_object& object : s->db_schema.objects) {
    if (object.type != object_type::table || object.table < 0 || object.root_page == 0) continue;
    table_def* table = &s->db_schema.tables[object.table];
    if (!has_time_name(*table)) continue;
    out->expect(table);
    tables.emplace_back(&object, table);
  }
  if (tables.empty()) return;
  thread_ = std::thread([s, out, tables] {
    for (const auto& [object, table] : tables) out->set(table, probe_table(s, *object, table));
  });
}

void time_probe_thread::join() {
  if (thread_.joinable()) thread_.join();
  out_->done();
}
