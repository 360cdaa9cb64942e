// Payload assembly: rows read in place or gathered across overflow pages,
// and the rows refused before their line is printed.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "image/image.h"
#include "output/dump_row.h"
#include "recognition/decode_row.h"
#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

// Four pages of 1024 bytes. Page 2 holds a cell whose local part of
// `local` bytes ends right before the page's last 4 bytes, its first
// overflow page number (3); page 3 chains to page 4. Every data byte is
// patterned, so the gathered payload can be rebuilt and compared.
struct overflow_image {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(4096, 0);
  globals g{};
  row_record row{};
  const size_t cell_at;
  overflow_image(std::vector<uint8_t> cell_start, size_t local) : cell_at(2048 - 4 - local - 3) {
    for (size_t i = 1024; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    memcpy(bytes.data() + cell_at, cell_start.data(), cell_start.size());
    put32(2048 - 4, 3);
    put32(2048, 4);
    put32(3072, 0);
    globals_init(&g);
    image_attach(&g, bytes.data(), bytes.size());
    g.page_size = 1024;
    g.page_count = 4;
    row_record_bind(&g, &row);
  }
  ~overflow_image() { globals_release(&g); }
  void put32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  }
  const uint8_t* cell() const { return bytes.data() + cell_at; }
  const uint8_t* page_end() const { return bytes.data() + 2048; }
  // The bytes in the order the assembly lays them: the cell's bytes before
  // the overflow pointer, then 1020 data bytes of pages 3 and 4.
  std::vector<uint8_t> gathered() const {
    std::vector<uint8_t> v(bytes.begin() + cell_at, bytes.begin() + 2048 - 4);
    v.insert(v.end(), bytes.begin() + 2048 + 4, bytes.begin() + 3072);
    v.insert(v.end(), bytes.begin() + 3072 + 4, bytes.end());
    return v;
  }
  int32_t decode() { return decode_row(&g, cell(), page_end(), &row, 0, 0); }
  std::string dump(int* result = nullptr, int32_t mode = 0) {
    return capture_stdout([&] {
      const int r = dump_row(&g, cell(), page_end(), &row, mode);
      if (result) *result = r;
    });
  }
};

std::string hex(const std::vector<uint8_t>& v, size_t from, size_t to) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = from; i < to; ++i) {
    s += digits[v[i] >> 4];
    s += digits[v[i] & 15];
  }
  return s;
}

// The lines of a -d output that are not hex dump rows.
std::vector<std::string> narration(const std::string& out) {
  std::vector<std::string> lines;
  for (const std::string& line : split_lines(mask_debug(out)))
    if (line.find(" [") != 4) lines.push_back(line);
  return lines;
}

}  // namespace

TEST(Assembly, OverflowPagesAreGatheredInChainOrder) {
  // rowid 4, payload length 2800 (760 bytes on the page): cells x?, x? and a
  // 2793-byte blob at offset 10 (buffer capacity 2900).
  overflow_image im({0x95, 0x70, 0x04, 0x05, 0x01, 0x01, 0xAB, 0x5E}, 760);
  ASSERT_EQ(im.decode(), 1);
  ASSERT_EQ(im.row.overflow_pages[0], 3u);
  const std::vector<uint8_t> data = im.gathered();
  const std::string line = "4,x" + std::to_string(static_cast<int8_t>(data[8])) + ",x" +
                           std::to_string(static_cast<int8_t>(data[9])) + ",x'" +
                           hex(data, 10, 2803) + "'\n";
  int result = 1;
  EXPECT_EQ(im.dump(&result), line);
  EXPECT_EQ(result, 0);

  im.g.opt.debug = 1;
  const std::vector<std::string> lines = narration(im.dump());
  const std::vector<std::string> expected = {
      "",
      "-DUMPING ROW------------------",
      "Dump_row starting data: Hexdumping 16 bytes from 0xADDR",
      "",
      "ALLOCATED 2900 bytes to mapped data",
      "Copying data for initial page",
      "Copying data from file to memory for page 3 to offset [763]",
      "Copying data from file to memory for page 4 to offset [1783]",
      "Payload mapped data: Hexdumping 2803 bytes from 0xADDR",
  };
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 9), expected);
}

TEST(Assembly, BytesNoPageSuppliesReadAsXAndCopiesStopAtTheCapacity) {
  // Payload length 3900 (840 bytes on the page), but the chain supplies
  // bytes up to offset 2883 only: the rest of the blob (to offset 3903)
  // reads as X.
  {
    overflow_image im({0x9E, 0x3C, 0x04, 0x05, 0x01, 0x01, 0xBC, 0x76}, 840);
    ASSERT_EQ(im.decode(), 1);
    const std::vector<uint8_t> data = im.gathered();
    const std::string line = im.dump();
    std::string xs;
    for (int i = 2883; i < 3903; ++i) xs += "58";
    EXPECT_EQ(line.substr(line.find("x'")), "x'" + hex(data, 10, 2883) + xs + "'\n");
  }
  // Payload length 1000 (capacity 1100, 103 bytes on the page): page 3
  // alone carries more than the buffer holds; the copy stops at the capacity
  // and so does the mapped data.
  {
    overflow_image im({0x87, 0x68, 0x04, 0x05, 0x01, 0x01, 0x8F, 0x4E}, 103);
    ASSERT_EQ(im.decode(), 1);
    const std::vector<uint8_t> data = im.gathered();
    const std::string line = im.dump();
    EXPECT_EQ(line.substr(line.find("x'")), "x'" + hex(data, 10, 1003) + "'\n");
    im.g.opt.debug = 1;
    const std::string out = mask_debug(im.dump());
    EXPECT_NE(out.find("ALLOCATED 1100 bytes to mapped data\n"), std::string::npos);
    EXPECT_NE(out.find("Payload mapped data: Hexdumping 1100 bytes from 0xADDR\n"), std::string::npos);
  }
}

