// The CSV line of a row, rendered from hand-made row records.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "diagnostics/hexdump.h"
#include "shared/progress.h"
#include "image/image.h"
#include "output/render.h"
#include "support/text.h"

namespace {

// mask_debug for lines that follow a field on the same line: only this
// tool's own source names are masked, so the field's last characters stay.
std::string mask(const std::string& text) {
  static const std::regex prefix(R"((render|blob_file|dump_row)\.cpp:[0-9]+:)");
  return mask_debug(std::regex_replace(text, prefix, "F:L:"));
}

// A row record over its own data bytes: cells are appended with their data.
struct hand_row {
  globals g{};
  std::vector<uint8_t> data;
  std::vector<cell_entry> cells;
  row_record row{};
  explicit hand_row(int64_t rowid) {
    globals_init(&g);
    row.rowid = rowid;
  }
  hand_row& cell(uint32_t type, std::vector<uint8_t> bytes) {
    cells.push_back({type, static_cast<uint32_t>(data.size()), static_cast<uint32_t>(bytes.size())});
    data.insert(data.end(), bytes.begin(), bytes.end());
    return *this;
  }
  hand_row& text(const std::string& s) { return cell(13, {s.begin(), s.end()}); }
  std::string render(int32_t mode = 0) {
    if (data.empty()) data.push_back(0);
    image_attach(&g, data.data(), data.size());
    row.cells = cells.data();
    row.last_cell = static_cast<int32_t>(cells.size()) - 1;
    row.mapped_data = data.data();
    row.mapped_end = data.data() + data.size();
    return capture_stdout([&] { render_row(&g, data.data(), &row, mode); });
  }
};

std::string field(uint32_t type, std::vector<uint8_t> bytes) {
  hand_row r(1);
  std::string line = r.cell(type, std::move(bytes)).render();
  return line.substr(2, line.size() - 3);  // between "1," and the line feed
}

std::vector<uint8_t> double_bytes(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  std::vector<uint8_t> b(8);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  return b;
}

}  // namespace

TEST(Render, LineLayoutAndTexts) {
  {
    hand_row r(7);
    r.cell(0, {}).cell(1, {0xFF}).text("a,b");
    EXPECT_EQ(r.render(), "7,NULL,x-1,\"a,b\"\n");
    EXPECT_EQ(r.render(1), "-1,NULL,x-1,\"a,b\"\n");  // free-space rows have no rowid
  }
  EXPECT_EQ(hand_row(4294967301).text("").render(), "4294967301,\"\"\n");
  EXPECT_EQ(hand_row(-9).cell(8, {}).cell(9, {}).cell(1, {0x05}).render(), "-9,0,1,x5\n");
  EXPECT_EQ(field(13, {'a', '"', 'b'}), "\"a\"\"b\"");
  EXPECT_EQ(field(13, {'a', '\n', 'b', 0xC3, 0xA9, 0x7F, 0x00, ' ', '~'}), "\"a.b.... ~\"");
  // Long texts print in full, past any 16-bit count.
  std::string long_text(70000, 'q');
  long_text[69999] = 'z';
  EXPECT_EQ(field(13, {long_text.begin(), long_text.end()}), "\"" + long_text + "\"");
}

// Texts and inline blobs are written in vector-sized pieces: every length
// and alignment around the piece size, with the bytes that need care (the
// quote, the ends of the printable range) at every place.
TEST(Render, TextsAndBlobsByteForByteAtEveryLengthAndAlignment) {
  static constexpr uint8_t edge[] = {'"', 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF, 0x00, 'a'};
  std::vector<uint8_t> bytes(128);
  uint32_t seed = 12345;
  for (size_t i = 0; i < bytes.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    const uint32_t r = seed >> 16;
    bytes[i] = r % 4 == 0 ? edge[r / 4 % std::size(edge)] : static_cast<uint8_t>(0x20 + r % 95);
  }
  std::string expected;
  const std::string out = capture_stdout([&] {
    for (uint32_t offset = 0; offset < 17; ++offset)
      for (uint32_t length = 0; offset + length <= 100; ++length) {
        const uint8_t* data = bytes.data() + offset;
        dump_text(data, length);
        dump_blob_literal(data, length);
        expected += '"';
        for (uint32_t i = 0; i < length; ++i) {
          const uint8_t b = data[i];
          expected += b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
          if (b == '"') expected += '"';
        }
        expected += "\"x'";
        for (uint32_t i = 0; i < length; ++i) {
          expected += "0123456789ABCDEF"[data[i] >> 4];
          expected += "0123456789ABCDEF"[data[i] & 15];
        }
        expected += '\'';
      }
  });
  EXPECT_EQ(out, expected);
}

