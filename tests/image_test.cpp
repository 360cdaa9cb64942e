// The database image: header fields, their -d lines, and the orderly end of a
// run on input that cannot be used.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"
#include "setup/globals.h"
#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

uint32_t be32(const std::vector<uint8_t>& bytes, size_t at) {
  return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 |
         bytes[at + 3];
}

std::string header_lines(uint32_t page_size, uint32_t pages, uint32_t trunk, uint32_t count) {
  return "Pagesize: " + std::to_string(page_size) + ", Pagecount: " + std::to_string(pages) +
         "\nFirst page of freelist trunk: " + std::to_string(trunk) +
         "\nFreelist page count: " + std::to_string(count) +
         "\nF:L:DEBUG: Commence decoding data\n";
}

TEST(DatabaseImage, HeaderLinesOfSQLiteDatabases) {
  scratch_dir dir;
  const std::string path = dir.file("three.db");
  make_db(path, "CREATE TABLE a(x); CREATE TABLE b(y); INSERT INTO a VALUES (1);");
  ASSERT_EQ(read_file(path).size(), 3u * 4096u);
  run_result r = run_sarvek({"-d", "-i", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(mask_debug(r.out).rfind(header_lines(4096, 3, 0, 0), 0), 0u) << r.out.substr(0, 300);

  // A freelist: dropping a table of many pages leaves trunk and leaf pages.
  const std::string freed = dir.file("freed.db");
  make_db(freed,
          "CREATE TABLE k(x); CREATE TABLE big(v);"
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<20)"
          " INSERT INTO big SELECT randomblob(300) FROM n;"
          "DROP TABLE big;",
          1024);
  const std::vector<uint8_t> bytes = read_file(freed);
  ASSERT_GT(be32(bytes, 36), 0u);
  run_result f = run_sarvek({"-d", "-i", freed});
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(mask_debug(f.out).rfind(header_lines(1024, static_cast<uint32_t>(bytes.size() / 1024),
                                                 be32(bytes, 32), be32(bytes, 36)),
                                    0),
            0u)
      << f.out.substr(0, 300);
}

// Reads the header of an exact-size buffer in-process.
struct header_run {
  globals g;
  std::string out;
  int status;
  header_run(const std::vector<uint8_t>& bytes, uint32_t forced_page_size = 0) {
    globals_init(&g);
    g.opt.debug = 1;
    g.page_size = forced_page_size;
    image_attach(&g, bytes.data(), bytes.size());
    out = capture_stdout([&] { status = image_read_header(&g); });
  }
};

TEST(DatabaseImage, HeaderFieldsInProcess) {
  std::vector<uint8_t> bytes(40, 0);
  bytes[16] = 0x10;
  for (int i = 0; i < 12; ++i) bytes[28 + i] = static_cast<uint8_t>(0xA0 + i);
  {
    header_run h(bytes);
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.g.page_size, 4096u);
    EXPECT_EQ(h.g.page_count, 0xA0A1A2A3u);
    EXPECT_EQ(h.g.freelist_trunk, 0xA4A5A6A7u);
    EXPECT_EQ(h.g.freelist_count, 0xA8A9AAABu);
    EXPECT_EQ(h.g.walk.page, bytes.data());
    EXPECT_EQ(h.g.walk.cfp, bytes.data());
    EXPECT_EQ(h.g.db_end, bytes.data() + 39);
    // The two freelist lines print the fields as signed numbers.
    EXPECT_EQ(mask_debug(h.out), "Pagesize: 4096, Pagecount: 2694947491\n"
                                 "First page of freelist trunk: -1532647769\n"
                                 "Freelist page count: -1465275733\n"
                                 "F:L:DEBUG: Commence decoding data\n");
  }
  bytes[16] = 0x80;
  EXPECT_EQ(header_run(bytes).g.page_size, 32768u);
  bytes[16] = 0x00;
  bytes[17] = 0x01;  // the format's code for 65536
  EXPECT_EQ(header_run(bytes).g.page_size, 65536u);
  // A forced page size is used as given, even 1; a damaged header field does no harm.
  bytes[16] = bytes[17] = 0xFF;
  EXPECT_EQ(header_run(bytes, 1).g.page_size, 1u);
  EXPECT_EQ(header_run(bytes, 512).g.page_size, 512u);

  // Header bytes past the end of a short file read as 0.
  std::vector<uint8_t> short_file(bytes.begin(), bytes.begin() + 30);
  short_file[16] = 0x02;
  short_file[17] = 0x00;
  header_run s(short_file);
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.g.page_size, 512u);
  EXPECT_EQ(s.g.page_count, 0xA0A10000u);
  EXPECT_EQ(s.g.freelist_trunk, 0u);
  EXPECT_EQ(s.g.freelist_count, 0u);
  std::vector<uint8_t> seventeen(17, 0);
  seventeen[16] = 0x04;
  EXPECT_EQ(header_run(seventeen).g.page_size, 1024u);
}

TEST(DatabaseImage, UnusableInputEndsInOrder) {
  scratch_dir dir;
  const std::string empty = dir.file("empty.db"), zero = dir.file("zero.db"),
                    ten = dir.file("ten.db"), twenty = dir.file("twenty.db");
  write_file(empty, std::string());
  std::vector<uint8_t> bytes(200, 0x41);
  bytes[16] = bytes[17] = 0;
  write_file(zero, bytes);
  write_file(ten, std::vector<uint8_t>(10, 0x7F));
  std::vector<uint8_t> small(20, 0);
  small[17] = 0x01;
  write_file(twenty, small);

  for (bool debug : {false, true}) {
    auto run = [&](const std::string& path) {
      std::vector<std::string> args{"-i", path};
      if (debug) args.insert(args.begin(), "-d");
      return run_sarvek(args);
    };
    run_result missing = run(dir.file("missing.db"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "ERROR: Cannot access input file '" + dir.file("missing.db") +
                               "' ( No such file or directory )\n");
    for (const std::string& path : {dir.path, empty, zero, ten}) {
      run_result r = run(path);
      EXPECT_EQ(r.status, 1) << path;
      EXPECT_EQ(r.out, "") << path;
      EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u) << r.err;
      EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
      EXPECT_EQ(split_lines(r.err).size(), 1u) << r.err;
      EXPECT_EQ(r.err.back(), '\n');
    }
    // A 20-byte file with a page size runs; page 1 is never searched.
    run_result t = run(twenty);
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(t.err, "");
    if (!debug) {
      EXPECT_EQ(t.out, "");
    } else {
      EXPECT_EQ(mask_debug(t.out).rfind(header_lines(65536, 0, 0, 0), 0), 0u) << t.out;
    }
  }
  // A page size given on the command line rescues a zero header field.
  run_result rescued = run_sarvek({"-i", zero, "--page-size=100"});
  EXPECT_EQ(rescued.status, 0);
  EXPECT_EQ(rescued.err, "");
}

}  // namespace
