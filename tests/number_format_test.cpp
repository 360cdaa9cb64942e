// Numbers are printed without printf on the per-row path; the digits must
// stay exactly those of the specified C formats.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstring>
#include <random>

#include "image/image.h"
#include "output/render.h"
#include "support/text.h"

namespace {

// Renders one row of `count` cells of one type, each reading `width` bytes
// from consecutive places in data, and returns its line.
std::string render_cells(std::vector<uint8_t>& data, uint32_t type, uint32_t width,
                         uint32_t count) {
  globals g;
  globals_init(&g);
  image_attach(&g, data.data(), data.size());
  g.page_size = 4096;
  row_record row{};
  EXPECT_EQ(row_record_bind(&g, &row), 0);
  for (uint32_t i = 0; i < count; ++i) row.cells[i] = cell_entry{type, i * width, width};
  row.last_cell = static_cast<int32_t>(count) - 1;
  row.rowid = INT64_MIN;
  row.mapped_data = data.data();
  std::string line = capture_stdout([&] { render_row(&g, data.data(), &row, 0); });
  globals_release(&g);
  return line;
}

uint64_t load_be(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

}  // namespace

TEST(NumberFormat, DoublesMatchLongDoubleFixedFormat) {
  std::mt19937_64 random(42);
  const uint32_t count = 1000;
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> data(count * 8);
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t bits = random();
      // Mix in values people store: small integers, halves, tiny and huge
      // magnitudes, signed zeros, infinities and NaNs.
      const double picks[] = {0.0, -0.0, 0.5, 2.5, 1e-7, 5e-7, 123456.0000005, 1e300,
                              -1.7976931348623157e308, INFINITY, -INFINITY, NAN, -NAN,
                              static_cast<double>(random() % 100000) / 8.0};
      if (round % 2) memcpy(&bits, &picks[random() % 14], 8);
      for (int b = 0; b < 8; ++b) data[i * 8 + b] = static_cast<uint8_t>(bits >> (56 - 8 * b));
    }
    std::string expected = std::to_string(INT64_MIN);
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t bits = load_be(&data[i * 8], 8);
      double value;
      memcpy(&value, &bits, 8);
      char text[512];
      snprintf(text, sizeof text, ",%LF", static_cast<long double>(value));
      expected += text;
    }
    ASSERT_EQ(render_cells(data, 7, 8, count), expected + "\n") << "round " << round;
  }
}

TEST(NumberFormat, IntegersOfEveryWidthMatchPrintf) {
  std::mt19937_64 random(7);
  const struct { uint32_t type, width; } kinds[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 6}, {6, 8}};
  for (const auto& kind : kinds) {
    const uint32_t count = 1000;
    std::vector<uint8_t> data(count * kind.width);
    for (auto& byte : data) byte = static_cast<uint8_t>(random());
    // The extremes of each width: 0x80.. and 0x7F.. patterns.
    data[0] = 0x80;
    for (uint32_t b = 1; b < kind.width; ++b) data[b] = 0;
    data[kind.width] = 0x7F;
    for (uint32_t b = 1; b < kind.width; ++b) data[kind.width + b] = 0xFF;
    std::string expected = std::to_string(INT64_MIN);
    for (uint32_t i = 0; i < count; ++i) {
      const int unused = 64 - 8 * static_cast<int>(kind.width);
      const int64_t v = static_cast<int64_t>(load_be(&data[i * kind.width], kind.width) << unused) >> unused;
      char text[32];
      snprintf(text, sizeof text, kind.type == 1 ? ",x%" PRId64 : ",%" PRId64, v);
      expected += text;
    }
    EXPECT_EQ(render_cells(data, kind.type, kind.width, count), expected + "\n")
        << "type " << kind.type;
  }
}

TEST(NumberFormat, BlobLiteralIsUpperCaseHexOfEveryByte) {
  std::vector<uint8_t> data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + i / 256);
  std::string expected = "x'";
  for (uint8_t byte : data) {
    char pair[3];
    snprintf(pair, sizeof pair, "%02X", byte);
    expected += pair;
  }
  expected += "'";
  EXPECT_EQ(capture_stdout([&] { dump_blob_literal(data.data(), 3000); }), expected);
  EXPECT_EQ(capture_stdout([&] { dump_blob_literal(data.data(), 0); }), "x''");
}

TEST(NumberFormat, LongTextsKeepEveryByteAcrossChunks) {
  // Every byte value, quotes included, over many output chunks.
  std::vector<uint8_t> data(20000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 7 == 0 ? '"' : i * 31);
  for (uint32_t length : {0u, 1u, 2047u, 2048u, 4095u, 4096u, 4097u, 20000u}) {
    std::string expected = "\"";
    for (uint32_t i = 0; i < length; ++i) {
      const uint8_t byte = data[i];
      if (byte == '"') expected += "\"\"";
      else expected += byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
    }
    expected += "\"";
    EXPECT_EQ(capture_stdout([&] { dump_text(data.data(), length); }), expected) << length;
  }
}
