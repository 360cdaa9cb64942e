// Makes the benchmark's database with the real SQLite library: a phone-like
// store of contacts, messages (text, small blobs, some rows large enough for
// overflow pages) and a table of numbers (integers of every stored width and
// doubles), filled until the file reaches the requested size, then tens of
// thousands of deletions with secure delete off. In the default layout,
// runs of consecutive rows free whole pages onto the freelist and single
// rows spread over the leaf pages (4 %) leave freeblocks on about half of
// them. In the scattered layout, one row in 7, chosen at random over the
// whole file, is deleted and nothing else: nearly every table-leaf page then
// holds a freeblock. The same size, seed and layout give the same file.
//
//   make_bench_db <output.db> [size in MiB, default 256] [seed, default 1] [runs|scattered]
#include <sqlite3.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast and the same on every platform.
struct Rng {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); the bias for n far below 2^64 does not matter here.
  uint64_t below(uint64_t n) { return next() % n; }
  int64_t between(int64_t lo, int64_t hi) {  // inclusive
    return lo + static_cast<int64_t>(below(static_cast<uint64_t>(hi - lo) + 1));
  }
  bool chance(unsigned percent) { return below(100) < percent; }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

const char* const kWords[] = {
    "the",     "meeting", "is",      "at",       "noon",    "tomorrow", "please",  "call",
    "me",      "back",    "when",    "you",      "can",     "I",        "will",    "be",
    "late",    "tonight", "dinner",  "with",     "family",  "see",      "photo",   "from",
    "trip",    "bring",   "the",     "keys",     "under",   "mat",      "payment", "sent",
    "account", "number",  "station", "train",    "arrives", "platform", "ok",      "thanks",
    "love",    "you",     "where",   "are",      "running", "out",      "of",      "battery",
    "office",  "closed",  "Monday",  "address",  "street",  "north",    "gate",    "code",
    "delete",  "this",    "after",   "reading",  "urgent",  "report",   "draft",   "final"};
const char* const kFirst[] = {"Alice", "Bob",   "Carol", "Dave",   "Erin",  "Frank", "Grace",
                              "Heidi", "Ivan",  "Judy",  "Mallory", "Niaj", "Olivia", "Peggy",
                              "Rupert", "Sybil", "Trent", "Uma",   "Victor", "Walter", "Xena",
                              "Yusuf", "Zoe",   "Marta", "Jonas",  "Lena",  "Omar",  "Priya"};
const char* const kLast[] = {"Archer", "Baker",  "Chen",    "Dunn",   "East",   "Fischer",
                             "Garcia", "Horvat", "Ivanova", "Jensen", "Kowalski", "Larsen",
                             "Moreau", "Nagy",   "Okafor",  "Petrov", "Quinn",  "Rossi",
                             "Silva",  "Tanaka", "Ueda",    "Varga",  "Weber",  "Young"};

template <size_t N>
const char* pick(Rng& rng, const char* const (&list)[N]) {
  return list[rng.below(N)];
}

std::string sentence(Rng& rng, int words) {
  std::string text;
  for (int i = 0; i < words; ++i) {
    if (i) text += ' ';
    text += pick(rng, kWords);
  }
  if (rng.chance(30)) text += rng.chance(50) ? '?' : '!';
  return text;
}

std::vector<unsigned char> bytes(Rng& rng, size_t size) {
  std::vector<unsigned char> out(size);
  for (size_t i = 0; i < size; i += 8) {
    uint64_t word = rng.next();
    for (size_t k = i; k < size && k < i + 8; ++k, word >>= 8) out[k] = static_cast<unsigned char>(word);
  }
  return out;
}

// An integer stored with the given serial type: 8 and 9 are the constants 0
// and 1, 1 to 6 take 1, 2, 3, 4, 6 and 8 bytes.
int64_t integer_of_width(Rng& rng, int serial_type) {
  switch (serial_type) {
    case 8: return 0;
    case 9: return 1;
    case 1: return rng.between(-128, 127);
    case 2: return rng.between(-32768, 32767);
    case 3: return rng.between(-8388608, 8388607);
    case 4: return rng.between(INT32_MIN, INT32_MAX);
    case 5: return rng.between(-(INT64_C(1) << 47), (INT64_C(1) << 47) - 1);
    default: return static_cast<int64_t>(rng.next());
  }
}

struct Db {
  sqlite3* handle = nullptr;
  bool exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(handle, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    fprintf(stderr, "make_bench_db: %s: %s\n", sql, message ? message : "?");
    sqlite3_free(message);
    return false;
  }
  sqlite3_stmt* prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle, sql, -1, &statement, nullptr) != SQLITE_OK) {
      fprintf(stderr, "make_bench_db: %s: %s\n", sql, sqlite3_errmsg(handle));
      exit(1);
    }
    return statement;
  }
  void step(sqlite3_stmt* statement) {
    int rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
      fprintf(stderr, "make_bench_db: %s\n", sqlite3_errmsg(handle));
      exit(1);
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
  }
};

