// Blob files by row in the deep mode: named <table>-<key>-<column>.<ext>
// with the extension from the content, never over a file or through a
// symbolic link, mode 0600; the export's sarvek_blobs lists every blob with
// the SHA-256 that sha256sum computes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/config_db.h"
#include "support/deep_output.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

std::string file_text(const std::string& path) {
  const std::vector<uint8_t> bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

// A 1x1 PNG.
const std::string png(
    "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89\0\0\0\rIDATx\x9c" "c\xf8\x0f"
    "\0\0\x01\x01\0\x05\x18\xd8N\0\0\0\0IEND\xae" "B`\x82",
    67);

}  // namespace

TEST(DeepBlobs, FilesByRowWithTheirTypesAndHashes) {
  scratch_dir dir;
  const std::string inner = dir.file("inner.db");
  make_db(inner, "CREATE TABLE x(a); INSERT INTO x VALUES(1);");
  run_program({"sh", "-c", "printf 'hello hello hello hello' | gzip -c > \"$0\"", dir.file("g.gz")});
  std::string noise(600, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) % 251);
  const std::map<std::string, std::pair<std::string, std::string>> blobs = {
      // column -> bytes, extension
      {"png", {png, "png"}},
      {"pdf", {"%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n%%EOF\n", "pdf"}},
      {"gz", {file_text(dir.file("g.gz")), "gz"}},
      {"db", {file_text(inner), "sqlite"}},
      {"raw", {noise, "bin"}}};
  const std::string db = dir.file("b.db");
  sqlite3* h = open_layout_db(db, {});
  run_sql(h, "CREATE TABLE \"../m e\"(id INTEGER PRIMARY KEY, png, pdf, gz, db, raw, small);"
             "CREATE TABLE kv(k TEXT PRIMARY KEY, \"con\") WITHOUT ROWID;");
  for (int id : {5, 6})
    insert_row(h, "INSERT INTO \"../m e\" VALUES(" + std::to_string(id) + ",?,?,?,?,?,?)",
               {bind_blob(blobs.at("png").first), bind_blob(blobs.at("pdf").first), bind_blob(blobs.at("gz").first),
                bind_blob(blobs.at("db").first), bind_blob(blobs.at("raw").first), bind_blob("tiny")});
  insert_row(h, "INSERT INTO kv VALUES('a', ?)", {bind_blob(png)});
  sqlite3_close(h);

  const std::string work = dir.file("work");
  std::filesystem::create_directory(work);
  // A file that has the first name already, and a symbolic link that has
  // the second: neither is written to.
  write_file(work + "/___m_e-5-png.png", std::string("mine"));
  std::filesystem::create_symlink(dir.file("target"), work + "/___m_e-5-pdf.pdf");
  const run_result r =
      run_sarvek({"-i", db, "--deep", "--blob-size-limit=20", "--export=" + dir.file("e.db")}, {work});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(file_text(work + "/___m_e-5-png.png"), "mine");
  EXPECT_FALSE(std::filesystem::exists(dir.file("target")));

  std::map<std::string, std::string> printed;  // "key column" -> the CSV's field
  for (const deep_csv_row& row : parse_deep_csv(r.out)) {
    if (row.table == "../m e")
      for (size_t c = 1; c < row.values.size(); ++c)
        printed[row.rowid + " " + std::vector<std::string>{"", "png", "pdf", "gz", "db", "raw", "small"}[c]] =
            row.values[c];
    if (row.table == "kv") printed["kv"] = row.values[1];
  }
  for (const auto& [column, content] : blobs) {
    EXPECT_EQ(printed["6 " + column], "___m_e-6-" + column + "." + content.second);
    const std::string five = "___m_e-5-" + column + (column == "png" || column == "pdf" ? "_2" : "") + "." + content.second;
    EXPECT_EQ(printed["5 " + column], five);
    for (const std::string& name : {five, printed["6 " + column]}) {
      EXPECT_TRUE(file_text(work + "/" + name) == content.first) << name;
      struct stat st{};
      ASSERT_EQ(lstat((work + "/" + name).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
  }
  EXPECT_EQ(printed["5 small"], "x'74696E79'");
  EXPECT_EQ(printed["6 small"], "x'74696E79'");
  // No rowid: the key is page_offset; a column named con is made safe.
  const std::string kv_key = printed["kv"].substr(3, printed["kv"].size() - 12);
  EXPECT_TRUE(printed["kv"].starts_with("kv-") && printed["kv"].ends_with("-_con.png") &&
              kv_key.find('_') != std::string::npos && kv_key.find_first_not_of("0123456789_") == std::string::npos)
      << printed["kv"];

  // sarvek_blobs: every blob, inline ones too, with sha256sum's hash of each
  // file (and of the inline bytes).
  const run_result listed = run_program({"sqlite3", dir.file("e.db"),
                                         "SELECT \"table\", key, \"column\", ifnull(file, ''), size, sha256, media_type"
                                         " FROM sarvek_blobs WHERE file IS NOT NULL ORDER BY file"});
  std::string expected;
  std::map<std::string, std::string> sorted;
  for (const auto& [key, field] : printed)
    if (!key.ends_with(" small")) sorted[field] = key;
  for (const auto& [file, key] : sorted) {
    const std::string hash = run_program({"sha256sum", work + "/" + file}).out.substr(0, 64);
    const std::string media = run_program({"file", "-b", "--mime-type", work + "/" + file}).out;
    const bool kv = key == "kv";
    expected += std::string(kv ? "kv" : "../m e") + "|" + (kv ? printed["kv"].substr(3, printed["kv"].size() - 12) : key.substr(0, 1)) + "|" +
                (kv ? "con" : key.substr(2)) + "|" + file + "|" + std::to_string(std::filesystem::file_size(work + "/" + file)) +
                "|" + hash + "|" + media;
  }
  EXPECT_EQ(listed.out, expected);
  const run_result inline_blob = run_program(
      {"sqlite3", dir.file("e.db"), "SELECT size, sha256 FROM sarvek_blobs WHERE file IS NULL AND \"column\" = 'small'"});
  EXPECT_EQ(inline_blob.out, "4|" + run_program({"sh", "-c", "printf tiny | sha256sum"}).out.substr(0, 64) + "\n4|" +
                                 run_program({"sh", "-c", "printf tiny | sha256sum"}).out.substr(0, 64) + "\n");
}

// With --out-dir=, blob files go into the folder beside the tables' files,
// and their names never take a table file's.
TEST(DeepBlobs, FilesGoToTheOutputFolder) {
  scratch_dir dir;
  const std::string db = dir.file("b.db");
  sqlite3* h = open_layout_db(db, {});
  run_sql(h, "CREATE TABLE t(id INTEGER PRIMARY KEY, c BLOB); CREATE TABLE \"t-1-c\"(x);");
  insert_row(h, "INSERT INTO t VALUES(1, ?)", {bind_blob("a,b\n1,2\n3,4\n" + std::string(40, 'q'))});
  sqlite3_close(h);
  const std::string work = dir.file("work");
  std::filesystem::create_directory(work);
  const run_result r = run_sarvek({"-i", db, "--deep", "--blob-size-limit=1", "--out-dir=" + dir.file("out")}, {work});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_empty(work));
  const std::string table_file = file_text(dir.file("out/t.csv"));
  const size_t name_at = table_file.find("t-1-c.");
  ASSERT_NE(name_at, std::string::npos) << table_file;
  const std::string blob = table_file.substr(name_at, table_file.find('\n', name_at) - name_at);
  EXPECT_EQ(file_text(dir.file("out/" + blob)), "a,b\n1,2\n3,4\n" + std::string(40, 'q'));
  EXPECT_EQ(file_text(dir.file("out/t-1-c.csv")).substr(0, 27), "status,source,reading,page,");
}
