// Writes the fuzzer's seed inputs into the folder named by its argument:
// small databases made by SQLite (live rows, deleted rows left in
// freeblocks and on free pages, overflow rows; page sizes 512, 1024, 4096
// and 65536), each behind several option prefixes (see fuzz_target.cpp).
#include <sqlite3.h>

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
  std::filesystem::remove(scratch);
  return 0;
}
