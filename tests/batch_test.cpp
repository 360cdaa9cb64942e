// The deep mode on a folder: a tree of a few hundred files (databases with
// and without logs in WAL and rollback modes, orphan logs, files without
// extensions, files that are not SQLite, a link, a FIFO, a damaged
// database, nested folders) read in one run. The inventory lists every file
// with its kind and pairing; each database's outputs equal a single run on
// it; the evidence is unchanged; -j 1 and -j 4 agree byte for byte; three
// shards merged equal the whole.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "batch/file_scan.h"
#include "batch/inventory.h"
#include "batch/plan.h"
#include "support/config_db.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace fs = std::filesystem;

namespace {

struct expected_file {
  std::string kind;
  std::string paired;
  std::string live;  // the live rows the library counts, where known
};

expected_file expect(std::string kind, std::string paired, std::string live = "") {
  return {std::move(kind), std::move(paired), std::move(live)};
}

// The live rows the library reads in the database: table m's and the
// schema's (sqlite_master's rows count as live rows too).
std::string library_count(const std::string& path) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(h, "SELECT (SELECT count(*) FROM m) + (SELECT count(*) FROM sqlite_master)", -1, &stmt, nullptr);
  std::string count = sqlite3_step(stmt) == SQLITE_ROW ? std::to_string(sqlite3_column_int(stmt, 0)) : "?";
  sqlite3_finalize(stmt);
  sqlite3_close(h);
  return count;
}

// A table of rows, some deleted, through an open handle.
void fill(sqlite3* h, int seed) {
  run_sql(h, "CREATE TABLE IF NOT EXISTS m(id INTEGER PRIMARY KEY, body TEXT, n INTEGER)");
  run_sql(h, "BEGIN");
  for (int i = 0; i < 20 + seed % 7; ++i)
    run_sql(h, "INSERT INTO m(body, n) VALUES('message " + std::to_string(seed) + "/" + std::to_string(i) +
                   ", \"quoted\"', " + std::to_string(i * seed) + ")");
  run_sql(h, "COMMIT; DELETE FROM m WHERE id % 5 = 0");
}

// Copies a database and the logs beside it while the library holds them.
void copy_with_logs(const std::string& from, const std::string& to) {
  for (const char* suffix : {"", "-wal", "-journal"})
    if (fs::exists(from + suffix)) fs::copy_file(from + suffix, to + suffix);
}

const db_layout fast_layout{1024, "UTF-8", 0, "NONE", false};

