// Writes the fuzzer's seed inputs into the folder named by its argument:
// small databases made by SQLite (live rows, deleted rows left in
// freeblocks and on free pages, overflow rows; page sizes 512, 1024, 4096
// and 65536), each behind several option prefixes (see fuzz_options.h);
// and databases with their write-ahead logs and rollback journals.
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool run(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  fprintf(stderr, "SQLite: %s\n", message ? message : "?");
  sqlite3_free(message);
  return false;
}

std::vector<char> make_database(const std::string& path, int page_size, const std::string& sql) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) exit(1);
  const bool ok = run(db, "PRAGMA secure_delete=OFF; PRAGMA journal_mode=DELETE; "
                          "PRAGMA auto_vacuum=NONE; PRAGMA page_size=" +
                              std::to_string(page_size) + ";") &&
                  run(db, sql);
  sqlite3_close(db);
  if (!ok) exit(1);
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_seed(const std::string& dir, const std::string& name, const std::vector<char>& image,
                unsigned char o0, unsigned char o1, unsigned char o2) {
  std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
  const char prefix[3] = {static_cast<char>(o0), static_cast<char>(o1), static_cast<char>(o2)};
  out.write(prefix, 3);
  out.write(image.data(), static_cast<std::streamsize>(image.size()));
}

std::vector<char> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void remove_files(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-journal", "-shm"}) std::filesystem::remove(path + suffix);
}

// A seed of a database and its log: --deep with a log (fuzz_options.h).
void write_log_seed(const std::string& dir, const std::string& name, const std::vector<char>& db,
                    const std::vector<char>& log, bool journal) {
  std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
  const uint32_t n = static_cast<uint32_t>(db.size());
  const char head[7] = {static_cast<char>(0xC0), static_cast<char>(journal ? 0x20 : 0), 0,
                        static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                        static_cast<char>(n >> 24)};
  out.write(head, sizeof head);
  out.write(db.data(), static_cast<std::streamsize>(db.size()));
  out.write(log.data(), static_cast<std::streamsize>(log.size()));
}

// Runs `sql` on an open connection, then takes the database and its log
// as they lie on disk while the connection still holds them.
struct db_and_log {
  std::vector<char> db, log;
};
db_and_log snapshot(sqlite3* h, const std::string& path, const std::string& sql, const char* suffix) {
  if (!run(h, sql)) exit(1);
  return {file_bytes(path), file_bytes(path + suffix)};
}

