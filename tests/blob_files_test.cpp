// Blob files: numbering over the run, permissions, overwriting, refusals,
// and where their error lines fall among the rows.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "output/render.h"
#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

std::string hex_of(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned char c : bytes) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

// rowid 1: a 50-byte blob, then a 200-byte blob; rowid 2: an empty blob and
// a 100-byte one. Row 2 comes first in the file.
std::string make_blob_db(const scratch_dir& dir) {
  const std::string db = dir.file("blobs.db");
  make_db(db,
          "CREATE TABLE t(id INTEGER PRIMARY KEY, a BLOB, b BLOB);"
          "INSERT INTO t VALUES(1, zeroblob(50), randomblob(200));"
          "INSERT INTO t VALUES(2, x'', randomblob(100));");
  return db;
}

std::string file_text(const std::string& path) {
  const std::vector<uint8_t> b = read_file(path);
  return {b.begin(), b.end()};
}

}  // namespace

TEST(BlobFiles, NumberingPermissionsAndOverwrite) {
  scratch_dir dir;
  const std::string db = make_blob_db(dir);
  const std::string work = dir.file("out");
  mkdir(work.c_str(), 0700);
  write_file(work + "/1.blob", std::string(5000, 'z'));  // left by an earlier run

  // Limit 100: row 2's empty blob (number 0) is inline, its 100-byte blob
  // goes to 1.blob; row 1's 50-byte blob (2) is inline, the 200-byte one
  // goes to 3.blob.
  run_result r = run_sarvek({"-i", db, "--blob-size-limit=100"}, {.cwd = work});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "2,NULL,x'',\n1,NULL,x'" + std::string(100, '0') + "',\n");
  const std::string b1 = file_text(work + "/1.blob"), b3 = file_text(work + "/3.blob");
  EXPECT_EQ(b1.size(), 100u);  // overwritten and truncated
  EXPECT_EQ(b3.size(), 200u);
  EXPECT_FALSE(access((work + "/0.blob").c_str(), F_OK) == 0);
  EXPECT_FALSE(access((work + "/2.blob").c_str(), F_OK) == 0);
  struct stat st {};
  ASSERT_EQ(stat((work + "/3.blob").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // The file holds exactly the blob's bytes: the same as the inline form.
  r = run_sarvek({"-i", db}, {.cwd = work});
  EXPECT_EQ(r.out, "2,NULL,x'',x'" + hex_of(b1) + "'\n1,NULL,x'" + std::string(100, '0') + "',x'" +
                       hex_of(b3) + "'\n");

  // Limit 0: every blob goes to a file, the empty one to an empty file;
  // under -d the fields name the files.
  r = run_sarvek({"-i", db, "--blob-size-limit=0"}, {.cwd = work});
  EXPECT_EQ(r.out, "2,NULL,,\n1,NULL,,\n");
  EXPECT_EQ(file_text(work + "/0.blob"), "");
  EXPECT_EQ(file_text(work + "/2.blob"), std::string(50, '\0'));
  r = run_sarvek({"-i", db, "--blob-size-limit=0", "-d"}, {.cwd = work});
  std::string fields;
  for (const std::string& line : split_lines(r.out))
    if (line.rfind("\"", 0) == 0) fields += line.substr(0, line.find('"', 1) + 1) + "|";
  EXPECT_EQ(fields, "\"0.blob\"|\"1.blob\"|\"2.blob\"|\"3.blob\"|");

  // --no-blobs: empty fields, and the suppressed blobs are still counted.
  r = run_sarvek({"-i", db, "--no-blobs"}, {.cwd = work});
  EXPECT_EQ(r.out, "2,NULL,,\n1,NULL,,\n");
}

TEST(BlobFiles, SymbolicLinkIsRefusedAndTheRowGoesOn) {
  scratch_dir dir;
  const std::string db = make_blob_db(dir);
  const std::string work = dir.file("out");
  mkdir(work.c_str(), 0700);
  const std::string target = dir.file("elsewhere");
  write_file(target, std::string("untouched"));
  ASSERT_EQ(symlink(target.c_str(), (work + "/1.blob").c_str()), 0);

  run_result r = run_sarvek({"-i", db, "--blob-size-limit=100"}, {.cwd = work});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Cannot open 1.blob (Too many levels of symbolic links)\n");
  EXPECT_EQ(r.out, "2,NULL,x'',\n1,NULL,x'" + std::string(100, '0') + "',\n");
  EXPECT_EQ(file_text(target), "untouched");
  EXPECT_EQ(file_text(work + "/3.blob").size(), 200u);

  // On one pipe the message comes after the previous row's line and before
  // the line of its own row.
  const std::string db2 = dir.file("three.db");
  make_db(db2,
          "CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b BLOB);"
          "INSERT INTO t VALUES(1, 'first row', x'01');"
          "INSERT INTO t VALUES(2, 'second row', x'0202');"
          "INSERT INTO t VALUES(3, 'third row', x'03');");
  ASSERT_EQ(unlink((work + "/1.blob").c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), (work + "/1.blob").c_str()), 0);
  r = run_sarvek({"-i", db2, "--blob-size-limit=0"}, {.cwd = work, .merge_streams = true});
  EXPECT_EQ(r.merged,
            "3,NULL,\"third row\",\n"
            "Cannot open 1.blob (Too many levels of symbolic links)\n"
            "2,NULL,\"second row\",\n"
            "1,NULL,\"first row\",\n");
}

TEST(BlobFiles, ShortWriteIsReported) {
  scratch_dir dir;
  // A child with a 10-byte file-size limit writes a 20-byte blob: one short
  // write, reported, and the process lives on (no retry past the limit).
  int err_pipe[2];
  ASSERT_EQ(pipe(err_pipe), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(err_pipe[1], 2);
    close(err_pipe[0]);
    if (chdir(dir.path.c_str()) != 0) _exit(3);
    rlimit limit{10, 10};
    setrlimit(RLIMIT_FSIZE, &limit);
    globals g{};
    globals_init(&g);
    g.out.blob_count = 4;
    const uint8_t data[20] = {1, 2, 3};
    const int result = write_blob_file(&g, data, 20);
    _exit(result == 1 ? 0 : 2);
  }
  close(err_pipe[1]);
  std::string err;
  char buf[256];
  for (ssize_t n; (n = read(err_pipe[0], buf, sizeof buf)) > 0;) err.append(buf, static_cast<size_t>(n));
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(err, "Wrote 10 of 20 bytes to 4.blob ( Success )\n");
  EXPECT_NE(access(dir.file("4.blob").c_str(), F_OK), 0);  // the incomplete file is removed
}