// One group of files in folder `dir` of the tree, by the group's number.
void make_group(const std::string& ev, const std::string& scratch, int k, std::map<std::string, expected_file>* want) {
  const std::string dir = "g" + std::to_string(k / 10) + "/n" + std::to_string(k);
  fs::create_directories(ev + "/" + dir);
  const std::string at = ev + "/" + dir + "/";
  const std::string work = scratch + "/w" + std::to_string(k) + ".db";
  switch (k % 5) {
    case 0: {  // a rollback-mode database, no log
      sqlite3* h = open_layout_db(at + "msgstore.db", fast_layout);
      fill(h, k);
      sqlite3_close(h);
      (*want)[dir + "/msgstore.db"] = expect("database", "");
      break;
    }
    case 1: {  // WAL mode, copied with its log open; no extension
      sqlite3* h = open_layout_db(work, fast_layout);
      run_sql(h, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0");
      fill(h, k);
      copy_with_logs(work, at + "History");
      sqlite3_close(h);
      (*want)[dir + "/History"] = expect("database", dir + "/History-wal");
      (*want)[dir + "/History-wal"] = expect("wal", dir + "/History");
      break;
    }
    case 2: {  // an interrupted transaction: a hot journal
      sqlite3* h = open_layout_db(work, fast_layout);
      fill(h, k);
      run_sql(h, "PRAGMA cache_size=2; BEGIN");
      for (int i = 0; i < 100; ++i) run_sql(h, "INSERT INTO m(body, n) VALUES('interrupted', -1)");
      copy_with_logs(work, at + "store.db");
      if (k == 2) fs::copy_file(work + "-journal", at + "lonely.db-journal");
      run_sql(h, "ROLLBACK");
      sqlite3_close(h);
      (*want)[dir + "/store.db"] = expect("database", dir + "/store.db-journal");
      (*want)[dir + "/store.db-journal"] = expect("journal", dir + "/store.db");
      if (k == 2) (*want)[dir + "/lonely.db-journal"] = expect("orphan log", "");
      break;
    }
    case 3: {  // persist mode: the journal's header zeroed, paired by name
      const std::string name = "0000000000000001.sqlite";
      sqlite3* h = open_layout_db(at + name, fast_layout);
      run_sql(h, "PRAGMA journal_mode=PERSIST");
      fill(h, k);
      sqlite3_close(h);
      (*want)[dir + "/" + name] = expect("database", dir + "/" + name + "-journal");
      (*want)[dir + "/" + name + "-journal"] = expect("journal", dir + "/" + name);
      break;
    }
    default: {  // a write-ahead log without its database, and a text file
      sqlite3* h = open_layout_db(work, fast_layout);
      run_sql(h, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0");
      fill(h, k);
      fs::copy_file(work + "-wal", at + "cache-wal");
      sqlite3_close(h);
      write_file(at + "readme", "not a database " + std::to_string(k) + "\n");
      // The log holds every page: read alone, it gives the whole database.
      (*want)[dir + "/cache-wal"] = expect("orphan log", "", library_count(work));
      (*want)[dir + "/readme"] = expect("skipped", "");
    }
  }
}

// The evidence tree, built once for every test of the group.
struct evidence {
  scratch_dir dir;
  std::string root;
  std::map<std::string, expected_file> want;
};

evidence* tree = nullptr;

void build_tree() {
  tree = new evidence;
  tree->root = tree->dir.file("ev");
  fs::create_directories(tree->root);
  const std::string scratch = tree->dir.file("scratch");
  fs::create_directories(scratch);
  for (int k = 0; k < 150; ++k) make_group(tree->root, scratch, k, &tree->want);
  const std::string r = tree->root + "/";
  write_file(r + "empty", "");
  tree->want["empty"] = expect("skipped", "");
  std::string noise(5000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 131 + 7);
  write_file(r + "g0/photo.jpg", noise);
  tree->want["g0/photo.jpg"] = expect("skipped", "");
  fs::create_symlink("n0/msgstore.db", r + "g0/link.db");
  tree->want["g0/link.db"] = expect("skipped", "");
  mkfifo((r + "g0/pipe").c_str(), 0600);
  tree->want["g0/pipe"] = expect("skipped", "");
  // A header whose page size is no power of two: no page can be read.
  std::string broken = "SQLite format 3";
  broken.push_back('\0');
  broken += std::string("\x00\x03", 2) + std::string(4096, '\x01');
  write_file(r + "g1/broken.db", broken);
  tree->want["g1/broken.db"] = expect("failed", "");
  // A header whose first 16 bytes are wiped: page 1 still reads as the
  // schema's page, and the rest of the header holds.
  std::vector<uint8_t> wiped = read_file(r + "g1/n10/msgstore.db");
  std::fill(wiped.begin(), wiped.begin() + 16, 0);
  write_file(r + "g1/wiped", wiped);
  tree->want["g1/wiped"] = expect("database", "", library_count(r + "g1/n10/msgstore.db"));
}

class Batch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!tree) build_tree();
  }
};

// Every regular file below root with its bytes.
std::map<std::string, std::string> tree_files(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_symlink() || !e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    out[fs::relative(e.path(), root).string()] = text.str();
  }
  return out;
}

// Path, size and modification time of every entry: what must not change.
std::map<std::string, std::string> evidence_state(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    struct stat st{};
    lstat(e.path().c_str(), &st);
    out[fs::relative(e.path(), root).string()] =
        std::to_string(st.st_size) + "@" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
  }
  for (auto& [path, bytes] : tree_files(root)) out[path] += "#" + std::to_string(std::hash<std::string>{}(bytes));
  return out;
}

