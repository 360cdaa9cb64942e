// The scanner's fast path must only ever reject what the full decoder
// rejects silently: checked at every position of real and hostile images,
// in both modes, against decode_row itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "image/image.h"
#include "recognition/decode_row.h"
#include "recognition/quick_reject.h"
#include "support/sqlite_db.h"

namespace {

// Sends standard output to a scratch file for the object's life, so that
// what decode_row writes during one call can be measured.
struct stdout_to_file {
  stdout_to_file() {
    fflush(stdout);
    saved = dup(1);
    FILE* scratch = tmpfile();
    dup2(fileno(scratch), 1);
    fclose(scratch);
  }
  ~stdout_to_file() {
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
  }
  off_t written() {
    fflush(stdout);
    return lseek(1, 0, SEEK_CUR);
  }
  int saved;
};

// Failures are written to standard error as well: while the images are
// checked, standard output goes to the scratch file.
struct failures_to_stderr : ::testing::EmptyTestEventListener {
  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (result.failed())
      fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "?", result.line_number(),
              result.summary());
  }
};
const bool failures_reported =
    (::testing::UnitTest::GetInstance()->listeners().Append(new failures_to_stderr), true);

struct check_counts {
  long rejected_fast = 0;
  long positions = 0;
};

// Every position of every page, in standard mode and in free-space mode with
// a few budgets: a fast rejection must be a silent decode_row rejection.
void check_image(const std::vector<uint8_t>& image, uint32_t page_size,
                 void (*configure)(globals*) = nullptr, check_counts* out = nullptr) {
  globals g;
  globals_init(&g);
  if (configure) configure(&g);
  image_attach(&g, image.data(), image.size());
  g.page_size = page_size;
  g.page_count = image_be(&g, 28, 4);
  row_record row;
  EXPECT_EQ(row_record_bind(&g, &row), 0);
  check_counts counts;
  stdout_to_file capture;
  const uint32_t budgets[] = {0, 3, 4, 13, 30, 200, 4000, 65535};
  for (uint64_t page = 0; page < image.size(); page += page_size) {
    const uint64_t window = std::min<uint64_t>(page_size, image.size() - page);
    const uint8_t* page_end = image.data() + page + window;
    quick_limits q;
    quick_limits_init(&q, &g, page_end, row.cell_capacity);
    // The lane stage: a clear lane must be a silent rejection, and the
    // 16-lane (SSE2) and 32-lane (AVX2 and AVX-512, as far as the processor
    // has them) code must all agree with the lane-by-lane definition.
    std::vector<lane_width> widths;
    for (lane_width w : {lane_width::avx2, lane_width::avx512})
      if (w <= lane_width_supported()) widths.push_back(w);
    for (const uint8_t* p = image.data() + page; p + 32 <= page_end && p + 32 <= q.safe_end;
         p += 32) {
      const lane_limits& lanes = standard_lanes_at(q, p);
      const uint32_t standard = lanes_standard(lanes, p) | lanes_standard(lanes, p + 16) << 16;
      for (lane_width w : widths)
        ASSERT_EQ(lanes_standard_wide(lanes, p, w), standard) << "offset " << (p - image.data());
      for (uint32_t budget : budgets) {
        if (!quick_budget_ok(q, budget)) continue;
        const lane_room room = lane_room_for(q, budget - 4u);
        const uint32_t freespace = lanes_freespace(room, p) | lanes_freespace(room, p + 16) << 16;
        for (lane_width w : widths)
          ASSERT_EQ(lanes_freespace_wide(room, p, w), freespace) << "budget " << budget;
        for (int i = 0; i < 32; ++i) {
          if (room.on) {
            ASSERT_EQ((freespace >> i) & 1, lane_detail::lane_freespace(room, p + i));
          }
          if ((freespace >> i) & 1) continue;
          ASSERT_EQ(decode_row(&g, p + i, page_end, &row, mode_freespace, budget), 0)
              << "free-space lane, budget " << budget << ", offset " << (p + i - image.data());
        }
      }
      for (int i = 0; i < 32; ++i) {
        if (lanes.on) {
          ASSERT_EQ((standard >> i) & 1, lane_detail::lane_standard(lanes, p + i))
              << "offset " << (p + i - image.data());
        }
        if ((standard >> i) & 1) continue;
        const off_t before = capture.written();
        ASSERT_EQ(decode_row(&g, p + i, page_end, &row, mode_standard, 0), 0)
            << "standard lane, offset " << (p + i - image.data());
        ASSERT_EQ(capture.written(), before);
      }
    }
    // The scan's skipping gives the same candidates at every lane width.
    const uint8_t* stop = page_end - std::min<uint64_t>(window, 10);
    for (int32_t mode : {mode_standard, mode_freespace})
      for (lane_width w : widths) {
        quick_limits narrow = q, wider = q;
        narrow.width = lane_width::sse2;
        wider.width = w;
        for (const uint8_t *a = image.data() + page, *b = a; a < stop; ++a, ++b) {
          a = skip_rejected(narrow, a, stop, mode, 200);
          b = skip_rejected(wider, b, stop, mode, 200);
          ASSERT_EQ(a, b) << "mode " << mode << ", page at " << page;
        }
      }
    for (const uint8_t* p = image.data() + page; p < page_end; ++p) {
      ++counts.positions;
      if (quick_rejects(q, p, mode_standard, 0)) {
        ++counts.rejected_fast;
        const off_t before = capture.written();
        ASSERT_EQ(decode_row(&g, p, page_end, &row, mode_standard, 0), 0)
            << "standard mode, offset " << (p - image.data());
        ASSERT_EQ(capture.written(), before) << "output at offset " << (p - image.data());
      }
      for (uint32_t budget : budgets) {
        if (!quick_rejects(q, p, mode_freespace, budget)) continue;
        const off_t before = capture.written();
        ASSERT_EQ(decode_row(&g, p, page_end, &row, mode_freespace, budget), 0)
            << "free-space mode, budget " << budget << ", offset " << (p - image.data());
        ASSERT_EQ(capture.written(), before) << "output at offset " << (p - image.data());
      }
    }
  }
  globals_release(&g);
  if (out) *out = counts;
}

