#include "format/log_fit.h"

#include <cstring>

namespace {

constexpr uint8_t mode_rollback = 1, mode_wal = 2;

// Header fields that stay as they are once a database holds a schema:
// name, offset, width.
struct fixed_field {
  const char* name;
  uint32_t offset, width;
};
constexpr fixed_field fixed_fields[] = {
    {"file signature", 0, 16}, {"page size", 16, 2},        {"reserved bytes", 20, 1},
    {"schema format", 44, 4},  {"text encoding", 56, 4},    {"application id", 68, 4},
};

bool same_bytes(byte_view a, byte_view b, uint32_t offset, uint32_t width) {
  return a.size() >= offset + width && b.size() >= offset + width &&
         memcmp(a.data() + offset, b.data() + offset, width) == 0;
}

// The first fixed field in which the log's page 1 differs from the database's.
const char* differing_field(byte_view db, byte_view page1) {
  for (const fixed_field& f : fixed_fields) {
    // A database without a schema may still change its format and encoding.
    if ((f.offset == 44 || f.offset == 56) && be32_or_zero(db, 44) == 0) continue;
    if (!same_bytes(db, page1, f.offset, f.width)) return f.name;
  }
  return nullptr;
}

// The journal mode the database's header records: 1, 2, or 0 when it says neither.
uint8_t recorded_mode(byte_view db) {
  if (db.size() < 20 || db[18] != db[19] || (db[18] != mode_rollback && db[18] != mode_wal)) return 0;
  return db[18];
}

std::string counter_text(uint32_t log, uint32_t db) {
  return " (change counter " + std::to_string(log) + ", the database's " + std::to_string(db) + ")";
}

// The log's newest image of page 1 in the write-ahead log: valid frames first.
byte_view newest_page1(const wal_log& log) {
  byte_view found;
  for (uint32_t i = 0; i < log.valid_frames; ++i)
    if (log.frames[i].page == 1) found = log.frames[i].image;
  return found;
}

}  // namespace

bool wal_fits(byte_view db, const wal_log& log, std::string* why) {
  const uint8_t mode = recorded_mode(db);
  if (mode == mode_rollback) {
    *why = "the database's header records the rollback-journal mode";
    return false;
  }
  const byte_view page1 = newest_page1(log);
  if (page1.size() < 100) return true;
  if (const char* field = differing_field(db, page1)) {
    *why = std::string("its image of page 1 has another ") + field;
    return false;
  }
  const uint32_t ours = be32_or_zero(page1, 24), theirs = be32_or_zero(db, 24);
  if (ours < theirs) {
    *why = "its image of page 1 is older than the database's" + counter_text(ours, theirs);
    return false;
  }
  return true;
}

bool journal_fits(byte_view db, const journal_file& journal, bool hot, std::string* why) {
  if (recorded_mode(db) == mode_wal) {
    *why = "the database's header records the write-ahead-log mode";
    return false;
  }
  for (const journal_record& r : journal.records) {
    if (r.page != 1 || r.image.size() < 100) continue;
    if (const char* field = differing_field(db, r.image)) {
      *why = std::string("its image of page 1 has another ") + field;
      return false;
    }
    // A journal holds pages as they were before a transaction: its page 1
    // is never newer than the database's, and a hot journal's is at most
    // one commit older.
    const uint32_t ours = be32_or_zero(r.image, 24), theirs = be32_or_zero(db, 24);
    if (ours > theirs || (hot && theirs - ours > 1)) {
      *why = std::string("its image of page 1 is ") + (ours > theirs ? "newer" : "more than one commit older") +
             " than the database's" + counter_text(ours, theirs);
      return false;
    }
    return true;
  }
  return true;
}
