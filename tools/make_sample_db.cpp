// Makes the demo's sample database with the real SQLite library: live rows,
// deleted rows (freeblocks and free pages), a row with overflow pages and
// blobs. Deterministic: the same file every time.
#include <sqlite3.h>

#include <cstdio>
#include <string>

namespace {

bool run(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  fprintf(stderr, "make_sample_db: %s\n", message ? message : "?");
  sqlite3_free(message);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_sample_db <output.db>\n");
    return 1;
  }
  remove(argv[1]);
  sqlite3* db = nullptr;
  if (sqlite3_open(argv[1], &db) != SQLITE_OK) {
    fprintf(stderr, "make_sample_db: cannot create %s\n", argv[1]);
    return 1;
  }
  // Debian's SQLite zeroes deleted records unless secure delete is off.
  std::string sql =
      "PRAGMA secure_delete=OFF; PRAGMA page_size=4096; PRAGMA journal_mode=DELETE;"
      "PRAGMA auto_vacuum=NONE;"
      "CREATE TABLE contacts(id INTEGER PRIMARY KEY, name TEXT, phone TEXT, age INTEGER,"
      " remark TEXT);"
      "CREATE TABLE messages(id INTEGER PRIMARY KEY, sender TEXT, body TEXT, sent REAL,"
      " attachment BLOB);"
      "CREATE TABLE notes(id INTEGER PRIMARY KEY, title TEXT, body TEXT, flag INTEGER);"
      "BEGIN;"
      // Rowids and payloads of 128 and more take two-byte varints, so a
      // deleted cell loses exactly its length and rowid to the freeblock
      // header and its record stays whole.
      "INSERT INTO contacts VALUES(1001,'Alice Archer','+1-555-0101',34,"
      " 'Met at the conference in Lisbon; prefers email, never calls after six; keeps a second phone for work and travels to Porto every month.');"
      "INSERT INTO contacts VALUES(1002,'Bob \"Bobby\" Baker','+1-555-0102',41,"
      " 'Owes money to Carol, Chen & Co.; last seen driving a blue van, plate unknown, heading north on the coast road late at night.');"
      "INSERT INTO contacts VALUES(1003,'Carol, Chen','+1-555-0103',29,"
      " 'Supplier of the parts listed in the March invoice; phone often switched off; paid in cash twice, receipts kept in the red folder.');"
      "INSERT INTO contacts VALUES(1004,'Dave Dunn','+1-555-0104',52,"
      " 'Retired; lives next to the warehouse on Harbour Road and sees everything that arrives there by night; willing to talk to us again.');"
      "INSERT INTO contacts VALUES(1005,'Erin East','+1-555-0105',-7,"
      " 'Age field entered wrongly by the app; the real value is unknown to us and the record was never corrected later.');"
      "";
  // A blob large enough for two overflow pages. The page's first cell lies
  // at its end, where an overflowing cell keeps its overflow page number.
  sql += "INSERT INTO messages VALUES(1,'Dave','Long report follows',1700000300.0,x'";
  for (int i = 0; i < 6000; ++i) {
    static const char hex[] = "0123456789ABCDEF";
    sql += hex[(i * 7) & 15];
    sql += hex[(i * 13) & 15];
  }
  sql += "');";
  sql +=
      "INSERT INTO messages VALUES(2,'Alice','Meet at noon',1700000000.5,x'CAFEBABE');"
      "INSERT INTO messages VALUES(3,'Bob','The key is under the mat',1700000100.25,NULL);"
      "INSERT INTO messages VALUES(4,'Carol','Delete this after reading',1700000200.0,"
      " x'00112233445566778899');";
  for (int i = 1; i <= 600; ++i)
    sql += "INSERT INTO notes VALUES(" + std::to_string(i) + ",'Note " + std::to_string(i) +
           "','Filler text for note number " + std::to_string(i) +
           ", written to fill whole pages of the notes table.'," + std::to_string(i % 3) + ");";
  sql +=
      "COMMIT;"
      // Deleted rows: a single row leaves a freeblock on its leaf page, the
      // range of notes frees whole pages onto the freelist.
      "DELETE FROM contacts WHERE id = 1003;"
      "DELETE FROM notes WHERE id BETWEEN 100 AND 500;";
  const bool ok = run(db, sql);
  sqlite3_close(db);
  return ok ? 0 : 1;
}
