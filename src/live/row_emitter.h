// Turns records into rows for the sinks: decodes the record, puts its values
// in column order and hands the row on. One emitter serves a whole run; its
// value buffers are reused from row to row.
#pragma once
#include <cstdint>
#include <vector>

#include "format/record.h"
#include "format/wal.h"
#include "sink/row_sink.h"

struct row_place {
  row_status status;
  row_source source;
  uint32_t page;
  uint64_t offset;
  bool has_rowid;
  int64_t rowid;
  row_reading reading = row_reading::cell;
  const char* reading_note = nullptr;  // the assumption of an inferred reading
  row_pending pending = row_pending::none;
};

struct row_emitter {
  row_sink* sink = nullptr;
  text_encoding encoding = text_encoding::utf8;
  bool removed_only = false;         // --removed-only: live rows are not printed
  bool no_inferred = false;          // --no-inferred: inferred rows are not printed
  const wal_log* wal = nullptr;      // the log whose frames are numbered by commit, if any
  std::vector<value_view> record;    // the record's values, reused
  std::vector<value_view> columns;   // in column order, reused
};

// Emits one row of `table` (null: a record that fits no table) from the
// values in emitter->record.
void emit_row(row_emitter* emitter, const table_def* table, const row_place& place);

// Decodes the payload (payload_size bytes in all, of which `available`
// could be gathered) into emitter->record; false when it is not a record.
bool decode_payload(row_emitter* emitter, byte_view available, uint64_t payload_size);