// Logs of several shapes: a write-ahead log with several commits, a
// checkpoint and a second generation written over the first, frames left
// after the last commit; a hot rollback journal (an interrupted transaction
// whose pages reached the file); a persist-mode journal. Also returns the
// write-ahead log with its second frame's page number zeroed.
void write_log_seeds(const std::string& dir, const std::string& path, const std::string& rows) {
  sqlite3* h = nullptr;
  remove_files(path);
  if (sqlite3_open(path.c_str(), &h) != SQLITE_OK ||
      !run(h, "PRAGMA secure_delete=OFF; PRAGMA page_size=512; PRAGMA journal_mode=WAL;"
              "PRAGMA wal_autocheckpoint=0;" + rows))
    exit(1);
  db_and_log wal = snapshot(h, path, "DELETE FROM t WHERE a % 5 = 0; UPDATE t SET b = 'changed' WHERE a % 7 = 0;", "-wal");
  write_log_seed(dir, "wal-commits", wal.db, wal.log, false);
  wal = snapshot(h, path, "PRAGMA wal_checkpoint(RESTART); INSERT INTO t VALUES(1, 'second generation', x'00', 0.5, 1);"
                          "PRAGMA cache_size=2; BEGIN; UPDATE t SET c = randomblob(200);", "-wal");
  run(h, "ROLLBACK;");
  sqlite3_close(h);
  write_log_seed(dir, "wal-generations", wal.db, wal.log, false);
  if (wal.log.size() > 32 + 2 * (24 + 512)) {
    for (int i = 0; i < 4; ++i) wal.log[32 + 24 + 512 + i] = 0;
    write_log_seed(dir, "wal-page-0", wal.db, wal.log, false);
  }

  remove_files(path);
  if (sqlite3_open(path.c_str(), &h) != SQLITE_OK ||
      !run(h, "PRAGMA secure_delete=OFF; PRAGMA page_size=512; PRAGMA journal_mode=DELETE;" + rows))
    exit(1);
  const db_and_log hot = snapshot(h, path, "PRAGMA cache_size=2; BEGIN; DELETE FROM t WHERE a % 2 = 0;"
                                           "UPDATE t SET b = hex(randomblob(40));", "-journal");
  run(h, "ROLLBACK; PRAGMA journal_mode=PERSIST;");
  const db_and_log persist = snapshot(h, path, "DELETE FROM t WHERE a % 3 = 1; UPDATE t SET d = -d;", "-journal");
  sqlite3_close(h);
  write_log_seed(dir, "journal-hot", hot.db, hot.log, true);
  write_log_seed(dir, "journal-persist", persist.db, persist.log, true);
  remove_files(path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
    return 1;
  }
  const std::string dir = argv[1];
  std::filesystem::create_directories(dir);
  const std::string scratch = dir + "/.scratch.db";

  // Mixed rows: integers of every width, reals, texts, blobs, NULLs.
  const std::string rows =
      "CREATE TABLE t(a INTEGER, b TEXT, c BLOB, d REAL, e);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40) "
      "INSERT INTO t SELECT i * 12345, 'row ' || i || ' \"q\",x', randomblob(i % 7), i / 3.0, "
      "CASE i % 4 WHEN 0 THEN NULL WHEN 1 THEN 1 WHEN 2 THEN 0 ELSE -i * 100000000 END FROM n;";
  const std::string deletes = "DELETE FROM t WHERE a % 3 = 0;";

  struct seed_db {
    const char* name;
    int page_size;
    std::string sql;
  };
  const seed_db dbs[] = {
      {"p512", 512, rows + deletes + "INSERT INTO t VALUES(7, hex(zeroblob(700)), NULL, 1.5, 2);"},
      {"p1024", 1024, rows + "INSERT INTO t VALUES(9, 'long', zeroblob(3000), 2.5, 3);" + deletes},
      {"p4096", 4096,
       rows + "INSERT INTO t VALUES(11, hex(randomblob(3000)), randomblob(9000), 0.25, 4);" +
           deletes + "DROP TABLE IF EXISTS u; CREATE TABLE u(x, y, z);"
           "INSERT INTO u VALUES(1, 'one', x'01'), (2, 'two', x'0202');"},
      {"p65536", 65536,
       "CREATE TABLE t(a, b, c); INSERT INTO t VALUES(1, 'big page', x'FF00FF'), "
       "(2, 'second', 3.25), (3, 'third', NULL); DELETE FROM t WHERE a = 2;"},
  };
  // Option prefixes: --deep, and --deep with blob files and --removed-only;
  // default; --freespace; --fine-search; -d; blob files from 16 bytes;
  // --no-blobs with --removed-only; each odd page size; extreme cell-count
  // and row-size limits.
  const unsigned char prefixes[][3] = {
      {0x40, 0x00, 0x00}, {0x64, 0x08, 0x00},
      {0x00, 0x00, 0x00}, {0x02, 0x00, 0x00}, {0x01, 0x00, 0x00}, {0x08, 0x00, 0x00},
      {0x20, 0x08, 0x00}, {0x14, 0x00, 0x00}, {0x00, 0x01, 0x00}, {0x00, 0x02, 0x00},
      {0x00, 0x03, 0x00}, {0x00, 0x04, 0x00}, {0x00, 0x05, 0x00}, {0x00, 0x07, 0x00},
      {0x03, 0x00, 0x1B}, {0x02, 0x00, 0x5B},
  };
  for (const seed_db& db : dbs) {
    const std::vector<char> image = make_database(scratch, db.page_size, db.sql);
    int n = 0;
    for (const auto& p : prefixes) {
      // The 64 KiB database is large: seed it with fewer prefixes.
      if (db.page_size == 65536 && n >= 4) break;
      write_seed(dir, std::string(db.name) + "-" + std::to_string(n++), image, p[0], p[1], p[2]);
    }
  }
  write_log_seeds(dir, scratch, rows);
  std::filesystem::remove(scratch);
  return 0;
}
