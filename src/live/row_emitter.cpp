#include "live/row_emitter.h"

#include "live/row_values.h"

namespace {

// The commit of the frame at `offset` of the log, 0 for the database
// file, -1 for none.
int64_t commit_of(const row_emitter& emitter, row_source source, uint64_t offset) {
  if (source == row_source::journal) return -1;
  if (source != row_source::wal) return 0;
  const wal_log* wal = emitter.wal;
  if (!wal || wal->frame_page_size == 0 || offset < wal_header_size) return -1;
  const uint64_t index = (offset - wal_header_size) / (uint64_t{wal_frame_header_size} + wal->frame_page_size);
  if (index >= wal->frames.size() || wal->frames[index].commit == 0) return -1;
  return wal->frames[index].commit;
}

}  // namespace

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
  row.commit = commit_of(*emitter, place.source, place.offset);
  row.pending = place.pending;
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
