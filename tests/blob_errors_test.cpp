// Blob files that cannot be created: every file-bound blob reports its
// "Cannot open" line on standard error, every row is still printed whole,
// and the run ends with status 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

// The blob files of a folder, by number, with their contents.
std::map<int, std::vector<uint8_t>> blob_files(const std::string& folder) {
  std::map<int, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.size() > 5 && name.ends_with(".blob"))
      files[std::stoi(name)] = read_file(entry.path().string());
  }
  return files;
}

TEST(BlobErrors, UncreatableBlobFilesLoseNoRow) {
  scratch_dir dir;
  const std::string db = dir.file("blobs.db");
  make_db(db,
          "CREATE TABLE t(a, b, c, d);"
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30) "
          "INSERT INTO t SELECT i, randomblob(4 + i), 'after ' || i, "
          "CASE WHEN i % 3 = 0 THEN randomblob(40) ELSE x'0A0B' END FROM n;"
          "INSERT INTO t VALUES(77, randomblob(7000), 'overflowing', randomblob(20));",
          4096);
  const std::vector<std::string> args{"-i", db, "--blob-size-limit=16"};

  // Reference: a folder where every blob file can be written.
  scratch_dir clean;
  spawn_options options;
  options.cwd = clean.path;
  const run_result reference = run_sarvek(args, options);
  ASSERT_EQ(reference.status, 0);
  EXPECT_EQ(reference.err, "");
  const std::map<int, std::vector<uint8_t>> written = blob_files(clean.path);
  ASSERT_GT(written.size(), 20u);
  EXPECT_NE(reference.out.find("\n31,x77,,\"overflowing\",\n"), std::string::npos) << reference.out;

  // Every blob file's name taken by a folder: one line per blob, rows as before.
  scratch_dir blocked;
  for (const auto& [number, bytes] : written)
    std::filesystem::create_directory(blocked.file(std::to_string(number) + ".blob"));
  options.cwd = blocked.path;
  const run_result all = run_sarvek(args, options);
  EXPECT_EQ(all.status, 2);
  EXPECT_TRUE(blob_files(blocked.path).empty());  // no file left behind
  EXPECT_EQ(all.out, reference.out);
  std::string expected_err;
  for (const auto& [number, bytes] : written)
    expected_err += "Cannot open " + std::to_string(number) + ".blob (Is a directory)\n";
  EXPECT_EQ(all.err, expected_err);

  // Only the even numbers blocked: the odd ones are still written in full.
  scratch_dir half;
  expected_err.clear();
  for (const auto& [number, bytes] : written)
    if (number % 2 == 0) {
      std::filesystem::create_directory(half.file(std::to_string(number) + ".blob"));
      expected_err += "Cannot open " + std::to_string(number) + ".blob (Is a directory)\n";
    }
  options.cwd = half.path;
  const run_result some = run_sarvek(args, options);
  EXPECT_EQ(some.status, 2);
  EXPECT_EQ(some.out, reference.out);
  EXPECT_EQ(some.err, expected_err);
  for (const auto& [number, bytes] : blob_files(half.path)) {
    EXPECT_EQ(number % 2, 1);
    EXPECT_EQ(bytes, written.at(number)) << number;
  }

  // Under -d the field names the file whether or not it could be written.
  options.cwd = blocked.path;
  const run_result debug = run_sarvek({"-i", db, "--blob-size-limit=16", "-d"}, options);
  EXPECT_EQ(debug.status, 2);
  EXPECT_NE(debug.out.find("\"0.blob\""), std::string::npos);
  EXPECT_NE(debug.err.find("Cannot open 0.blob (Is a directory)\n"), std::string::npos);
}

}  // namespace
