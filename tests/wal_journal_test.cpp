// The write-ahead log and the rollback journal against the SQLite library:
// the committed state of a log equals what the library checkpoints from the
// same files, uncommitted and older-generation frames are told apart, journal
// records hold the pages as they were before the transaction, and damaged
// files are described, never read outside.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "format/journal.h"
#include "format/wal.h"
#include "support/config_db.h"
#include "support/sqlite_db.h"

namespace {

using bytes = std::vector<uint8_t>;
constexpr uint32_t page_size = 1024;

void put32(bytes* b, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

byte_view page_of(const bytes& db, uint32_t n) {
  return byte_view(db).subspan(uint64_t{n - 1} * page_size, page_size);
}

bool same(byte_view a, byte_view b) { return std::ranges::equal(a, b); }

int query_int(sqlite3* db, const std::string& sql, int column) {
  sqlite3_stmt* s = nullptr;
  int v = -1;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  if (sqlite3_step(s) == SQLITE_ROW) v = sqlite3_column_int(s, column);
  sqlite3_finalize(s);
  return v;
}

page_store store_of(const bytes& db) { return make_page_store(db, read_db_header(db, 0)); }

// A database of 1024-byte pages with a table and an index, rows added by
// ranges; the handle stays open so that the log or journal stays in place.
struct test_db {
  scratch_dir dir;
  std::string path = dir.file("t.db");
  sqlite3* h = open_layout_db(path, {static_cast<int>(page_size)});
  explicit test_db(const char* journal_mode) {
    run_sql(h, std::string("PRAGMA journal_mode=") + journal_mode + "; PRAGMA wal_autocheckpoint=0;"
            "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT, n INT); CREATE INDEX t_n ON t(n);");
  }
  ~test_db() { sqlite3_close(h); }
  void insert(int from, int to, const char* fill) {
    run_sql(h, "WITH RECURSIVE c(i) AS (SELECT " + std::to_string(from) + " UNION ALL SELECT i + 1 "
            "FROM c WHERE i < " + std::to_string(to) + ") INSERT INTO t SELECT i, printf('%.*c', 60 + "
            "i % 90, '" + fill + "'), i * 7 FROM c;");
  }
  bytes db() const { return read_file(path); }
  bytes wal() const { return read_file(path + "-wal"); }
  bytes journal() const { return read_file(path + "-journal"); }
};

// Recomputes the header checksum and the frames' chain in the magic's byte order.
void reseal(bytes* w) {
  if (w->size() < wal_header_size) return;
  const bool big = ((*w)[3] & 1) != 0;
  uint32_t s0 = 0, s1 = 0;
  wal_checksum(byte_view(*w).first(24), big, &s0, &s1);
  put32(w, 24, s0);
  put32(w, 28, s1);
  const uint64_t frame = wal_frame_header_size + page_size;
  for (uint64_t at = wal_header_size; at + frame <= w->size(); at += frame) {
    wal_checksum(byte_view(*w).subspan(at, 8), big, &s0, &s1);
    wal_checksum(byte_view(*w).subspan(at + 24, page_size), big, &s0, &s1);
    put32(w, at + 16, s0);
    put32(w, at + 20, s1);
  }
}

// The library's view of the two files: it opens copies, recovers the log
// (PASSIVE reports the frames it kept) and checkpoints them into the file.
// The committed state applied to a store must equal that file page by page.
void expect_library_state(const bytes& db, const bytes& wal) {
  scratch_dir d;
  write_file(d.file("c.db"), db);
  write_file(d.file("c.db-wal"), wal);
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(d.file("c.db").c_str(), &h), SQLITE_OK);
  const int frames = query_int(h, "PRAGMA wal_checkpoint(PASSIVE)", 1);
  run_sql(h, "PRAGMA wal_checkpoint(TRUNCATE)");
  sqlite3_close(h);
  const bytes checkpointed = read_file(d.file("c.db"));

  page_store store = store_of(db);
  const wal_log log = read_wal(wal, store);
  EXPECT_EQ(log.committed_frames, static_cast<uint32_t>(frames));
  EXPECT_EQ(apply_wal(log, &store), frames > 0);
  ASSERT_EQ(uint64_t{store.page_count} * page_size, checkpointed.size());
  for (uint32_t n = 1; n <= store.page_count; ++n) {
    const page_ref ref = store_page(store, n);
    ASSERT_TRUE(same(ref.bytes, page_of(checkpointed, n))) << "page " << n;
    if (ref.origin == page_origin::wal) {
      EXPECT_TRUE(same(ref.bytes, byte_view(wal).subspan(ref.file_offset, page_size)));
    }
  }
}

// A log of three transactions: inserts, updates, deletes.
void three_transactions(test_db* t) {
  t->insert(1, 300, "a");
  run_sql(t->h, "UPDATE t SET v = 'changed ' || id WHERE id % 3 = 0;");
  run_sql(t->h, "DELETE FROM t WHERE id BETWEEN 100 AND 180;");
}

TEST(Wal, CommittedStateEqualsTheLibraryCheckpointInBothByteOrders) {
  test_db t("WAL");
  three_transactions(&t);
  const bytes db = t.db(), wal = t.wal();
  const wal_log log = read_wal(wal, store_of(db));
  EXPECT_EQ(log.conditions, 0u);
  ASSERT_GT(log.frames.size(), 10u);
  EXPECT_EQ(log.valid_frames, log.frames.size());
  EXPECT_EQ(log.committed_frames, log.frames.size());
  expect_library_state(db, wal);

  bytes big = wal;
  put32(&big, 0, wal_magic_be);
  reseal(&big);
  const wal_log big_log = read_wal(big, store_of(db));
  EXPECT_TRUE(big_log.header.big_endian_checksums);
  EXPECT_EQ(big_log.conditions, 0u);
  EXPECT_EQ(big_log.committed_frames, log.committed_frames);
  expect_library_state(db, big);
}

TEST(Wal, FramesAfterTheLastCommitAreNotCommitted) {
  test_db t("WAL");
  t.insert(1, 100, "a");
  run_sql(t.h, "PRAGMA cache_size=2; BEGIN;");
  t.insert(101, 400, "b");  // spills frames without a commit frame
  const bytes db = t.db(), wal = t.wal();
  run_sql(t.h, "ROLLBACK;");
  const wal_log log = read_wal(wal, store_of(db));
  EXPECT_TRUE(log.conditions & wal_uncommitted);
  ASSERT_GT(log.valid_frames, log.committed_frames);
  // The library rewrites a page spilled twice in place, leaving the chain
  // broken after it until the commit: later frames may be invalid.
  for (uint32_t i = log.committed_frames; i < log.frames.size(); ++i)
    EXPECT_FALSE(log.frames[i].committed || log.frames[i].used) << i;
  expect_library_state(db, wal);
}

TEST(Wal, OlderGenerationFramesFailTheirSalts) {
  test_db t("WAL");
  t.insert(1, 400, "a");
  const wal_header old = read_wal(t.wal(), store_of(t.db())).header;
  run_sql(t.h, "PRAGMA wal_checkpoint;");
  run_sql(t.h, "UPDATE t SET v = 'new' WHERE id = 5;");  // restarts the log
  const bytes db = t.db(), wal = t.wal();
  const wal_log log = read_wal(wal, store_of(db));
  ASSERT_LT(log.committed_frames, log.frames.size());
  const wal_frame& first_old = log.frames[log.committed_frames];
  EXPECT_EQ(first_old.fault, wal_frame_fault::salt);
  EXPECT_EQ(first_old.salt1, old.salt1);
  EXPECT_EQ(first_old.salt2, old.salt2);
  EXPECT_EQ(log.frames.back().fault, wal_frame_fault::after_break);
  EXPECT_TRUE(log.conditions & wal_chain_broken);
  expect_library_state(db, wal);
}

struct wal_damage {
  const char* name;
  std::function<void(bytes*, uint64_t frame_at, uint64_t last_at)> damage;
  uint32_t expect;       // conditions that must be reported
  bool library_reads;    // the library opens the result: compare committed states
};

TEST(Wal, DamagedLogsAreDescribedAndNeverReadOutside) {
  test_db t("WAL");
  three_transactions(&t);
  const bytes db = t.db(), wal = t.wal();
  const wal_log base = read_wal(wal, store_of(db));
  ASSERT_FALSE(base.frames.empty());
  // A frame in the middle of the second transaction, and the last frame.
  uint32_t first_commit = 0;
  while (base.frames[first_commit].commit_size == 0) ++first_commit;
  const uint64_t mid = base.frames[first_commit + 2].offset, last = base.frames.back().offset;
  const wal_damage cases[] = {
      {"cut in mid-frame", [](bytes* w, uint64_t f, uint64_t) { w->resize(f + 500); },
       wal_truncated_frame, true},
      {"stored checksum flipped", [](bytes* w, uint64_t f, uint64_t) { (*w)[f + 17] ^= 1; },
       wal_chain_broken, true},
      {"image byte flipped", [](bytes* w, uint64_t f, uint64_t) { (*w)[f + 300] ^= 0x80; },
       wal_chain_broken, true},
      {"salt differs", [](bytes* w, uint64_t f, uint64_t) { (*w)[f + 11] ^= 1; }, wal_chain_broken, true},
      {"page 0", [](bytes* w, uint64_t f, uint64_t) { put32(w, f, 0); reseal(w); }, wal_chain_broken, true},
      {"huge page and size", [](bytes* w, uint64_t, uint64_t l) {
         put32(w, l, 0xFFFFFFF0); put32(w, l + 4, 0xFFFFFFF0); reseal(w); },
       wal_page_out_of_range, false},
      {"huge committed size", [](bytes* w, uint64_t, uint64_t l) { put32(w, l + 4, 0x7FFFFFFF); reseal(w); },
       wal_page_out_of_range, false},
      {"header page size 512", [](bytes* w, uint64_t, uint64_t) { put32(w, 8, 512); reseal(w); },
       wal_page_size_differs, false},
      {"header page size 1000", [](bytes* w, uint64_t, uint64_t) { put32(w, 8, 1000); reseal(w); },
       wal_bad_page_size, true},
      {"header checksum", [](bytes* w, uint64_t, uint64_t) { (*w)[25] ^= 4; }, wal_bad_header_checksum, true},
      {"magic", [](bytes* w, uint64_t, uint64_t) { (*w)[1] = 0; }, wal_bad_magic, true},
      {"version", [](bytes* w, uint64_t, uint64_t) { put32(w, 4, 3007001); reseal(w); }, wal_bad_version, false},
      {"0 bytes", [](bytes* w, uint64_t, uint64_t) { w->clear(); }, wal_empty, true},
      {"10 bytes", [](bytes* w, uint64_t, uint64_t) { w->resize(10); }, wal_empty, true},
  };
  for (const wal_damage& c : cases) {
    SCOPED_TRACE(c.name);
    bytes damaged = wal;
    c.damage(&damaged, mid, last);
    const bytes exact(damaged.begin(), damaged.end());  // no slack for a stray read
    page_store store = store_of(db);
    const wal_log log = read_wal(exact, store);
    EXPECT_EQ(log.conditions & c.expect, c.expect) << log.conditions;
    EXPECT_LE(log.committed_frames, log.valid_frames);
    for (const wal_frame& f : log.frames)
      EXPECT_EQ(f.image.data(), exact.data() + f.offset + wal_frame_header_size);
    if (apply_wal(log, &store)) {
      EXPECT_LE(store.overlay.size(), wal_page_limit(db, exact));
      for (uint32_t n = 1; n <= store.overlay.size(); ++n) (void)store_page(store, n);
    }
    if (c.library_reads) expect_library_state(db, exact);
  }
}

// Journals: the pages before an update of every row, kept in snapshot.
struct journal_case {
  const char* name;
  const char* mode;
  int cache_size;        // 2 spills the transaction: synced segments, database written
  bool committed;        // copied after COMMIT rather than inside the transaction
  uint32_t expect;       // conditions that must be reported
};

TEST(Journal, RecordsHoldThePagesAsTheyWereBeforeTheTransaction) {
  const journal_case cases[] = {
      {"hot, spilled", "DELETE", 2, false, 0},
      {"open, not synced", "DELETE", 2000, false, journal_unsynced_header},
      {"persist, committed", "PERSIST", 2000, true, journal_zeroed_header},
  };
  for (const journal_case& c : cases) {
    SCOPED_TRACE(c.name);
    test_db t(c.mode);
    t.insert(1, 600, "a");
    const bytes before = t.db();
    run_sql(t.h, "PRAGMA cache_size=" + std::to_string(c.cache_size) + "; BEGIN;"
            "UPDATE t SET v = 'x' || v, n = -n;");
    if (c.committed) run_sql(t.h, "COMMIT;");
    const bytes db = t.db(), journal = t.journal();
    if (!c.committed) run_sql(t.h, "ROLLBACK;");

    const journal_file jf = read_journal(journal, page_size, UINT32_MAX);
    EXPECT_EQ(jf.conditions, c.expect);
    EXPECT_EQ(jf.sector_size, 512u);
    ASSERT_FALSE(jf.records.empty());
    std::vector<bool> journaled(before.size() / page_size + 1);
    for (const journal_record& r : jf.records) {
      EXPECT_TRUE(r.checksum_ok);
      ASSERT_LE(r.page, before.size() / page_size);
      EXPECT_TRUE(same(r.image, page_of(before, r.page))) << "page " << r.page;
      journaled[r.page] = true;
    }
    // Every page the transaction changed in the file can be rolled back.
    for (uint32_t n = 1; n <= std::min(before.size(), db.size()) / page_size; ++n)
      EXPECT_TRUE(journaled[n] || same(page_of(db, n), page_of(before, n))) << "page " << n;
    if (c.cache_size == 2) {
      EXPECT_GT(jf.segments.size(), 1u);
    }

    if (std::string(c.name) == "hot, spilled") {  // the library rolls the copies back
      scratch_dir d;
      write_file(d.file("c.db"), db);
      write_file(d.file("c.db-journal"), journal);
      sqlite3* h = nullptr;
      ASSERT_EQ(sqlite3_open(d.file("c.db").c_str(), &h), SQLITE_OK);
      EXPECT_EQ(query_int(h, "SELECT count(*) FROM t", 0), 600);
      sqlite3_close(h);
      EXPECT_EQ(read_file(d.file("c.db")), before);
    }
  }
}

struct journal_damage {
  const char* name;
  bool persisted;         // starts from the persist-mode journal (zeroed header, one segment)
  std::function<void(bytes*)> damage;
  uint32_t db_page_size;
  uint32_t expect;
  bool records_verified;  // records are still found, their checksums holding
};

TEST(Journal, DamagedJournalsAreDescribedAndNeverReadOutside) {
  test_db t("PERSIST");
  t.insert(1, 600, "a");
  run_sql(t.h, "UPDATE t SET v = 'y' || v;");
  const bytes persisted = t.journal();
  run_sql(t.h, "PRAGMA cache_size=2; BEGIN; UPDATE t SET v = 'x' || v;");
  const bytes spilled = t.journal();  // synced segments of one record each
  run_sql(t.h, "ROLLBACK;");
  const uint64_t record = page_size + 8;
  const uint64_t second_header = read_journal(spilled, page_size, UINT32_MAX).segments.at(1).offset;
  auto zero_header = [](bytes* j) { std::fill_n(j->begin(), 28, 0); };
  const journal_damage cases[] = {
      {"as written", false, [](bytes*) {}, page_size, 0, true},
      {"cut in mid-record", false, [&](bytes* j) { j->resize(512 + record / 2); }, page_size,
       journal_truncated | journal_count_exceeds_records, false},
      {"magic", false, [](bytes* j) { (*j)[0] = 0x11; }, page_size, journal_bad_magic, false},
      {"absurd count", false, [](bytes* j) { put32(j, 8, 0x7FFFFFFF); }, page_size,
       journal_count_exceeds_records, true},
      {"sector size 0", false, [](bytes* j) { put32(j, 20, 0); }, page_size, journal_bad_sector_size, true},
      {"sector size huge", false, [](bytes* j) { put32(j, 20, 1u << 30); }, page_size,
       journal_bad_sector_size, true},
      {"page size 0", false, [](bytes* j) { put32(j, 24, 0); }, page_size, journal_bad_page_size, true},
      {"page size differs", false, [](bytes* j) { put32(j, 24, 512); }, page_size,
       journal_page_size_differs | journal_bad_checksum, false},
      {"stale second header", false, [&](bytes* j) { (*j)[second_header] = 0; }, page_size,
       journal_stale_segment, true},
      {"spilled, then zeroed", false, zero_header, page_size, journal_zeroed_header, false},
      {"zeroed", true, [](bytes*) {}, page_size, journal_zeroed_header, true},
      {"zeroed, page size unknown", true, [](bytes*) {}, 0, journal_zeroed_header, true},
      {"zeroed, 4096-byte sectors", true, [](bytes* j) { j->insert(j->begin(), 4096 - 512, 0); },
       page_size, journal_zeroed_header, true},
      {"zeroed, one record", true, [&](bytes* j) { j->resize(512 + record); }, page_size,
       journal_zeroed_header | journal_unverified, false},
      {"0 bytes", false, [](bytes* j) { j->clear(); }, page_size, journal_empty, false},
      {"10 bytes", false, [](bytes* j) { j->resize(10); }, page_size, journal_empty, false},
      {"all zero", false, [](bytes* j) { std::fill(j->begin(), j->end(), 0); }, page_size,
       journal_zeroed_header | journal_unverified, false},
  };
  for (const journal_damage& c : cases) {
    SCOPED_TRACE(c.name);
    bytes damaged = c.persisted ? persisted : spilled;
    c.damage(&damaged);
    const bytes exact(damaged.begin(), damaged.end());  // no slack for a stray read
    const journal_file jf = read_journal(exact, c.db_page_size, UINT32_MAX);
    EXPECT_EQ(jf.conditions & c.expect, c.expect) << jf.conditions;
    for (const journal_record& r : jf.records) {
      EXPECT_EQ(r.image.data(), exact.data() + r.offset);
      EXPECT_EQ(r.image.size(), jf.page_size);
    }
    EXPECT_EQ(jf.tail.data() + jf.tail.size(), exact.data() + exact.size());
    if (c.records_verified) {
      ASSERT_GT(jf.records.size(), 2u);
      EXPECT_EQ(jf.page_size, page_size);
      EXPECT_TRUE(std::ranges::all_of(jf.records, &journal_record::checksum_ok));
    }
  }
}

}  // namespace
