// The page walker under -d: its own lines (the scanner's narration is
// filtered out), page windows, freeblock chains and the free-space shift.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/page_walker.h"
#include "setup/globals.h"
#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

const std::string start_line = "W:-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=START.";

std::string ptr(uintptr_t address) {
  char text[32];
  snprintf(text, sizeof text, "%p", reinterpret_cast<const void*>(address));
  return text;
}

uintptr_t parse_ptr(const std::string& text) { return std::stoull(text, nullptr, 16); }

// The walker's own lines: each "page_walker.cpp:N:" prefix (wherever it
// stands in a line) becomes "W:"; addresses stay as printed.
std::vector<std::string> walker_lines(const std::string& out) {
  std::vector<std::string> lines;
  for (const std::string& line : split_lines(out)) {
    const size_t at = line.find("page_walker.cpp:");
    if (at == std::string::npos) continue;
    const size_t colon = line.find(':', at + 16);
    lines.push_back("W:" + line.substr(colon + 1));
  }
  return lines;
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

uint32_t be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }

void add_search_lines(std::vector<std::string>& want, uintptr_t cfp, int page) {
  want.push_back("W:DEBUG: g->db_cfp search at = " + ptr(cfp));
  if (page > 1) {
    want.push_back("W:DEBUG: Row location not in g->db_cfp page");
    want.push_back("W:DEBUG: Row has been returned as NULL");
    want.push_back("W:DEBUG: ROW found at offset: " + std::to_string(-static_cast<long>(cfp)));
  }
  want.push_back("W:DEBUG: Finished searching for rows in DB page " + std::to_string(page));
}

// The walker lines that a file of whole, well-formed pages gives.
std::vector<std::string> expected_walk(const std::vector<uint8_t>& file, uint32_t page_size,
                                       uintptr_t origin, bool freespace) {
  std::vector<std::string> want;
  for (size_t at = 0, page = 1; at < file.size(); at += page_size, ++page) {
    const uint8_t* p = file.data() + at;
    uintptr_t cfp = origin + at;
    const std::string n = std::to_string(page);
    want.push_back(start_line);
    if (p[0] == 13) {
      want.push_back("W:DEBUG: Decoding page header for page " + n);
      const uint32_t first = be16(p + 1);
      uint32_t size = 0, next = 0;
      if (first != 0) {
        want.push_back("W:DEBUG: FREEBLOCK mode ON: header decode [offset=" + std::to_string(first) + "]");
        for (uint32_t block = first; block != 0; block = be16(p + block))
          want.push_back("W:DEBUG: Freeblock size = " + std::to_string(be16(p + block + 2)) +
                         ", next position = " + std::to_string(be16(p + block)));
        want.push_back("W:DEBUG: END OF FREEBLOCK TRACE");
        next = be16(p + first);
        size = be16(p + first + 2);
      }
      want.push_back("W:DEBUG: Freeblock offset = " + std::to_string(first) + ", size = " +
                     std::to_string(size) + ", next block = " + std::to_string(next) + " ");
      if (size != 0)
        want.push_back("W:DEBUG: Freeblock data [ " + std::to_string(size) +
                       " bytes total [4 bytes for header] ]");
      want.push_back("W:DEBUG: PAGEHEADER:" + n + " pagebyte: 13, freeblock offset: " +
                     std::to_string(first) + ", cell count: " + std::to_string(be16(p + 3)) +
                     ", first cell offset " + std::to_string(be16(p + 5)) + ", free bytes " +
                     std::to_string(p[7]));
      if (freespace && first != 0 && size != 0) {
        want.push_back("W:DEBUG: Shifting to freespace at " + std::to_string(first) + " from page start");
        cfp += first + 4;
        want.push_back("W:DEBUG: New position = " + ptr(cfp));
      }
    }
    add_search_lines(want, cfp, static_cast<int>(page));
  }
  return want;
}

struct SQLiteWalk : testing::Test {
  scratch_dir dir;
  std::string path = dir.file("walk.db");
  std::vector<uint8_t> file;
  void SetUp() override {
    make_db(path,
            "CREATE TABLE t(a INTEGER, b TEXT);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<40)"
            " INSERT INTO t SELECT i, printf('row%03d-row%03d-row%03d', i, i, i) FROM n;"
            "DELETE FROM t WHERE a % 3 = 1;",
            512);
    file = read_file(path);
  }
};