std::vector<uint8_t> real_database(const scratch_dir& dir) {
  const std::string path = dir.file("real.db");
  std::string sql =
      "CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b BLOB, c INTEGER, d REAL);"
      "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 3000)"
      " INSERT INTO t SELECT i, 'text ' || i, randomblob(i % 50), i * 1237, i / 7.0 FROM r;"
      "INSERT INTO t VALUES(5000, 'big', randomblob(9000), 1, 2.5);"
      // Serial types of two bytes whose sizes just fit the payload, and
      // rowids of five to nine bytes, so that headers start late.
      "WITH RECURSIVE r(i) AS (SELECT 50 UNION ALL SELECT i + 9 FROM r WHERE i < 700)"
      " INSERT INTO t SELECT 6000 + i, NULL, randomblob(i), NULL, NULL FROM r;"
      "INSERT INTO t VALUES(4294967296, 'x', x'00', 2, 0.5), (1099511627776, 'yy', NULL, 3, 1.5),"
      " (281474976710656, NULL, x'0102', 4, NULL), (-1, 'neg', x'ff', -1, -1.0);"
      "DELETE FROM t WHERE id % 5 = 0;"
      "DELETE FROM t WHERE id BETWEEN 1000 AND 1600;";
  make_db(path, sql, 1024);
  return read_file(path);
}

}  // namespace

TEST(QuickReject, AgreesWithTheDecoderOnARealDatabase) {
  scratch_dir dir;
  const std::vector<uint8_t> image = real_database(dir);
  check_counts counts;
  check_image(image, 1024, nullptr, &counts);
  // The fast path must also be worth having: most positions are settled.
  EXPECT_GT(counts.rejected_fast * 10, counts.positions * 8);
}