run_result run_batch(const std::string& out, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {sarvek_path(), "--deep", "-i", tree->root, "--out-dir=" + out, "--quiet"};
  args.insert(args.end(), extra.begin(), extra.end());
  return run_sarvek(args);
}

std::vector<inventory_record> inventory_of(const std::string& out) {
  std::vector<inventory_record> records;
  EXPECT_TRUE(read_inventory(out, &records));
  return records;
}

}  // namespace

TEST_F(Batch, InventoryListsEveryFileWithItsKindAndPairing) {
  scratch_dir out;
  const run_result r = run_batch(out.file("o"), {"-j", "2"});
  EXPECT_EQ(r.status, 2) << r.err;  // the damaged database failed
  const std::vector<inventory_record> records = inventory_of(out.file("o"));
  EXPECT_GT(records.size(), 250u);
  std::map<std::string, expected_file> got;
  std::string previous;
  for (const inventory_record& rec : records) {
    EXPECT_LT(previous, rec.path);  // sorted, each once
    previous = rec.path;
    got[rec.path] = {rec.kind, rec.paired, rec.live};
    SCOPED_TRACE(rec.path);
    if (rec.kind == "database") {
      EXPECT_EQ(rec.output, rec.path);
      EXPECT_EQ(rec.page_size, "1024");
      EXPECT_EQ(rec.encoding, "UTF-8");
      EXPECT_EQ(rec.tables, "1");
      EXPECT_NE(rec.live, "0");
      EXPECT_TRUE(rec.error.empty()) << rec.error;
    }
    if (rec.kind == "orphan log") {
      EXPECT_EQ(rec.output, rec.path);
      EXPECT_FALSE(rec.live.empty());
      EXPECT_TRUE(rec.error.empty()) << rec.error;
    }
    if (rec.kind == "failed") {
      EXPECT_FALSE(rec.error.empty());
    }
    if (rec.path == "g0/link.db" || rec.path == "g0/pipe") {
      EXPECT_TRUE(rec.sha256.empty());  // never opened
      EXPECT_NE(rec.notes.find(rec.path == "g0/pipe" ? "FIFO, not opened" : "not followed"), std::string::npos);
    } else if (rec.kind == "skipped") {
      EXPECT_EQ(rec.sha256.size(), 64u);
    }
  }
  for (const auto& [path, want] : tree->want) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(got.count(path));
    EXPECT_EQ(got[path].kind, want.kind);
    EXPECT_EQ(got[path].paired, want.paired);
    if (!want.live.empty()) {
      EXPECT_EQ(got[path].live, want.live);
    }
  }
  EXPECT_EQ(got.size(), tree->want.size());
}