TEST_F(SQLiteWalk, OneBlockPerPageWithHeadersAndFreeblocks) {
  ASSERT_EQ(file.size() % 512, 0u);
  const size_t pages = file.size() / 512;
  ASSERT_GE(pages, 4u);
  size_t chained_pages = 0, freeblocks = 0;
  for (size_t at = 512; at < file.size(); at += 512) {
    const uint8_t* p = file.data() + at;
    if (p[0] != 13 || be16(p + 1) == 0) continue;
    size_t chain = 0;
    for (uint32_t block = be16(p + 1); block != 0; block = be16(p + block)) ++chain;
    chained_pages += chain >= 2;
    freeblocks += chain;
  }
  ASSERT_GE(chained_pages, 1u) << "the deletes should leave freeblock chains";

  run_result r = run_sarvek({"-d", "-i", path});
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> lines = walker_lines(r.out);
  ASSERT_FALSE(lines.empty());
  const std::string first_search = "W:DEBUG: g->db_cfp search at = ";
  ASSERT_EQ(lines[1].rfind(first_search, 0), 0u);
  const uintptr_t origin = parse_ptr(lines[1].substr(first_search.size()));
  EXPECT_EQ(lines, expected_walk(file, 512, origin, false));

  // Each block starts after two empty lines; the raw dumps give 4 lines of 128.
  const std::string masked = mask_debug(r.out);
  EXPECT_EQ(count(masked, "\n\nF:L:-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=START.\n"), pages);
  EXPECT_EQ(count(masked, "F:L:Dumping main block in RAW... [ Page No: "), pages);
  const std::string page2 = "START.\nF:L:Dumping main block in RAW... [ Page No: 2, Offset: 512 (0x200),  size : 512 ]\n";
  EXPECT_EQ(masked.find("\n\nF:L:-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=START.\n"
                        "F:L:Dumping main block in RAW... [ Page No: 1, Offset: 0 (0x0),  size : 512 ]\n"),
            masked.find("F:L:DEBUG: Commence decoding data\n") + 34);
  EXPECT_NE(masked.find("F:L:Dumping main block in RAW... [ Page No: 1, Offset: 0 (0x0),  size : 512 ]\n"),
            std::string::npos);
  const size_t body = masked.find(page2);
  ASSERT_NE(body, std::string::npos);
  const std::vector<std::string> dump = split_lines(masked.substr(body + page2.size(), 4 * 129 + 1));
  ASSERT_EQ(dump.size(), 5u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dump[i].size(), 128u);
  EXPECT_EQ(dump[4], "");
  std::string expected_line;
  for (size_t i = 512; i < 640; ++i)
    expected_line += file[i] >= 0x20 && file[i] <= 0x7E ? static_cast<char>(file[i]) : '_';
  EXPECT_EQ(dump[0], expected_line);

  // One 16-byte header dump per freeblock, one data dump per first freeblock.
  EXPECT_EQ(count(r.out, "Freeblock header data: Hexdumping 16 bytes from "), freeblocks);
  for (size_t at = 512; at < file.size(); at += 512) {
    const uint8_t* p = file.data() + at;
    if (p[0] != 13 || be16(p + 1) == 0) continue;
    const uint32_t first = be16(p + 1);
    EXPECT_NE(r.out.find("Actual data in free block: Hexdumping " + std::to_string(be16(p + first + 2) - 4) +
                         " bytes from " + ptr(origin + at + first + 4) + "\n"),
              std::string::npos);
  }
}

TEST_F(SQLiteWalk, FreespaceShiftsTheSearchStart) {
  run_result r = run_sarvek({"-d", "--freespace", "-i", path});
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> lines = walker_lines(r.out);
  ASSERT_GE(lines.size(), 2u);
  const uintptr_t origin = parse_ptr(lines[1].substr(lines[1].find("= ") + 2));
  EXPECT_EQ(lines, expected_walk(file, 512, origin, true));
  size_t shifted = 0;
  for (size_t at = 512; at < file.size(); at += 512) {
    const uint8_t* p = file.data() + at;
    if (p[0] != 13 || be16(p + 1) == 0) continue;
    ++shifted;
    const uintptr_t header = origin + at + be16(p + 1);
    const std::string heading = "Scratch pointer at freespace data start (including 4 byte header): "
                                "Hexdumping 32 bytes from " + ptr(header) + "\n";
    EXPECT_NE(r.out.find(heading), std::string::npos) << heading;
    // The search of a shifted page runs in free-space mode from there.
    EXPECT_NE(r.out.find("search at = " + ptr(header + 4) + "\nfind_next_row: MODE: 1\n"),
              std::string::npos);
  }
  EXPECT_GE(shifted, 1u);
  EXPECT_EQ(count(r.out, "Scratch pointer at freespace data start"), shifted);
}

// Walks an exact-size heap image in-process under -d.
struct walk_result {
  std::string out;
  std::vector<std::vector<std::string>> pages;  // walker lines per page, START line left out
};