TEST(QuickReject, AgreesWithTheDecoderOnRandomBytesAndLoopingChains) {
  for (unsigned seed : {1234u, 99u, 7u}) {
  std::mt19937 random(seed);
  std::vector<uint8_t> image(64 * 512);
  // Random bytes, many of them small, so that long varints of small values
  // (0x80 0x0A is serial type 10) and plausible headers both occur.
  for (auto& byte : image) {
    const uint32_t r = static_cast<uint32_t>(random());
    byte = static_cast<uint8_t>(r % 4 == 0 ? (r >> 8) % 24 : r % 3 == 0 ? 0x80 : r >> 8);
  }
  // A header that admits many pages, so that chain walks happen, and pages
  // whose last four bytes name page 2, whose first four bytes name itself.
  image[28] = 0;
  image[29] = 0;
  image[30] = 0;
  image[31] = 64;
  for (int page = 1; page < 64; page += 3) {
    uint8_t* end = image.data() + (page + 1) * 512;
    end[-4] = 0, end[-3] = 0, end[-2] = 0, end[-1] = 2;
  }
  image[512] = 0, image[513] = 0, image[514] = 0, image[515] = 2;
  check_image(image, 512);
  }
}

TEST(QuickReject, AgreesWithTheDecoderUnderOtherLimits) {
  scratch_dir dir;
  const std::vector<uint8_t> image = real_database(dir);
  check_image(image, 1024, [](globals* g) {
    g->opt.cellcount_min = 0;
    g->opt.cellcount_max = 3;
    g->opt.rowsize_min = 0;
  });
  check_image(image, 1024, [](globals* g) {
    g->opt.cellcount_min = -5;
    g->opt.rowsize_max = 40;
  });
  // Page sizes that do not match the file's: smaller, and large enough for
  // three-byte header sizes and long two-byte payload lengths.
  check_image(image, 512);
  check_image(image, 65536);
}

TEST(QuickReject, AgreesWithTheDecoderOnRowsThatOverflowTheirPage) {
  // Overflowing rows of many sizes side by side with small ones, on pages
  // with 0 and with 32 reserved bytes: each row's first overflow page number
  // follows its local part, wherever the row lies on its page. Zero blobs
  // and small integers put page numbers within the page count in many
  // places; chains that loop make walks from some of them print.
  for (int reserved : {0, 32}) {
    scratch_dir dir;
    const std::string path = dir.file("overflow.db");
    make_db(path,
            "CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b BLOB, c INTEGER);"
            "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 40)"
            " INSERT INTO t SELECT i, 'row ' || i, CASE i % 4 WHEN 0 THEN x'0102'"
            " WHEN 3 THEN zeroblob(900 + i * 97) ELSE randomblob(900 + i * 97) END, i % 7 FROM r;"
            "DELETE FROM t WHERE id % 9 = 0;",
            1024, reserved);
    std::vector<uint8_t> image = read_file(path);
    void (*const configure)(globals*) =
        reserved ? [](globals* g) { g->reserved_bytes = 32; } : static_cast<void (*)(globals*)>(nullptr);
    check_image(image, 1024, configure);
    if (reserved) continue;
    // Pages 2 to 6 made to name themselves as their next page: the small
    // integers after zero blobs ("00 00 00 05") start walks that loop.
    for (uint8_t page = 2; page <= 6; ++page) {
      const size_t at = size_t{page - 1u} * 1024;
      image[at] = image[at + 1] = image[at + 2] = 0;
      image[at + 3] = page;
    }
    // And a candidate whose walk prints before its header (serial type 10)
    // rejects it: payload length 1024, rowid 1, its 103 local bytes, then
    // page number 2.
    const size_t at = image.size() - 1024 + 100;
    const uint8_t candidate[] = {0x88, 0x00, 0x01, 0x05, 0x0A, 0x01, 0x01};
    std::copy(std::begin(candidate), std::end(candidate), image.begin() + static_cast<long>(at));
    image[at + 106] = image[at + 107] = image[at + 108] = 0;
    image[at + 109] = 2;
    check_image(image, 1024, configure);
  }
}
