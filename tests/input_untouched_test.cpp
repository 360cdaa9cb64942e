// The input is evidence: no run, in any mode, may change its bytes or its
// modification time.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

timespec modification_time(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(stat(path.c_str(), &status), 0);
  return status.st_mtim;
}

TEST(InputUntouched, NoModeWritesTheInput) {
  scratch_dir dir;
  const std::string db = dir.file("evidence.db");
  make_db(db,
          "CREATE TABLE t(a, b, c);"
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60) "
          "INSERT INTO t SELECT i, 'row ' || i, randomblob(40 + i) FROM n;"
          "INSERT INTO t VALUES(99, hex(zeroblob(3000)), zeroblob(6000));"
          "DELETE FROM t WHERE a % 3 = 0;",
          1024);
  // Old enough that a write during the runs would change it visibly even on
  // a coarse clock.
  const std::string touch_args = "200001010000";
  ASSERT_EQ(run_program({"touch", "-t", touch_args, db}).status, 0);
  const std::vector<uint8_t> before = read_file(db);
  const timespec mtime = modification_time(db);
  // The blob files go to a folder of their own, apart from the input.
  scratch_dir work;
  spawn_options options;
  options.cwd = work.path;
  const std::vector<std::vector<std::string>> modes = {
      {}, {"--fine-search"}, {"--freespace"}, {"--removed-only"}, {"-d"}, {"--no-blobs"},
      {"--blob-size-limit=0"}, {"--blob-size-limit=100", "--freespace", "-d"},
      {"--page-size=512"}, {"--page-size=1"}, {"--cellcount-min=0", "--cellcount-max=2147483647"},
      {"--rowsize-min=0", "--fine-search", "--freespace"}};
  for (const auto& mode : modes) {
    std::vector<std::string> args{"-i", db};
    args.insert(args.end(), mode.begin(), mode.end());
    EXPECT_EQ(run_sarvek(args, options).status, 0) << mode.size();
  }
  EXPECT_EQ(read_file(db), before);
  const timespec after = modification_time(db);
  EXPECT_EQ(after.tv_sec, mtime.tv_sec);
  EXPECT_EQ(after.tv_nsec, mtime.tv_nsec);
  EXPECT_TRUE(std::filesystem::exists(work.file("0.blob")));  // the blob runs did write
}

}  // namespace