walk_result walk(const std::vector<uint8_t>& image, uint32_t page_size, bool freespace) {
  globals g;
  globals_init(&g);
  g.opt.debug = 1;
  g.opt.freespace = freespace;
  g.page_size = page_size;
  image_attach(&g, image.data(), image.size());
  walk_result result;
  result.out = capture_stdout([&] {
    EXPECT_EQ(image_read_header(&g), 0);
    walk_pages(&g);
  });
  globals_release(&g);
  for (const std::string& line : walker_lines(result.out)) {
    if (line == start_line) result.pages.emplace_back();
    else if (!result.pages.empty()) result.pages.back().push_back(line);
  }
  return result;
}

void put16(std::vector<uint8_t>& image, size_t at, uint32_t value) {
  image[at] = static_cast<uint8_t>(value >> 8);
  image[at + 1] = static_cast<uint8_t>(value);
}

// A table-leaf page at `page` with its first freeblock offset and cell fields.
void leaf(std::vector<uint8_t>& image, size_t page, uint32_t first) {
  image[page] = 13;
  put16(image, page + 1, first);
}

void freeblock(std::vector<uint8_t>& image, size_t at, uint32_t next, uint32_t size) {
  put16(image, at, next);
  put16(image, at + 2, size);
}

std::vector<std::string> with_search(std::vector<std::string> lines, uintptr_t cfp, int page) {
  add_search_lines(lines, cfp, page);
  return lines;
}

