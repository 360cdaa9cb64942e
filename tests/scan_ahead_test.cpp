// The scan-ahead worker and its survivor maps: a map may only leave out
// positions that decode_row rejects silently, the walker must find in it
// exactly the windows it searches, and a walk with the worker must print
// byte for byte what a walk without it prints.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/page_header.h"
#include "image/page_walker.h"
#include "image/scan_ahead.h"
#include "recognition/decode_row.h"
#include "recognition/survivor_map.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

// Live rows, rows left in freeblocks and on freelist pages, an overflowing
// row and rowids of every length.
std::vector<uint8_t> real_database(const scratch_dir& dir, int page_size) {
  const std::string path = dir.file("real.db");
  make_db(path,
          "CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b BLOB, c INTEGER, d REAL);"
          "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 2500)"
          " INSERT INTO t SELECT i, 'text ' || i, randomblob(i % 40), i * 7919, i / 3.0 FROM r;"
          "INSERT INTO t VALUES(9000, 'long', randomblob(7000), 1, 0.5);"
          "INSERT INTO t VALUES(4294967296, 'x', x'00', 2, 0.5), (-1, 'neg', x'ff', -1, -1.0);"
          "DELETE FROM t WHERE id IN (5, 6, 300, 1500, 1501, 2200) OR id % 401 = 0;"
          "DELETE FROM t WHERE id BETWEEN 800 AND 1300;",
          page_size);
  return read_file(path);
}

// Random bytes, many of them small, with a header that admits the pages:
// plausible cells, freeblock offsets and chains occur all over.
std::vector<uint8_t> random_image(unsigned seed, uint32_t page_size, uint32_t pages) {
  std::mt19937 random(seed);
  std::vector<uint8_t> image(size_t{page_size} * pages + 100);  // a partial last page
  for (auto& byte : image) {
    const uint32_t r = static_cast<uint32_t>(random());
    byte = static_cast<uint8_t>(r % 4 == 0 ? (r >> 8) % 24 : r % 5 == 0 ? 13 : r >> 8);
  }
  memcpy(image.data(), "SQLite format 3", 16);
  image[16] = static_cast<uint8_t>(page_size >> 8);
  image[17] = static_cast<uint8_t>(page_size);
  image[28] = 0, image[29] = 0, image[30] = 0, image[31] = static_cast<uint8_t>(pages);
  return image;
}

struct attached {
  explicit attached(const std::vector<uint8_t>& image) {
    globals_init(&g);
    image_attach(&g, image.data(), image.size());
  }
  ~attached() { globals_release(&g); }
  // Reads the header and reserves the cell table, as a run does before the walk.
  bool prepared() { return image_read_header(&g) == 0 && cell_table_reserve(&g) == 0; }
  globals g;
};

}  // namespace

TEST(SurvivorMap, NextFindsEverySetBitAcrossWordsAndStopsAtTheEnd) {
  std::mt19937 random(5);
  std::vector<uint8_t> window(300);
  for (uint64_t positions : {1u, 63u, 64u, 65u, 128u, 200u, 290u}) {
    for (int density : {0, 1, 8, 64}) {
      std::vector<uint64_t> bits(survivor_words(positions));
      std::vector<bool> want(positions);
      for (uint64_t i = 0; i < positions; ++i) {
        want[i] = density != 0 && random() % density == 0;
        if (want[i]) bits[i / 64] |= uint64_t{1} << (i % 64);
      }
      survivor_map map{window.data(), window.data() + positions + 10, window.data() + positions,
                       0, 0, bits.data()};
      for (uint64_t from = 0; from < positions; ++from) {
        uint64_t expected = from;
        while (expected < positions && !want[expected]) ++expected;
        ASSERT_EQ(survivor_next(map, window.data() + from), window.data() + expected)
            << positions << " positions, density " << density << ", from " << from;
      }
    }
  }
}

TEST(SurvivorMap, LeavesOutOnlySilentRejectionsAndKeepsEveryRow) {
  scratch_dir dir;
  const std::vector<uint8_t> real = real_database(dir, 1024);
  const std::vector<uint8_t> noise = random_image(11, 512, 40);
  for (const auto* image : {&real, &noise}) {
    for (uint32_t page_size : {512u, 1024u}) {
      attached a(*image);
      a.g.page_size = page_size;
      a.g.page_count = image_be(&a.g, 28, 4);
      row_record row;
      ASSERT_EQ(row_record_bind(&a.g, &row), 0);
      // One buffer for every window: a map must not keep bits of the last.
      std::vector<uint64_t> bits(survivor_words(page_size), ~uint64_t{0});
      const std::string out = capture_stdout([&] {
        for (uint64_t page = page_size; page + 10 < image->size(); page += page_size) {
          const uint8_t* start = image->data() + page;
          const uint8_t* page_end = std::min(start + page_size, image->data() + image->size());
          for (uint32_t budget : {0u, 40u, 300u}) {
            survivor_map map{start, page_end, page_end - 10, budget == 0 ? 0 : 1, budget,
                             bits.data()};
            quick_limits q;
            quick_limits_init(&q, &a.g, page_end, row.cell_capacity);
            survivor_map_build(&map, q);
            for (const uint8_t* p = start; p < map.stop; ++p) {
              const uint64_t at = static_cast<uint64_t>(p - start);
              if (bits[at / 64] >> (at % 64) & 1) continue;
              ASSERT_EQ(decode_row(&a.g, p, page_end, &row, map.mode, budget), 0)
                  << "offset " << (p - image->data()) << ", mode " << map.mode;
            }
          }
        }
      });
      EXPECT_EQ(out, "");  // rejections left out of a map print nothing
    }
  }
}

