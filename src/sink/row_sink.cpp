#include "sink/row_sink.h"

const char* status_name(row_status status) {
  switch (status) {
    case row_status::live: return "live";
    case row_status::deleted: return "deleted";
    case row_status::superseded: return "superseded";
    case row_status::uncommitted: return "uncommitted";
  }
  return "?";
}

const char* source_name(row_source source) {
  switch (source) {
    case row_source::btree: return "btree";
    case row_source::freeblock: return "freeblock";
    case row_source::unallocated: return "unallocated";
    case row_source::freelist: return "freelist";
    case row_source::lost: return "lost";
    case row_source::wal: return "wal";
    case row_source::journal: return "journal";
  }
  return "?";
}

const char* reading_name(row_reading reading) {
  switch (reading) {
    case row_reading::cell: return "cell";
    case row_reading::rebuilt: return "rebuilt";
    case row_reading::inferred: return "inferred";
  }
  return "?";
}