TEST(PageWalker, ChainsWindowsAndClipping) {
  // Page 2: a chain of three, the last one's header dump reaching into page 3.
  // Page 3: a chain that loops, with a first freeblock smaller than 4 bytes.
  // Page 4: 100 bytes, the file's end; its chain leaves the window.
  std::vector<uint8_t> image(3 * 512 + 100, 0);
  image[16] = 0x02;
  leaf(image, 512, 100);
  const uint8_t counts[] = {0x00, 0x05, 0x0B, 0xB8, 0x02};
  std::copy(counts, counts + 5, image.begin() + 512 + 3);
  freeblock(image, 512 + 100, 200, 40);
  freeblock(image, 512 + 200, 500, 8);
  freeblock(image, 512 + 500, 0, 12);
  leaf(image, 1024, 50);
  freeblock(image, 1024 + 50, 80, 3);
  freeblock(image, 1024 + 80, 50, 30);
  leaf(image, 1536, 90);
  freeblock(image, 1536 + 90, 97, 40);

  for (bool freespace : {false, true}) {
    walk_result w = walk(image, 0, freespace);
    const uintptr_t base = reinterpret_cast<uintptr_t>(image.data());
    ASSERT_EQ(w.pages.size(), 4u);
    EXPECT_EQ(w.pages[0], with_search({}, base, 1));

    std::vector<std::string> p2{
        "W:DEBUG: Decoding page header for page 2",
        "W:DEBUG: FREEBLOCK mode ON: header decode [offset=100]",
        "W:DEBUG: Freeblock size = 40, next position = 200",
        "W:DEBUG: Freeblock size = 8, next position = 500",
        "W:DEBUG: Freeblock size = 12, next position = 0",
        "W:DEBUG: END OF FREEBLOCK TRACE",
        "W:DEBUG: Freeblock offset = 100, size = 40, next block = 200 ",
        "W:DEBUG: Freeblock data [ 40 bytes total [4 bytes for header] ]",
        "W:DEBUG: PAGEHEADER:2 pagebyte: 13, freeblock offset: 100, cell count: 5, first cell offset 3000, free bytes 2"};
    if (freespace) {
      p2.push_back("W:DEBUG: Shifting to freespace at 100 from page start");
      p2.push_back("W:DEBUG: New position = " + ptr(base + 512 + 104));
    }
    EXPECT_EQ(w.pages[1], with_search(p2, base + 512 + (freespace ? 104 : 0), 2));

    std::vector<std::string> p3{
        "W:DEBUG: Decoding page header for page 3",
        "W:DEBUG: FREEBLOCK mode ON: header decode [offset=50]",
        "W:DEBUG: Freeblock size = 3, next position = 80",
        "W:DEBUG: Freeblock size = 30, next position = 50",
        "W:DEBUG: END OF FREEBLOCK TRACE",
        "W:DEBUG: Freeblock offset = 50, size = 3, next block = 80 ",
        "W:DEBUG: Freeblock data [ 3 bytes total [4 bytes for header] ]",
        "W:DEBUG: PAGEHEADER:3 pagebyte: 13, freeblock offset: 50, cell count: 0, first cell offset 0, free bytes 0"};
    if (freespace) {
      p3.push_back("W:DEBUG: Shifting to freespace at 50 from page start");
      p3.push_back("W:DEBUG: New position = " + ptr(base + 1024 + 54));
    }
    EXPECT_EQ(w.pages[2], with_search(p3, base + 1024 + (freespace ? 54 : 0), 3));

    std::vector<std::string> p4{
        "W:DEBUG: Decoding page header for page 4",
        "W:DEBUG: FREEBLOCK mode ON: header decode [offset=90]",
        "W:DEBUG: Freeblock size = 40, next position = 97",
        "W:DEBUG: END OF FREEBLOCK TRACE",
        "W:DEBUG: Freeblock offset = 90, size = 40, next block = 97 ",
        "W:DEBUG: Freeblock data [ 40 bytes total [4 bytes for header] ]",
        "W:DEBUG: PAGEHEADER:4 pagebyte: 13, freeblock offset: 90, cell count: 0, first cell offset 0, free bytes 0"};
    if (freespace) {
      p4.push_back("W:DEBUG: Shifting to freespace at 90 from page start");
      p4.push_back("W:DEBUG: New position = " + ptr(base + 1536 + 94));
    }
    EXPECT_EQ(w.pages[3], with_search(p4, base + 1536 + (freespace ? 94 : 0), 4));

    // Header dumps are clipped to the image, data dumps to the window.
    const std::string& out = w.out;
    EXPECT_NE(out.find("Freeblock header data: Hexdumping 16 bytes from " + ptr(base + 512 + 500) + "\n"),
              std::string::npos);
    EXPECT_NE(out.find("Freeblock header data: Hexdumping 10 bytes from " + ptr(base + 1536 + 90) + "\n"),
              std::string::npos);
    EXPECT_NE(out.find("Actual data in free block: Hexdumping 36 bytes from " + ptr(base + 616) + "\n"),
              std::string::npos);
    EXPECT_NE(out.find("Actual data in free block: Hexdumping 0 bytes from " + ptr(base + 1078) + "\n\n"),
              std::string::npos);
    EXPECT_NE(out.find("Actual data in free block: Hexdumping 6 bytes from " + ptr(base + 1630) + "\n"
                       "0000 [000006] 00 00 00 00 00 00   [000006]...... -1\n\n"),
              std::string::npos);
    EXPECT_EQ(count(out, "Scratch pointer at freespace data start (including 4 byte header): "
                         "Hexdumping 32 bytes from "),
              freespace ? 2u : 0u);
    if (freespace) {
      EXPECT_NE(out.find("Scratch pointer at freespace data start (including 4 byte header): "
                         "Hexdumping 10 bytes from " + ptr(base + 1536 + 90) + "\n"),
                std::string::npos);
    }
    // Each dump stands between the walker lines that it belongs to.
    const std::string masked = mask_debug(out);
    EXPECT_NE(masked.find("F:L:DEBUG: FREEBLOCK mode ON: header decode [offset=100]\n"
                          "Freeblock header data: Hexdumping 16 bytes from 0xADDR\n"
                          "0000 [000016] 00 C8 00 28 00 00 00 00 00 00 00 00 00 00 00 00   "
                          "[000016]...(............ 0\n\n"
                          "F:L:DEBUG: Freeblock size = 40, next position = 200\n"),
              std::string::npos);
    EXPECT_NE(masked.find("F:L:DEBUG: Freeblock data [ 40 bytes total [4 bytes for header] ]\n"
                          "Actual data in free block: Hexdumping 6 bytes from 0xADDR\n"
                          "0000 [000006] 00 00 00 00 00 00   [000006]...... -1\n\n"
                          "F:L:DEBUG: PAGEHEADER:4 "),
              std::string::npos);
    if (freespace) {
      EXPECT_NE(masked.find("F:L:DEBUG: New position = 0xADDR\n"
                            "Scratch pointer at freespace data start (including 4 byte header): "
                            "Hexdumping 10 bytes from 0xADDR\n"
                            "0000 [000010] 00 61 00 28 00 00 00 00 00 00   [000010].a.(...... -1\n\n"
                            "F:L:DEBUG: g->db_cfp search at = 0xADDR\n"),
                std::string::npos);
    }
    // The short last page: heading with the page size, body of the 100 bytes.
    const std::string heading = "Page No: 4, Offset: 1536 (0x600),  size : 512 ]\n";
    const size_t at = out.find(heading);
    ASSERT_NE(at, std::string::npos);
    std::string body;
    for (size_t i = 1536; i < image.size(); ++i)
      body += image[i] >= 0x20 && image[i] <= 0x7E ? static_cast<char>(image[i]) : '_';
    EXPECT_EQ(body.substr(0, 4), "__Z_");
    EXPECT_EQ(out.substr(at + heading.size(), 101), body + "\n");
    EXPECT_EQ(count(out, "find_next_row: MODE: 1\n"), 3u);
  }
}