TEST(ScanAhead, PlansTheWindowsThatTheWalkerSearches) {
  scratch_dir dir;
  const std::vector<uint8_t> image = real_database(dir, 1024);
  attached a(image);
  ASSERT_TRUE(a.prepared());
  std::vector<uint64_t> bits(survivor_words(1024));
  int mapped = 0, leaves_with_freeblocks = 0;
  for (uint64_t offset = 0; offset < image.size(); offset += 1024) {
    survivor_map map{};
    map.bits = bits.data();
    const bool planned = scan_ahead_plan(&a.g, offset, &map);
    const uint8_t* page = image.data() + offset;
    const page_values pv = page[0] == 13 ? leaf_page_values(page, 1024) : page_values{};
    if (pv.mode == 1) {
      ++leaves_with_freeblocks;  // their budget changes as rows are found
      EXPECT_FALSE(planned) << "page at " << offset;
    } else if (offset == 0) {
      EXPECT_FALSE(planned);  // page 1 is never searched
    } else {
      ASSERT_TRUE(planned) << "page at " << offset;
      EXPECT_TRUE(survivor_map_fits(&map, page, page + 1024, 0, 0));
      ++mapped;
    }
  }
  EXPECT_GT(mapped, 20);
  EXPECT_GT(leaves_with_freeblocks, 5);
}

TEST(ScanAhead, WorkerFillsTheRingAheadOfAWalkerThatWaits) {
  scratch_dir dir;
  const std::vector<uint8_t> image = real_database(dir, 1024);
  attached a(image);
  ASSERT_TRUE(a.prepared());
  scan_ahead* ahead = scan_ahead_start(&a.g, 0);
  ASSERT_NE(ahead, nullptr);
  // While the walker stays on page 1, the worker maps the pages after the
  // few it leaves to the walker, each as scan_ahead_plan would.
  std::vector<uint64_t> bits(survivor_words(1024));
  int compared = 0;
  for (uint64_t index = 40; index < 60; ++index) {
    survivor_map want{};
    want.bits = bits.data();
    if (!scan_ahead_plan(&a.g, index * 1024, &want)) continue;
    const survivor_map* got = nullptr;
    for (int tries = 0; !got && tries < 5000; ++tries) {
      got = scan_ahead_page(ahead, index);
      if (!got) usleep(1000);
    }
    ASSERT_NE(got, nullptr) << "page index " << index;
    EXPECT_TRUE(survivor_map_fits(got, want.start, want.page_end, 0, 0));
    EXPECT_TRUE(std::equal(bits.begin(), bits.end(), got->bits)) << "page index " << index;
    ++compared;
  }
  EXPECT_GT(compared, 10);
  EXPECT_EQ(scan_ahead_page(ahead, 40 + 256), nullptr);  // not in the ring yet
  scan_ahead_stop(ahead);
  // No worker under -d or --freespace, nor for a single page.
  for (auto configure : {+[](globals* g) { g->opt.debug = 1; }, +[](globals* g) { g->opt.freespace = 1; }}) {
    attached b(image);
    configure(&b.g);
    ASSERT_TRUE(b.prepared());
    EXPECT_EQ(scan_ahead_start(&b.g, 0), nullptr);
  }
  EXPECT_EQ(scan_ahead_start(&a.g, image.size() - 1024), nullptr);
}

namespace {

// What walk_pages prints for the image with the given settings.
std::string walk(const std::vector<uint8_t>& image, bool ahead, void (*configure)(globals*)) {
  attached a(image);
  configure(&a.g);
  a.g.opt.scan_ahead = ahead;
  return capture_stdout([&] {
    if (image_read_header(&a.g) == 0) walk_pages(&a.g);
  });
}

void expect_same_walk(const std::vector<uint8_t>& image, const char* what) {
  void (*const settings[])(globals*) = {
      [](globals*) {},
      [](globals* g) { g->opt.fine_search = 1; },
      [](globals* g) { g->opt.removed_only = 1; },
      [](globals* g) { g->opt.cellcount_min = 1, g->opt.rowsize_min = 3; },
      [](globals* g) { g->opt.fine_search = 1, g->opt.cellcount_max = 3; },
  };
  int setting = 0;
  for (auto configure : settings) {
    const std::string alone = walk(image, false, configure);
    const std::string with_worker = walk(image, true, configure);
    EXPECT_EQ(with_worker.size(), alone.size()) << what << ", setting " << setting;
    EXPECT_TRUE(with_worker == alone) << what << ", setting " << setting;
    ++setting;
  }
}

}  // namespace

TEST(ScanAhead, WalksPrintTheSameWithAndWithoutTheWorker) {
  scratch_dir dir;
  for (int page_size : {512, 4096, 65536}) {
    const std::vector<uint8_t> image = real_database(dir, page_size);
    expect_same_walk(image, ("real database, pages of " + std::to_string(page_size)).c_str());
    if (page_size == 4096) {
      // A cut-off copy: the last page is partial.
      const std::vector<uint8_t> cut(image.begin(), image.end() - 1500);
      expect_same_walk(cut, "cut-off database");
    }
  }
  for (unsigned seed : {3u, 17u})
    expect_same_walk(random_image(seed, 512, 48), "random image");
  // The rows themselves, not only their count: the real database has some.
  const std::string rows = walk(real_database(dir, 4096), true, [](globals*) {});
  EXPECT_NE(rows.find(",\"text 1700\","), std::string::npos);
  EXPECT_GT(std::count(rows.begin(), rows.end(), '\n'), 1500);
}
