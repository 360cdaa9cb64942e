#include "deep/time_probe.h"

#include <algorithm>
#include <vector>

#include "live/row_emitter.h"

namespace {

// Takes each live record of one table into a probe per time-named
// column, from the record's values directly (the rowid for the rowid
// alias, the default for a column the record ends before). The walk hands
// over local parts: a payload is gathered whole only when a value the
// probe still needs lies past it. A column no epoch can fit any more is
// passed over, and the walk ends once every column is such.
class probe_visitor final : public cell_visitor {
 public:
  probe_visitor(const table_def& table, text_encoding encoding, walk_context* walk, int32_t owner)
      : table_(table), walk_(walk), owner_(owner), probes_(table.columns.size()), dead_(table.columns.size()) {
    emitter_.encoding = encoding;
    for (size_t j = 0; j < table.storage_order.size(); ++j)
      if (time_name_suggests(table.columns[table.storage_order[j]].name)) wanted_.emplace_back(table.storage_order[j], j);
    for (const auto& [column, at] : wanted_) keep_ = std::max(keep_, at + 1);
  }
  void visit(const record_cell& c) override {
    if (!decode(c.payload.bytes, c.cell->payload_size)) return;
    if (!c.payload.complete && needs_more()) {
      const payload_view whole = gather_record(walk_, c, owner_);
      if (!decode(whole.bytes, c.cell->payload_size)) return;
    }
    for (const auto& [column, at] : wanted_)
      if (!dead_[column]) probes_[column].add(value_of(c, column, at));
    if (++rows_ % 64 == 0) settle();
  }
  const std::vector<time_probe>& probes() const { return probes_; }

 private:
  // The record's values up to the last one a probe takes (the rest of the
  // header is checked all the same).
  bool decode(byte_view available, uint64_t payload_size) {
    return parse_record_prefix(available, payload_size, emitter_.encoding, &emitter_.record, keep_);
  }
  value_view value_of(const record_cell& c, uint32_t column, size_t at) const {
    if (static_cast<int>(column) == table_.rowid_column && !table_.without_rowid)
      return integer_value(c.cell->rowid);
    if (at < emitter_.record.size()) return emitter_.record[at];
    return default_of(table_.columns[column]);
  }
  // Whether a value still needed lies past the local part.
  bool needs_more() const {
    for (const auto& [column, at] : wanted_)
      if (at < emitter_.record.size() && emitter_.record[at].kind == value_kind::unknown && !dead_[column])
        return true;
    return false;
  }
  // Marks the columns no epoch can fit any more (now and then: the test
  // costs more than a value); ends the walk when none is left open.
  void settle() {
    bool open = false;
    for (const auto& [column, at] : wanted_) {
      if (!dead_[column] && probes_[column].hopeless()) dead_[column] = 1;
      open = open || !dead_[column];
    }
    if (!open) walk_->stop = true;
  }

 private:
  static value_view default_of(const column_def& column) {
    const sql_value& d = column.default_value;
    if (d.kind == value_kind::integer) return integer_value(d.integer);
    if (d.kind == value_kind::real) return real_value(d.real);
    if (d.kind == value_kind::null) return null_value();
    value_view text;
    text.kind = value_kind::text;
    return text;
  }
  const table_def& table_;
  walk_context* walk_;
  int32_t owner_;
  row_emitter emitter_;
  std::vector<std::pair<uint32_t, size_t>> wanted_;  // column, its place in the record
  std::vector<time_probe> probes_;
  std::vector<uint8_t> dead_;  // by column: hopeless, no longer fed
  uint64_t rows_ = 0;
  size_t keep_ = 0;  // the values decoded: up to the last wanted one
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
  walk.local_payload_only = true;
  probe_visitor visitor(*table, s->header.encoding, &walk, object.table);
  walk_btree(&walk, object.root_page, table->without_rowid, object.table, table->name.c_str(), &visitor);
  std::vector<time_epoch> epochs(table->columns.size(), time_epoch::none);
  bool any = false;
  for (size_t i = 0; i < epochs.size(); ++i) {
    if (!time_name_suggests(table->columns[i].name)) continue;
    epochs[i] = visitor.probes()[i].epoch();
    any = any || epochs[i] != time_epoch::none;
  }
  if (!any) epochs.clear();
  return epochs;
}

}  // namespace

time_probe_thread::time_probe_thread(deep_state* s, time_columns* out, table_filter* only) : out_(out) {
  std::vector<std::pair<const schema_object*, table_def*>> tables;
  for (const schema_object& object : s->db_schema.objects) {
    if (object.type != object_type::table || object.table < 0 || object.root_page == 0) continue;
    table_def* table = &s->db_schema.tables[object.table];
    if (!has_time_name(*table) || (only && !only->wants(table))) continue;
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
