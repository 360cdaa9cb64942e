// Damaged and hostile input: truncations, bit flips, wild header fields,
// looping chains, extreme limits, and the inputs the fuzzer found. Every run
// must end cleanly: status 0, or status 1 with exactly one "ERROR: " line on
// standard error; never a signal, a hang or a sanitizer report. Each case is
// also run in-process on an exact-size heap copy, where the sanitizer build
// sees a read even one byte past the image (the file mapping hides it).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "../fuzz/fuzz_options.h"
#include "image/image.h"
#include "image/page_walker.h"
#include "setup/command_line.h"
#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

// A sanitizer report fails the child with the status 1 of a clean error
// otherwise; give it a status of its own.
const bool sanitizer_status_set = [] {
  setenv("ASAN_OPTIONS", "exitcode=86", 0);
  setenv("UBSAN_OPTIONS", "exitcode=87:halt_on_error=1:print_stacktrace=1", 0);
  return true;
}();

::testing::AssertionResult clean_exit(const run_result& r) {
  if (r.err.find("Sanitizer") != std::string::npos ||
      r.err.find("runtime error") != std::string::npos)
    return ::testing::AssertionFailure() << "sanitizer report:\n" << r.err.substr(0, 4000);
  if (r.status == 0) return ::testing::AssertionSuccess();
  if (r.status != 1)
    return ::testing::AssertionFailure() << "status " << r.status << "\n" << r.err.substr(0, 2000);
  const std::vector<std::string> lines = split_lines(r.err);
  if (lines.size() != 1 || lines[0].rfind("ERROR: ", 0) != 0)
    return ::testing::AssertionFailure() << "status 1 without one ERROR line:\n" << r.err;
  return ::testing::AssertionSuccess();
}

// Runs the stages in-process, as main does, over an exact-size copy, with
// cwd as the working folder for blob files.
void run_in_process(const std::vector<uint8_t>& image, const std::vector<std::string>& args,
                    const std::string& cwd) {
  if (image.empty()) return;
  std::vector<std::string> argv_text{"sarvek", "-i", "image"};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  const std::vector<uint8_t> copy(image);
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(cwd);
  run_options options;
  run_options_init(&options);
  parse_parameters(static_cast<int>(argv.size()), argv.data(), &options);
  globals g;
  globals_init(&g, options);
  image_attach(&g, copy.data(), copy.size());
  ::testing::internal::CaptureStderr();
  capture_stdout([&] {
    if (image_read_header(&g) == 0) walk_pages(&g);
  });
  ::testing::internal::GetCapturedStderr();
  globals_release(&g);
  std::filesystem::current_path(here);
}

struct hostile : ::testing::Test {
  scratch_dir dir;

  // The binary and the in-process run over the same bytes and arguments.
  run_result check(const std::vector<uint8_t>& bytes, const std::vector<std::string>& args,
                   const std::string& what) {
    const std::string path = dir.file("input.db");
    write_file(path, bytes);
    std::vector<std::string> full{"-i", path};
    full.insert(full.end(), args.begin(), args.end());
    spawn_options options;
    options.cwd = dir.path;
    run_result r = run_sarvek(full, options);
    EXPECT_TRUE(clean_exit(r)) << what;
    run_in_process(bytes, args, dir.path);
    return r;
  }

  // Several pages of 512 bytes: live rows, deleted rows in freeblocks and
  // on free pages, a row with overflow pages.
  std::vector<uint8_t> small_db() {
    const std::string path = dir.file("small.db");
    make_db(path,
            "CREATE TABLE t(a INTEGER, b TEXT, c BLOB, d REAL);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 24) "
            "INSERT INTO t SELECT i, 'text of row ' || i, x'0102030405', i / 4.0 FROM n;"
            "INSERT INTO t VALUES(100, hex(zeroblob(900)), x'FF', 0.5);"
            "DELETE FROM t WHERE a % 5 = 0;",
            512);
    return read_file(path);
  }
};

uint32_t be16(const std::vector<uint8_t>& b, size_t at) { return uint32_t{b[at]} << 8 | b[at + 1]; }
uint32_t be32(const std::vector<uint8_t>& b, size_t at) { return be16(b, at) << 16 | be16(b, at + 2); }
void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  put16(b, at, v >> 16);
  put16(b, at + 2, v & 0xFFFF);
}

// True when every line of part occurs in whole, in the same order.
bool is_subsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  size_t j = 0;
  for (const std::string& line : part) {
    while (j < whole.size() && whole[j] != line) ++j;
    if (j == whole.size()) return false;
    ++j;
  }
  return true;
}

