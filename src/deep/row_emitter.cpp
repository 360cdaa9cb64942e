#include "deep/row_emitter.h"

#include "deep/row_values.h"

void emit_row(row_emitter* emitter, const table_def* table, const row_place& place) {
  if (emitter->removed_only && place.status == row_status::live) return;
  deep_row row{};
  row.table = table;
  row.status = place.status;
  row.source = place.source;
  row.reading = place.reading;
  row.reading_note = place.reading_note;
  row.page = place.page;
  row.offset = place.offset;
  row.has_rowid = place.has_rowid;
  row.rowid = place.rowid;
  if (table) {
    table_row_values(*table, emitter->record, place.has_rowid, place.rowid, &emitter->columns);
    row.values = emitter->columns;
  } else {
    row.values = emitter->record;
  }
  emitter->sink->row(row);
}

bool decode_payload(row_emitter* emitter, byte_view available, uint64_t payload_size) {
  return parse_record_prefix(available, payload_size, emitter->encoding, &emitter->record);
}