TEST_F(Batch, EachDatabaseOutputsEqualASingleRunAndTheEvidenceIsUnchanged) {
  const auto before = evidence_state(tree->root);
  scratch_dir out;
  run_batch(out.file("o"), {"--export=e.sqlite"});
  EXPECT_EQ(evidence_state(tree->root), before);
  const auto batch = tree_files(out.file("o"));
  int compared = 0;
  for (const inventory_record& rec : inventory_of(out.file("o"))) {
    if (rec.kind != "database" || compared >= 25) continue;
    SCOPED_TRACE(rec.path);
    const std::string single = out.file("single" + std::to_string(compared++));
    const run_result r = run_sarvek({sarvek_path(), "--deep", "-i", tree->root + "/" + rec.path,
                                     "--out-dir=" + single, "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto alone = tree_files(single);
    ASSERT_FALSE(alone.empty());
    for (const auto& [name, bytes] : alone) {
      const auto at = batch.find(rec.path + "/" + name);
      ASSERT_NE(at, batch.end()) << name;
      EXPECT_TRUE(at->second == bytes) << name;
    }
    EXPECT_TRUE(batch.count(rec.path + "/e.sqlite"));
  }
  EXPECT_EQ(compared, 25);
}

TEST_F(Batch, OneWorkerAndFourGiveTheSameBytesAndSharesMergedEqualTheWhole) {
  scratch_dir out;
  run_batch(out.file("j1"), {"-j", "1"});
  run_batch(out.file("j4"), {"-j", "4"});
  const auto whole = tree_files(out.file("j4"));
  EXPECT_TRUE(tree_files(out.file("j1")) == whole);
  std::vector<std::string> merge = {sarvek_path(), "--merge-inventories"};
  size_t listed = 0;
  for (const char* k : {"1", "2", "3"}) {
    const std::string share = out.file(std::string("s") + k);
    run_batch(share, {std::string("--shard=") + k + "/3"});
    const size_t n = inventory_of(share).size();
    EXPECT_GT(n, 40u);
    listed += n;
    merge.push_back(share);
  }
  EXPECT_EQ(listed, inventory_of(out.file("j4")).size());
  merge.push_back("--out-dir=" + out.file("case"));
  const run_result r = run_sarvek(merge);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto merged = tree_files(out.file("case"));
  EXPECT_EQ(merged.size(), whole.size());
  for (const auto& [name, bytes] : whole) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(merged.count(name));
    EXPECT_TRUE(merged.at(name) == bytes);
  }
}

TEST_F(Batch, TheEvidenceIsNeverAnOutputAndUsageErrorsAreRefused) {
  scratch_dir out;
  const auto before = evidence_state(tree->root);
  fs::create_directories(out.file("full"));
  write_file(out.file("full/x"), "x");
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--deep", "-i", tree->root, "--out-dir=" + tree->root + "/g0/out"}, "inside the input folder"},
      {{"--deep", "-i", tree->root, "--out-dir=" + tree->root}, "inside the input folder"},
      {{"--deep", "-i", tree->root}, "needs --out-dir="},
      {{"--deep", "-i", tree->root, "--out-dir=" + out.file("full")}, "not an empty folder"},
      {{"--deep", "-i", tree->root, "--out-dir=" + out.file("x"), "--shard=4/3"}, "--shard= needs K/N"},
      {{"--deep", "-i", tree->root, "--out-dir=" + out.file("x"), "--shard=0/3"}, "--shard= needs K/N"},
      {{"--deep", "-i", tree->root, "--out-dir=" + out.file("x"), "-j", "0"}, "-j needs"},
      {{"--deep", "-i", tree->root, "--out-dir=" + out.file("x"), "-j0"}, "-j needs"},
      {{"--deep", "-i", tree->root + "/g0/n0/msgstore.db", "-j3"}, "-j needs a folder as input"},
      {{"-i", tree->root, "--shard=1/2"}, "--shard= needs --deep"},
      {{"--deep", "-i", tree->root + "/g0/n0/msgstore.db", "-j", "2"}, "-j needs a folder as input"},
      {{"--deep", "-i", tree->root + "/g0/n0/msgstore.db", "--shard=1/2"}, "--shard= needs a folder as input"},
      {{"--merge-inventories", out.path}, "--merge-inventories needs"},
      {{"--merge-inventories", tree->root, "--out-dir=" + out.file("m")}, "inventory.csv"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {sarvek_path()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const run_result r = run_sarvek(args);
    SCOPED_TRACE(c.args.back());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
  }
  EXPECT_EQ(evidence_state(tree->root), before);
  // The byte scan keeps refusing a folder.
  const run_result scan = run_sarvek({sarvek_path(), "-i", tree->root});
  EXPECT_NE(scan.status, 0);
}

TEST(BatchUnits, ContentDecidesTheKindNotTheName) {
  std::vector<uint8_t> db(1024, 0);
  memcpy(db.data(), "SQLite format 3", 16);
  std::vector<uint8_t> wal(64, 0), wal2(64, 0), journal(64, 0), damaged(1024, 0), text(200, 'a');
  const uint8_t wal_magic[] = {0x37, 0x7F, 0x06, 0x82}, wal_magic2[] = {0x37, 0x7F, 0x06, 0x83};
  const uint8_t journal_magic[] = {0xD9, 0xD5, 0x05, 0xF9, 0x20, 0xA1, 0x63, 0xD7};
  memcpy(wal.data(), wal_magic, 4);
  memcpy(wal2.data(), wal_magic2, 4);
  memcpy(journal.data(), journal_magic, 8);
  damaged[100] = 0x0D;
  memcpy(damaged.data() + 600, "CREATE TABLE t(a)", 17);
  std::vector<uint8_t> leaf_only = damaged;
  memset(leaf_only.data() + 600, 'x', 17);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    content_kind kind;
    bool damaged;
  } cases[] = {
      {"database", db, content_kind::database, false},
      {"wal, little-endian checksums", wal, content_kind::wal, false},
      {"wal, big-endian checksums", wal2, content_kind::wal, false},
      {"journal", journal, content_kind::journal, false},
      {"damaged header, schema on page 1", damaged, content_kind::database, true},
      {"a b-tree page without a schema", leaf_only, content_kind::other, false},
      {"text", text, content_kind::other, false},
      {"header cut short", std::vector<uint8_t>(db.begin(), db.begin() + 50), content_kind::other, false},
  };
  for (const auto& c : cases) {
    bool damaged_header = false;
    EXPECT_EQ(classify_bytes(c.bytes.data(), c.bytes.size(), &damaged_header), c.kind) << c.name;
    EXPECT_EQ(damaged_header, c.damaged) << c.name;
  }
}

TEST(BatchUnits, AFileThatChangesWhileItIsReadIsNoticed) {
  scratch_dir dir;
  const std::string path = dir.file("f");
  write_file(path, "first");
  struct stat st{};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  tree_entry seen;
  seen.rel = "f";
  seen.size = static_cast<uint64_t>(st.st_size);
  seen.mtime_sec = st.st_mtim.tv_sec;
  seen.mtime_nsec = st.st_mtim.tv_nsec;
  EXPECT_FALSE(file_changed(path, seen));
  const file_scan scan = scan_file(dir.path, seen);
  EXPECT_TRUE(scan.read_ok);
  EXPECT_FALSE(scan.changed);
  EXPECT_EQ(scan.sha256, "a7937b64b8caa58f03721bb6bacf5c78cb235febe0e70b1b84cd99541461a08e");  // sha256("first")
  const struct {
    const char* what;
    std::string bytes;
    int64_t mtime_shift;
  } changes[] = {{"longer", "first and more", 0}, {"same size, older time", "frist", -100}};
  for (const auto& c : changes) {
    write_file(path, c.bytes);
    if (c.mtime_shift != 0) {
      const timespec times[2] = {{0, UTIME_OMIT}, {seen.mtime_sec + c.mtime_shift, 0}};
      utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    EXPECT_TRUE(file_changed(path, seen)) << c.what;
    EXPECT_TRUE(scan_file(dir.path, seen).changed) << c.what;
  }
  fs::remove(path);
  EXPECT_TRUE(file_changed(path, seen));
  EXPECT_FALSE(scan_file(dir.path, seen).read_ok);
}

TEST(BatchUnits, SharesAreStableDisjointAndKeepLogsWithTheirDatabase) {
  std::vector<tree_entry> entries;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "d" + std::to_string(i) + "/db";
    for (const char* suffix : {"", "-wal", "-journal", "-shm"}) {
      tree_entry e;
      e.rel = name + suffix;
      entries.push_back(e);
    }
  }
  std::map<std::string, int> owner;
  for (uint32_t k = 0; k < 3; ++k) {
    const std::vector<tree_entry> share = shard_entries(entries, k, 3);
    EXPECT_GT(share.size(), 200u);
    for (const tree_entry& e : share) {
      EXPECT_FALSE(owner.count(e.rel)) << e.rel;
      owner[e.rel] = static_cast<int>(k);
    }
    EXPECT_EQ(share.size(), shard_entries(entries, k, 3).size());
  }
  EXPECT_EQ(owner.size(), entries.size());
  for (const auto& [path, k] : owner) {
    const std::string base = log_base(path);
    if (!base.empty()) {
      EXPECT_EQ(k, owner[base]) << path;
    }
  }
}

TEST(BatchUnits, TheInventoryReadsBackAsWritten) {
  scratch_dir dir;
  inventory_record hostile;
  hostile.path = "a, \"b\"\nc";
  hostile.kind = "database";
  hostile.notes = "one; two, \"three\"\r\n";
  hostile.live = "12";
  inventory_record plain;
  plain.path = "z";
  plain.kind = "skipped";
  ASSERT_TRUE(write_inventory(dir.path, {hostile, plain}));
  std::vector<inventory_record> back;
  ASSERT_TRUE(read_inventory(dir.path, &back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(record_fields(back[0]), record_fields(hostile));
  EXPECT_EQ(record_fields(back[1]), record_fields(plain));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(dir.file("inventory.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT path, live, typeof(live), notes FROM files ORDER BY path", -1, &stmt, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), hostile.path);
  EXPECT_EQ(sqlite3_column_int(stmt, 1), 12);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2)), "integer");
  EXPECT_EQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)), hostile.notes);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST(BatchUnits, ADatabaseWhoseOutputFolderTheInventoryTakesFailsAlone) {
  scratch_dir dir;
  const std::string ev = dir.file("ev");
  fs::create_directories(ev);
  make_db(ev + "/inventory.csv", "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
  make_db(ev + "/ok.db", "CREATE TABLE t(a); INSERT INTO t VALUES(2);");
  const run_result r = run_sarvek({sarvek_path(), "--deep", "-i", ev, "--out-dir=" + dir.file("o"), "--quiet"});
  EXPECT_EQ(r.status, 2) << r.err;
  const std::vector<inventory_record> records = inventory_of(dir.file("o"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].path, "inventory.csv");
  EXPECT_EQ(records[0].kind, "failed");
  EXPECT_NE(records[0].error.find("output folder"), std::string::npos);
  EXPECT_TRUE(records[1].error.empty());
  EXPECT_EQ(records[1].live, "2");  // its row and the schema's
  EXPECT_TRUE(fs::exists(dir.file("o/ok.db/t.csv")));
}

TEST(BatchUnits, AReaderKilledBySignalFailsAlone) {
  // Under a file size limit of 64 KiB, the run of the database whose CSV
  // outgrows it is killed by SIGXFSZ; the other database is read.
  scratch_dir dir;
  const std::string ev = dir.file("ev");
  fs::create_directories(ev);
  make_db(ev + "/big.db",
          "CREATE TABLE t(a); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
          "INSERT INTO t SELECT printf('%0100d', i) FROM n;");
  make_db(ev + "/small.db", "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
  const run_result r = run_program({"sh", "-c", "ulimit -f 128 && exec \"$0\" \"$@\"", sarvek_path(), "--deep",
                                    "-i", ev, "--out-dir=" + dir.file("o"), "--quiet"});
  EXPECT_EQ(r.status, 2) << r.err;
  const std::vector<inventory_record> records = inventory_of(dir.file("o"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kind, "failed");
  EXPECT_NE(records[0].error.find("signal " + std::to_string(SIGXFSZ)), std::string::npos) << records[0].error;
  EXPECT_EQ(records[1].kind, "database");
  EXPECT_TRUE(records[1].error.empty()) << records[1].error;
}

TEST(BatchUnits, AnUnreadableFileFailsAloneWithItsError) {
  if (geteuid() == 0)
    GTEST_SKIP() << "run as root: permissions do not stop root from reading, and no other honest way to make "
                    "a regular file unreadable is available without privileges of its own";
  scratch_dir dir;
  const std::string ev = dir.file("ev");
  fs::create_directories(ev);
  make_db(ev + "/good.db", "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
  write_file(ev + "/locked.db", std::string("SQLite format 3") + std::string(200, '\0'));
  chmod((ev + "/locked.db").c_str(), 0);
  const run_result r = run_sarvek({sarvek_path(), "--deep", "-i", ev, "--out-dir=" + dir.file("o"), "--quiet"});
  EXPECT_EQ(r.status, 2) << r.err;
  const std::vector<inventory_record> records = inventory_of(dir.file("o"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kind, "database");
  EXPECT_EQ(records[1].kind, "failed");
  EXPECT_NE(records[1].error.find("cannot be opened"), std::string::npos);
}