void bind_text(sqlite3_stmt* s, int column, const std::string& text) {
  sqlite3_bind_text(s, column, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}
void bind_blob(sqlite3_stmt* s, int column, const std::vector<unsigned char>& blob) {
  sqlite3_bind_blob(s, column, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
}

struct Table {
  const char* name;
  int64_t rows = 0;
  int64_t deleted = 0;
};

// Deletes runs of consecutive rows (freed leaf pages go to the freelist),
// then single rows spread over the table (freeblocks on the leaf pages).
// Scattered: single rows only, one in 7.
void delete_rows(Db& db, Rng& rng, Table& table, bool scattered) {
  std::string sql = std::string("DELETE FROM ") + table.name + " WHERE id BETWEEN ? AND ?";
  sqlite3_stmt* range = db.prepare(sql.c_str());
  sql = std::string("DELETE FROM ") + table.name + " WHERE id = ?";
  sqlite3_stmt* single = db.prepare(sql.c_str());
  std::vector<bool> gone(static_cast<size_t>(table.rows) + 1);
  const int64_t runs = scattered ? 0 : table.rows / 10000 + 1;
  for (int64_t i = 0; i < runs && table.rows > 2000; ++i) {
    int64_t first = rng.between(1, table.rows - 1000);
    int64_t last = first + rng.between(100, 600);
    sqlite3_bind_int64(range, 1, first);
    sqlite3_bind_int64(range, 2, last);
    db.step(range);
    for (int64_t id = first; id <= last; ++id) gone[static_cast<size_t>(id)] = true;
  }
  for (int64_t id = 1; id <= table.rows; ++id) {
    if (gone[static_cast<size_t>(id)] || (scattered ? rng.below(7) != 0 : !rng.chance(4))) continue;
    sqlite3_bind_int64(single, 1, id);
    db.step(single);
    gone[static_cast<size_t>(id)] = true;
  }
  for (bool g : gone) table.deleted += g;
  sqlite3_finalize(range);
  sqlite3_finalize(single);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5 || (argc == 5 && strcmp(argv[4], "runs") != 0 && strcmp(argv[4], "scattered") != 0)) {
    fprintf(stderr,
            "usage: make_bench_db <output.db> [size in MiB, default 256] [seed, default 1] [runs|scattered]\n");
    return 1;
  }
  const long mib = argc > 2 ? strtol(argv[2], nullptr, 10) : 256;
  const uint64_t seed = argc > 3 ? strtoull(argv[3], nullptr, 10) : 1;
  const bool scattered = argc == 5 && strcmp(argv[4], "scattered") == 0;
  if (mib < 1 || mib > 4000) {
    fprintf(stderr, "make_bench_db: size must be 1 to 4000 MiB\n");
    return 1;
  }
  const int64_t target = static_cast<int64_t>(mib) << 20;
  const int page_size = 4096;

  // Build under a temporary name so that an interrupted run leaves no
  // half-made database under the final one.
  const std::string temporary = std::string(argv[1]) + ".part";
  remove(temporary.c_str());
  Db db;
  if (sqlite3_open(temporary.c_str(), &db.handle) != SQLITE_OK) {
    fprintf(stderr, "make_bench_db: cannot create %s\n", temporary.c_str());
    return 1;
  }
  // Debian's SQLite zeroes deleted records unless secure delete is off.
  if (!db.exec("PRAGMA secure_delete=OFF; PRAGMA page_size=4096; PRAGMA auto_vacuum=NONE;"
               "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-65536;"
               "CREATE TABLE contacts(id INTEGER PRIMARY KEY, name TEXT, phone TEXT,"
               " email TEXT, age INTEGER, photo BLOB);"
               "CREATE TABLE messages(id INTEGER PRIMARY KEY, contact INTEGER, sent REAL,"
               " outgoing INTEGER, body TEXT, attachment BLOB);"
               "CREATE TABLE numbers(id INTEGER PRIMARY KEY, tiny INTEGER, small INTEGER,"
               " medium INTEGER, large INTEGER, wide INTEGER, huge INTEGER, ratio REAL,"
               " flag INTEGER, mixed INTEGER);"
               "CREATE INDEX contacts_name ON contacts(name);"))
    return 1;

  sqlite3_stmt* add_contact = db.prepare("INSERT INTO contacts VALUES(?,?,?,?,?,?)");
  sqlite3_stmt* add_message = db.prepare("INSERT INTO messages VALUES(?,?,?,?,?,?)");
  sqlite3_stmt* add_number = db.prepare("INSERT INTO numbers VALUES(?,?,?,?,?,?,?,?,?,?)");
  sqlite3_stmt* page_count = db.prepare("PRAGMA page_count");

  Rng rng{seed};
  Table contacts{"contacts"}, messages{"messages"}, numbers{"numbers"};
  double clock = 1.6e9;
  db.exec("BEGIN");
  for (int64_t n = 1;; ++n) {
    const uint64_t kind = rng.below(100);
    if (kind < 8) {
      Table& t = contacts;
      sqlite3_bind_int64(add_contact, 1, ++t.rows);
      const std::string first = pick(rng, kFirst), last = pick(rng, kLast);
      bind_text(add_contact, 2, first + " " + last);
      char phone[32];
      snprintf(phone, sizeof phone, "+%d-%03d-%04d", static_cast<int>(rng.between(1, 99)),
               static_cast<int>(rng.below(1000)), static_cast<int>(rng.below(10000)));
      bind_text(add_contact, 3, phone);
      if (rng.chance(70)) bind_text(add_contact, 4, first + "." + last + "@example.org");
      sqlite3_bind_int64(add_contact, 5, rng.between(12, 95));
      if (rng.chance(5)) bind_blob(add_contact, 6, bytes(rng, static_cast<size_t>(rng.between(100, 1500))));
      db.step(add_contact);
    } else if (kind < 70) {
      Table& t = messages;
      sqlite3_bind_int64(add_message, 1, ++t.rows);
      sqlite3_bind_int64(add_message, 2, rng.between(1, contacts.rows + 1));
      clock += rng.unit() * 600.0;
      sqlite3_bind_double(add_message, 3, clock);
      sqlite3_bind_int(add_message, 4, static_cast<int>(rng.below(2)));
      const bool long_row = rng.below(1000) < 15;  // 1.5 % need overflow pages
      if (long_row && rng.chance(50)) {
        bind_text(add_message, 5, sentence(rng, static_cast<int>(rng.between(600, 2500))));
      } else {
        bind_text(add_message, 5, sentence(rng, static_cast<int>(rng.between(1, 40))));
      }
      if (long_row) {
        bind_blob(add_message, 6, bytes(rng, static_cast<size_t>(rng.between(4500, 24000))));
      } else if (rng.chance(25)) {
        bind_blob(add_message, 6, bytes(rng, static_cast<size_t>(rng.between(0, 300))));
      }
      db.step(add_message);
    } else {
      Table& t = numbers;
      sqlite3_bind_int64(add_number, 1, ++t.rows);
      static const int widths[] = {1, 2, 3, 4, 5, 6};
      for (int column = 0; column < 6; ++column)
        sqlite3_bind_int64(add_number, 2 + column, integer_of_width(rng, widths[column]));
      sqlite3_bind_double(add_number, 8, (rng.unit() - 0.5) * 1e6);
      sqlite3_bind_int(add_number, 9, static_cast<int>(rng.below(2)));
      // Every integer width in one column, and NULL now and then.
      static const int any_width[] = {1, 2, 3, 4, 5, 6, 8, 9};
      if (!rng.chance(10)) sqlite3_bind_int64(add_number, 10, integer_of_width(rng, any_width[rng.below(8)]));
      db.step(add_number);
    }
    if (n % 256 == 0) {
      sqlite3_step(page_count);
      const int64_t pages = sqlite3_column_int64(page_count, 0);
      sqlite3_reset(page_count);
      if (pages * page_size >= target) break;
      if (n % 65536 == 0) db.exec("COMMIT; BEGIN");
    }
  }
  db.exec("COMMIT");

  db.exec("BEGIN");
  delete_rows(db, rng, messages, scattered);
  delete_rows(db, rng, numbers, scattered);
  delete_rows(db, rng, contacts, scattered);
  db.exec("COMMIT");

  sqlite3_step(page_count);
  const int64_t pages = sqlite3_column_int64(page_count, 0);
  sqlite3_reset(page_count);
  sqlite3_stmt* freelist = db.prepare("PRAGMA freelist_count");
  sqlite3_step(freelist);
  const int64_t free_pages = sqlite3_column_int64(freelist, 0);
  sqlite3_finalize(freelist);
  for (sqlite3_stmt* s : {add_contact, add_message, add_number, page_count}) sqlite3_finalize(s);
  if (sqlite3_close(db.handle) != SQLITE_OK) {
    fprintf(stderr, "make_bench_db: cannot close %s\n", temporary.c_str());
    return 1;
  }
  if (rename(temporary.c_str(), argv[1]) != 0) {
    perror("make_bench_db: rename");
    return 1;
  }
  printf("%s: %" PRId64 " bytes, %" PRId64 " pages (%" PRId64 " on the freelist), seed %" PRIu64 ", %s\n",
         argv[1], pages * page_size, pages, free_pages, seed, scattered ? "scattered" : "runs");
  for (const Table* t : {&contacts, &messages, &numbers})
    printf("  %-8s %9" PRId64 " rows inserted, %7" PRId64 " deleted\n", t->name, t->rows, t->deleted);
  return 0;
}