TEST_F(hostile, EveryTruncationEndsCleanly) {
  const std::vector<uint8_t> db = small_db();
  const size_t page = 512;
  ASSERT_GE(db.size(), 5 * page);
  const std::vector<std::string> full = split_lines(check(db, {}, "whole file").out);
  ASSERT_GT(full.size(), 10u);
  // Cut at every page boundary (and the empty file): whole pages keep their
  // rows, in order, and nothing new appears.
  for (size_t length = 0; length <= db.size(); length += page) {
    const std::vector<uint8_t> cut(db.begin(), db.begin() + static_cast<long>(length));
    const run_result r = check(cut, {}, "cut at " + std::to_string(length));
    EXPECT_TRUE(is_subsequence(split_lines(r.out), full)) << "cut at " << length;
    check(cut, {"--freespace"}, "--freespace, cut at " + std::to_string(length));
  }
  // Cut at every byte of the last two pages; the sanitizer build, whose runs
  // cost ten times more, cuts at every seventh.
#ifdef SARVEK_SANITIZED
  const size_t step = 7;
#else
  const size_t step = 1;
#endif
  for (size_t length = db.size() - 2 * page; length < db.size(); length += step) {
    const std::vector<uint8_t> cut(db.begin(), db.begin() + static_cast<long>(length));
    check(cut, length % 2 ? std::vector<std::string>{"--fine-search"} : std::vector<std::string>{},
          "cut at " + std::to_string(length));
  }
  // Files shorter than the header fields.
  for (size_t length = 1; length < 48; ++length)
    check(std::vector<uint8_t>(db.begin(), db.begin() + static_cast<long>(length)), {},
          "cut at " + std::to_string(length));
}

TEST_F(hostile, RandomBitFlipsEndCleanly) {
  const std::string path = dir.file("flip.db");
  make_db(path,
          "CREATE TABLE t(a, b, c);"
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 120) "
          "INSERT INTO t SELECT i, 'value ' || i, randomblob(i % 30) FROM n;"
          "INSERT INTO t VALUES(500, hex(randomblob(3000)), randomblob(2000));"
          "DELETE FROM t WHERE a % 4 = 1;",
          1024);
  const std::vector<uint8_t> db = read_file(path);
  const std::vector<std::vector<std::string>> modes = {
      {}, {"--freespace"}, {"--fine-search"}, {"--removed-only"}, {"--blob-size-limit=8"},
      {"--cellcount-min=0", "--rowsize-min=0"}};
  for (unsigned seed = 1; seed <= 120; ++seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes = db;
    const int flips = 1 + static_cast<int>(rng() % 24);
    for (int i = 0; i < flips; ++i) {
      // Half the flips land in the header and the page headers, where a
      // single bit does the most harm.
      const size_t at = rng() % 2 ? rng() % bytes.size()
                                  : (rng() % (bytes.size() / 1024)) * 1024 + rng() % 16;
      bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    std::vector<std::string> args = modes[seed % modes.size()];
    if (seed % 20 == 0) args.push_back("-d");
    check(bytes, args, "seed " + std::to_string(seed));
  }
}

TEST_F(hostile, WildPageSizesEndCleanly) {
  const std::vector<uint8_t> db = small_db();
  for (const uint32_t field : {0u, 1u, 3u, 65535u}) {
    std::vector<uint8_t> bytes = db;
    put16(bytes, 16, field);
    const run_result r = check(bytes, {}, "page size field " + std::to_string(field));
    if (field == 0) {
      EXPECT_EQ(r.status, 1);  // no page size to walk by
    }
    check(bytes, {"--freespace", "--fine-search"}, "field " + std::to_string(field));
  }
  for (const char* size : {"1", "3", "-1", "2147483647"}) {
    const run_result r = check(db, {std::string("--page-size=") + size}, size);
    EXPECT_EQ(r.status, 0) << size;
    check(db, {std::string("--page-size=") + size, "--fine-search", "--freespace"}, size);
  }
  // Page sizes of -1 and 2147483647 leave page 1 alone, which is never searched.
  EXPECT_EQ(check(db, {"--page-size=-1"}, "-1").out, "");
  EXPECT_EQ(check(db, {"--page-size=2147483647"}, "max").out, "");
}

TEST_F(hostile, LoopingFreeblockChainsEnd) {
  const std::vector<uint8_t> db = small_db();
  const size_t page = 512;
  int patched = 0;
  for (size_t p = page; p + page <= db.size(); p += page) {
    if (db[p] != 13 || be16(db, p + 1) == 0) continue;
    const uint32_t first = be16(db, p + 1);
    ASSERT_LE(first + 4, page);
    // The first freeblock names itself as the next one.
    std::vector<uint8_t> self = db;
    put16(self, p + first, first);
    check(self, {"-d"}, "freeblock names itself");
    check(self, {"--freespace"}, "freeblock names itself");
    // The chain's second freeblock leads back to the first; with one
    // freeblock only, the next offset leaves the page instead.
    std::vector<uint8_t> back = db;
    const uint32_t second = be16(db, p + first);
    if (second != 0 && second + 4 <= page)
      put16(back, p + second, first);
    else
      put16(back, p + first, 0xFFFF);
    check(back, {"-d", "--freespace"}, "chain leads back");
    // A first freeblock past the page's end, and one whose size is below 4.
    std::vector<uint8_t> wild = db;
    put16(wild, p + 1, 0xFFF0);
    check(wild, {"-d", "--freespace"}, "freeblock past the page");
    std::vector<uint8_t> tiny = db;
    put16(tiny, p + first + 2, 2);
    check(tiny, {"-d", "--freespace"}, "freeblock size 2");
    ++patched;
  }
  EXPECT_GT(patched, 0) << "no table leaf with a freeblock";
}

