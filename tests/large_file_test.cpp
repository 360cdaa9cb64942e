// A file of more than 4 GiB: a sparse file whose first page is a real
// database's first page, followed by zeros up to beyond the 4 GiB mark and
// then the database's other pages, at a multiple of the page size. The
// walker steps through the zeros page by page and must find the rows there
// with the same content as in the database itself. Runs only when
// SARVEK_LARGE_TESTS is set (the "large" test preset sets it).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

TEST(LargeFile, RowsBeyondFourGiBAreFound) {
  if (!getenv("SARVEK_LARGE_TESTS")) GTEST_SKIP() << "set SARVEK_LARGE_TESTS=1 to run";
  scratch_dir dir;
  const std::string db = dir.file("small.db");
  constexpr uint64_t page = 4096;
  make_db(db,
          "CREATE TABLE t(a, b, c, d);"
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) "
          "INSERT INTO t SELECT i, 'row ' || i, i * 1.5, x'C0FFEE' FROM n;"
          "DELETE FROM t WHERE a % 7 = 0;",
          page);
  const std::vector<uint8_t> bytes = read_file(db);
  ASSERT_EQ(bytes.size() % page, 0u);
  ASSERT_GE(bytes.size(), 3 * page);

  // Pages 2.. of the database start 4 GiB + 3 pages into the file.
  const uint64_t shifted = (uint64_t{1} << 32) + 3 * page;
  const std::string big = dir.file("big.db");
  const int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, bytes.data(), page, 0), static_cast<ssize_t>(page));
  const size_t rest = bytes.size() - page;
  ASSERT_EQ(pwrite(fd, bytes.data() + page, rest, static_cast<off_t>(shifted)),
            static_cast<ssize_t>(rest));
  close(fd);

  for (const std::vector<std::string>& mode :
       {std::vector<std::string>{}, std::vector<std::string>{"--freespace"}}) {
    std::vector<std::string> args{"-i", db};
    args.insert(args.end(), mode.begin(), mode.end());
    const run_result expected = run_sarvek(args);
    ASSERT_EQ(expected.status, 0);
    ASSERT_FALSE(expected.out.empty());
    args[1] = big;
    const run_result found = run_sarvek(args);
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.err, "");
    EXPECT_EQ(found.out, expected.out);
    if (mode.empty()) {
      // Every live row with its content. Row 1 is left out: the copy met
      // first is an older one whose cell runs past its page's end, and is
      // read from the next page as it lies there.
      const std::string out = "\n" + found.out;
      for (int i = 2; i <= 200; ++i) {
        if (i % 7 == 0) continue;
        char line[96];
        snprintf(line, sizeof line, "\n%d,%s%d,\"row %d\",%.6f,x'C0FFEE'\n", i, i < 128 ? "x" : "",
                 i, i, i * 1.5);
        EXPECT_NE(out.find(line), std::string::npos) << line;
      }
      EXPECT_GE(split_lines(found.out).size(), 200u - 28u);
    }
  }
}

}  // namespace