TEST(PageWalker, FreeblockHeaderOutsideTheWindowAndTinyPages) {
  // Page 2: first freeblock too near the page end to hold its header.
  // Page 3: a chain that points backwards stops after the first freeblock.
  std::vector<uint8_t> image(3 * 512, 0);
  image[16] = 0x02;
  leaf(image, 512, 510);
  image[1023] = 0x33;
  leaf(image, 1024, 200);
  freeblock(image, 1024 + 200, 150, 20);
  freeblock(image, 1024 + 150, 0, 20);
  walk_result w = walk(image, 0, true);
  const uintptr_t base = reinterpret_cast<uintptr_t>(image.data());
  ASSERT_EQ(w.pages.size(), 3u);
  EXPECT_EQ(w.pages[1],
            with_search({"W:DEBUG: Decoding page header for page 2",
                         "W:DEBUG: FREEBLOCK mode ON: header decode [offset=510]",
                         "W:DEBUG: END OF FREEBLOCK TRACE",
                         "W:DEBUG: Freeblock offset = 510, size = 0, next block = 0 ",
                         "W:DEBUG: PAGEHEADER:2 pagebyte: 13, freeblock offset: 510, cell count: 0, "
                         "first cell offset 0, free bytes 0"},
                        base + 512, 2));
  EXPECT_EQ(w.pages[2][2], "W:DEBUG: Freeblock size = 20, next position = 150");
  EXPECT_EQ(w.pages[2][3], "W:DEBUG: END OF FREEBLOCK TRACE");
  // Still free-space mode on page 2 (offset non-zero), standard on page 1.
  EXPECT_NE(w.out.find("search at = " + ptr(base + 512) + "\nfind_next_row: MODE: 1\n"), std::string::npos);
  EXPECT_EQ(w.out.find("Freeblock data ["), w.out.find("Freeblock data [ 20 bytes"));

  // Page size 5: header bytes outside the window read as 0. Page 3 holds
  // only 2 bytes: its first freeblock offset is 0x01 then a missing byte.
  std::vector<uint8_t> tiny{'S', 'Q', 'L', 'i', 't', 13, 0x00, 0x00, 0x00, 0x07, 13, 0x01};
  walk_result t = walk(tiny, 5, false);
  const uintptr_t tb = reinterpret_cast<uintptr_t>(tiny.data());
  ASSERT_EQ(t.pages.size(), 3u);
  EXPECT_EQ(t.pages[1],
            with_search({"W:DEBUG: Decoding page header for page 2",
                         "W:DEBUG: Freeblock offset = 0, size = 0, next block = 0 ",
                         "W:DEBUG: PAGEHEADER:2 pagebyte: 13, freeblock offset: 0, cell count: 7, "
                         "first cell offset 0, free bytes 0"},
                        tb + 5, 2));
  EXPECT_EQ(t.pages[2],
            with_search({"W:DEBUG: Decoding page header for page 3",
                         "W:DEBUG: FREEBLOCK mode ON: header decode [offset=256]",
                         "W:DEBUG: END OF FREEBLOCK TRACE",
                         "W:DEBUG: Freeblock offset = 256, size = 0, next block = 0 ",
                         "W:DEBUG: PAGEHEADER:3 pagebyte: 13, freeblock offset: 256, cell count: 0, "
                         "first cell offset 0, free bytes 0"},
                        tb + 10, 3));
}

TEST(PageWalker, PageCountAndSearchGuard) {
  // Without -d nothing of the walk is written; a huge forced page size
  // makes one clipped page; the walk stops before a page at db_end.
  scratch_dir dir;
  std::vector<uint8_t> image(1025, 0);
  image[16] = 0x02;
  write_file(dir.file("odd.db"), image);
  run_result quiet = run_sarvek({"-i", dir.file("odd.db")});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
  // 1025 bytes: pages at 0 and 512; a page would start at 1024 = db_end.
  walk_result w = walk(image, 0, false);
  EXPECT_EQ(w.pages.size(), 2u);
  walk_result huge = walk(image, 0xFFFFFFFFu, false);
  ASSERT_EQ(huge.pages.size(), 1u);
  EXPECT_NE(huge.out.find("Page No: 1, Offset: 0 (0x0),  size : -1 ]\n"), std::string::npos);
}

}  // namespace