TEST_F(hostile, LoopingOverflowChainEnds) {
  const std::string path = dir.file("overflow.db");
  make_db(path, "CREATE TABLE t(a, b); INSERT INTO t VALUES(1, hex(zeroblob(5000)));", 4096);
  std::vector<uint8_t> db = read_file(path);
  const size_t page = 4096;
  // The row is page 2's only cell and ends at the page's end, with its first
  // overflow page number in the page's last four bytes.
  const uint32_t first = be32(db, 2 * page - 4);
  ASSERT_GE(first, 3u);
  uint32_t last = first;
  while (be32(db, (last - 1) * page) != 0) last = be32(db, (last - 1) * page);
  put32(db, (last - 1) * page, first);
  const run_result r = check(db, {}, "overflow chain loops");
  EXPECT_NE(r.out.find("ERROR: No more space for overflow pages\n"), std::string::npos);
  check(db, {"--fine-search"}, "overflow chain loops, --fine-search");
  // A page that names itself as its successor.
  put32(db, (first - 1) * page, first);
  check(db, {"-d"}, "overflow page names itself");
}

TEST_F(hostile, HeaderClaimsFarMorePagesThanTheFile) {
  const std::string path = dir.file("claims.db");
  make_db(path,
          "CREATE TABLE t(a, b);"
          "INSERT INTO t VALUES(1, hex(zeroblob(5000))), (2, 'short'), (3, 'also short');",
          4096);
  const std::vector<uint8_t> db = read_file(path);
  for (const uint32_t count : {0x7FFFFFFFu, 0xFFFFFFFFu, 100000u}) {
    std::vector<uint8_t> bytes = db;
    put32(bytes, 28, count);
    check(bytes, {}, "page count " + std::to_string(count));
    // Cut to three pages: the overflow pages the header still claims are gone.
    bytes.resize(3 * 4096);
    check(bytes, {"-d"}, "cut, page count " + std::to_string(count));
    check(bytes, {"--fine-search"}, "cut, page count " + std::to_string(count));
  }
}

TEST_F(hostile, ExtremeCellCountLimits) {
  const std::string path = dir.file("cells.db");
  make_db(path,
          "CREATE TABLE one(a); INSERT INTO one VALUES('single cell');"
          "CREATE TABLE t(a, b, c); INSERT INTO t VALUES(7, 'seven', 7.5);");
  const std::vector<uint8_t> db = read_file(path);
  const run_result wide = check(db, {"--cellcount-max=2147483647"}, "cellcount-max");
  EXPECT_NE(wide.out.find("1,x7,\"seven\",7.500000\n"), std::string::npos) << wide.out;
  const run_result low = check(db, {"--cellcount-min=-5"}, "cellcount-min");
  EXPECT_NE(low.out.find("1,\"single cell\"\n"), std::string::npos) << low.out;
  EXPECT_NE(low.out.find("1,x7,\"seven\",7.500000\n"), std::string::npos) << low.out;
  check(db, {"--cellcount-min=-5", "--cellcount-max=2147483647", "--fine-search", "--rowsize-min=0"},
        "both limits");
}

// Every input under fuzz/regressions once made the fuzz target fail: replay
// each with the settings its option bytes choose.
TEST_F(hostile, FuzzRegressionsEndCleanly) {
  const std::filesystem::path folder =
      std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz" / "regressions";
  ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
    const std::vector<uint8_t> input = read_file(entry.path().string());
    if (input.size() <= fuzz_option_bytes) continue;
    const fuzz_files files = fuzz_split(input.data(), input.size());
    const auto at = [&](uint64_t offset) { return input.begin() + static_cast<ptrdiff_t>(offset); };
    const std::vector<uint8_t> image(at(files.db_at), at(files.db_at + files.db_size));
    const std::string log = dir.file("input.log");
    write_file(log, std::vector<uint8_t>(at(files.log_at), at(files.log_at + files.log_size)));
    const fuzz_settings settings = fuzz_decode_options(input.data(), image.size());
    check(image, fuzz_arguments(settings, files, log), entry.path().filename().string());
    ++replayed;
  }
  RecordProperty("replayed", replayed);
}

}  // namespace
