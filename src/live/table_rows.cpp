#include "live/table_rows.h"

#include <string>

void widen_unparsed(table_def* table, size_t n) {
  while (table->columns.size() < n) {
    column_def column;
    column.name = "c" + std::to_string(table->columns.size() + 1);
    table->storage_order.push_back(static_cast<uint32_t>(table->columns.size()));
    table->columns.push_back(std::move(column));
  }
}

void table_rows::visit(const record_cell& c) {
  if (!decode_payload(emitter_, c.payload.bytes, c.cell->payload_size)) {
    note(notes_, "%s: page %u: the record at offset %u is malformed; skipped",
         table_->name.c_str(), c.page->number, c.cell->offset);
    return;
  }
  if (!table_->parsed && emitter_->record.size() > table_->columns.size())
    widen_unparsed(table_, emitter_->record.size());
  const bool has_rowid = !table_->without_rowid;
  if (memory_->remember) remember(c, has_rowid);
  const row_pending pending =
      has_rowid && pending_ && pending_->any()
          ? pending_change(*pending_, c.page->number, c.cell->rowid,
                           c.page->bytes.subspan(c.cell->payload_offset, c.cell->local_size))
          : row_pending::none;
  emit_row(emitter_, table_,
           {row_status::live, live_source(*c.page), c.page->number, c.page->file_offset + c.cell->offset,
            has_rowid, has_rowid ? c.cell->rowid : 0, row_reading::cell, nullptr, pending});
}

// The row's record hash, and the primary key of a WITHOUT ROWID table's row.
void table_rows::remember(const record_cell& c, bool has_rowid) {
  remember_live(memory_, index_, has_rowid, c.cell->rowid, payload_hash(index_, c.payload.bytes),
                emitter_->record.size());
  uint64_t key = 0;
  const size_t key_values = table_->primary_key.size();
  if (!has_rowid && key_values <= emitter_->record.size() &&
      key_hash(index_, std::span(emitter_->record).first(key_values), &key))
    memory_->live_keys.insert(key);
}