TEST(Assembly, RefusedRowsPrintNothing) {
  overflow_image im({0x95, 0x70, 0x04, 0x05, 0x01, 0x01, 0xAB, 0x5E}, 760);
  ASSERT_EQ(im.decode(), 1);
  im.g.opt.debug = 1;
  const std::vector<std::string> start = {
      "", "-DUMPING ROW------------------", "Dump_row starting data: Hexdumping 16 bytes from 0xADDR", ""};
  int result = 0;

  // An overflow page whose data part lies outside the image.
  im.row.overflow_pages[1] = 9;
  std::vector<std::string> lines = narration(im.dump(&result));
  EXPECT_EQ(result, -1);
  std::vector<std::string> expected = start;
  expected.insert(expected.end(),
                  {"ALLOCATED 2900 bytes to mapped data", "Copying data for initial page",
                   "Copying data from file to memory for page 3 to offset [763]",
                   "Copying data from file to memory for page 9 to offset [1783]",
                   "F:L:dump_row:ERROR: page seek request outside of boundaries of file (0xADDR < "
                   "0xADDR > 0xADDR)"});
  EXPECT_EQ(lines, expected);
  im.row.overflow_pages[1] = 0;

  // A payload longer than the file; one equal to the file's size passes.
  im.row.payload_length = 4097;
  lines = narration(im.dump(&result));
  EXPECT_EQ(result, -1);
  expected = start;
  expected.push_back("F:L:ERROR: Nonsensical payload length of 4097 requested, ignoring.");
  EXPECT_EQ(lines, expected);
  im.g.opt.debug = 0;
  im.row.payload_length = 4096;
  im.row.last_cell = 1;
  im.dump(&result);
  EXPECT_EQ(result, 0);

  // Cells reaching past what the row may read are refused silently: in
  // place past the end of the file, assembled past the buffer's capacity.
  im.g.opt.debug = 1;
  im.row.payload_length = 1000;
  im.row.cells[1] = {13, 1050, 51};  // ends at 1101, the capacity is 1100
  lines = narration(im.dump(&result));
  EXPECT_EQ(result, -1);
  EXPECT_EQ(lines, start);
  im.row.cells[1] = {13, 1050, 50};
  im.dump(&result);
  EXPECT_EQ(result, 0);

  im.row.overflow_pages[0] = 0;
  const size_t to_end = im.bytes.size() - im.cell_at;
  im.row.cells[1] = {13, static_cast<uint32_t>(to_end - 5), 6};
  lines = narration(im.dump(&result));
  EXPECT_EQ(result, -1);
  EXPECT_EQ(lines, start);
  im.row.cells[1] = {13, static_cast<uint32_t>(to_end - 5), 5};
  im.g.opt.debug = 0;
  memcpy(im.bytes.data() + im.bytes.size() - 5, "tail!", 5);
  const std::string line = im.dump(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(line.substr(line.size() - 9), ",\"tail!\"\n");
}

TEST(Assembly, AllocationFailureIsReportedAndTheRunGoesOn) {
#ifdef SARVEK_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#endif
  scratch_dir dir;
  const std::string db = dir.file("big.db");
  // A 16 MiB blob on 64 KiB pages: about 260 overflow pages. The address
  // space limit leaves room for the mapped file but not for a second copy:
  // 36 MiB, about 8 MiB above what the program, its libraries and the
  // mapped file take, 8 MiB below what the copy would add.
  make_db(db,
          "CREATE TABLE t(id INTEGER PRIMARY KEY, a INTEGER, b BLOB);"
          "INSERT INTO t VALUES(1, 5, zeroblob(16777216));"
          "INSERT INTO t VALUES(2, 6, x'ABCDEF0123456789');",
          65536);
  const run_result r = run_program(
      {"sh", "-c", "ulimit -v 36864; exec \"$0\" -i \"$1\" --no-blobs", sarvek_path(), db});
  EXPECT_EQ(r.status, 0);
  // Record of the big row: header 7 bytes, then 1 + 16777216 data bytes.
  EXPECT_EQ(mask_debug(r.err),
            "F:L:ERROR: Cannot allocate " + std::to_string(7 + 1 + 16777216 + 100) +
                " bytes for mapped data\n");
  EXPECT_EQ(r.out, "2,NULL,x6,\n");
}