TEST(Render, Numbers) {
  EXPECT_EQ(field(2, {0x80, 0x00}), "-32768");
  EXPECT_EQ(field(2, {0x7F, 0xFF}), "32767");
  EXPECT_EQ(field(3, {0xFF, 0xFF, 0xFE}), "-2");
  EXPECT_EQ(field(3, {0x7F, 0xFF, 0xFF}), "8388607");
  EXPECT_EQ(field(4, {0xFF, 0xFF, 0xFF, 0xFF}), "-1");
  EXPECT_EQ(field(4, {0x80, 0, 0, 0}), "-2147483648");
  EXPECT_EQ(field(5, {0x80, 0, 0, 0, 0, 0}), "-140737488355328");
  EXPECT_EQ(field(5, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "140737488355327");
  EXPECT_EQ(field(6, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "9223372036854775807");
  EXPECT_EQ(field(6, {0x80, 0, 0, 0, 0, 0, 0, 0}), "-9223372036854775808");
  EXPECT_EQ(field(1, {0x80}), "x-128");
  EXPECT_EQ(field(7, {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}), "3.141593");
  EXPECT_EQ(field(7, {0xC0, 0, 0, 0, 0, 0, 0, 0}), "-2.000000");
  EXPECT_EQ(field(7, double_bytes(1e20)), "100000000000000000000.000000");
  EXPECT_EQ(field(7, double_bytes(-1.0 / 0.0)), "-INF");
  EXPECT_EQ(field(7, double_bytes(1.0 / 0.0)), "INF");
  EXPECT_EQ(field(7, {0x7F, 0xF8, 0, 0, 0, 0, 0, 0}), "NAN");
  const std::string huge = field(7, double_bytes(1e300));
  EXPECT_EQ(huge.size(), 301u + 7u);  // every integer digit, then ".000000"
  EXPECT_EQ(huge.substr(0, 4), "1000");
}

TEST(Render, InlineBlobsAndTheBlobCount) {
  hand_row r(3);
  r.cell(12, {}).cell(12, {0x00, 0xAB, 0x7f}).cell(0, {});
  EXPECT_EQ(r.render(), "3,x'',x'00AB7F',NULL\n");
  EXPECT_EQ(r.g.out.blob_count, 2);
  r.g.opt.dump_blobs = 0;  // --no-blobs: empty fields, still counted
  EXPECT_EQ(r.render(), "3,,,NULL\n");
  EXPECT_EQ(r.g.out.blob_count, 4);
  // Long inline blobs print in full as well.
  std::string hex;
  for (int i = 0; i < 70000; ++i) hex += "5A";
  EXPECT_EQ(field(12, std::vector<uint8_t>(70000, 0x5A)), "x'" + hex + "'");
}

TEST(Render, DebugLinesOfEachField) {
  hand_row r(2);
  r.cell(1, {0x01}).text("hi").cell(12, {0x0F});
  r.g.opt.debug = 1;
  EXPECT_EQ(mask(r.render()),
            "2F:L:DEBUG: Cell[0], Type:1, size:1, offset:0\n"
            ",x1F:L:DEBUG: Cell[1], Type:13, size:2, offset:1\n"
            ",F:L:DEBUG: Dumping text-13\n"
            "\"hi\"F:L:DEBUG: Cell[2], Type:12, size:1, offset:3\n"
            ",F:L:DEBUG:Not Dumping data to blob file, keeping in CSV\n"
            "x'0F'\n");
}

TEST(Render, InvalidCellTypeAbandonsTheRow) {
  hand_row r(7);
  r.cell(0, {}).cell(10, {}).text("never");
  r.data.resize(20, 0x41);
  testing::internal::CaptureStderr();
  EXPECT_EQ(r.render(), "7,NULL,");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid cell type '10'");
  r.cells[1].type = 14;
  r.g.opt.debug = 1;
  testing::internal::CaptureStderr();
  const std::string out = mask(r.render());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid cell type '14'");
  // The 128-byte dump stops at the end of the image (20 bytes here).
  EXPECT_EQ(out,
            "7F:L:DEBUG: Cell[0], Type:0, size:0, offset:0\n"
            ",NULLF:L:DEBUG: Cell[1], Type:14, size:0, offset:0\n"
            ",F:L:DEBUG: Invalid cell type '14'Invalid cell type: Hexdumping 20 bytes from 0xADDR\n"
            "0000 [000020] 6E 65 76 65 72 41 41 41 41 41 41 41 41 41 41 41   [000020]neverAAAAAAAAAAA 4\n"
            "0010 [000004] 41 41 41 41   [000004]AAAA -1\n"
            "\n");
  // While a progress line runs, the message keeps a line of its own.
  progress_meter meter{};
  r.g.out.progress = &meter;
  r.g.opt.debug = 0;
  testing::internal::CaptureStderr();
  r.render();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid cell type '14'\n");
}

TEST(Render, HexdumpOfNull) {
  const std::string out = capture_stdout([] { hexdump(nullptr, 16, "Label"); });
  EXPECT_EQ(mask_debug(out), "Label: Hexdumping 16 bytes from 0xADDR\nERROR: NULL passed.\n\n");
}
