// The row scanner driven directly on hand-built pages: which positions it
// tests in each mode, what it prints, and where a window ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/page_walker.h"
#include "recognition/find_next_row.h"
#include "support/text.h"

namespace {

// A 4096-byte page of zeros: a zero byte is never a plausible payload length.
struct page_image {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(4096, 0);
  globals g{};
  page_image() {
    globals_init(&g);
    image_attach(&g, bytes.data(), bytes.size());
    g.page_size = 4096;
    g.page_count = 1;
    walker_attach(&g);  // the walker prints what the search finds
  }
  ~page_image() { globals_release(&g); }
  void put(size_t at, const std::vector<uint8_t>& b) { memcpy(bytes.data() + at, b.data(), b.size()); }
  const uint8_t* at(size_t offset) const { return bytes.data() + offset; }
  std::string scan(size_t start, size_t end, int32_t mode = 0, uint32_t budget = 0) {
    return capture_stdout([&] { find_next_row(&g, at(start), at(end), at(start), mode, budget); });
  }
  // The same scan without -d: the CSV lines alone.
  std::string rows(size_t start, size_t end, int32_t mode = 0, uint32_t budget = 0) {
    const uint8_t debug = g.opt.debug;
    g.opt.debug = 0;
    std::string out = scan(start, end, mode, budget);
    g.opt.debug = debug;
    return out;
  }
};

// The image offsets that decode_row was asked about, in order, read from
// its "Decode_row start data" dump headings (written under -d).
std::vector<long> tested(const std::string& out, const uint8_t* origin) {
  std::vector<long> offsets;
  const std::string key = "Decode_row start data: Hexdumping ";
  for (const std::string& line : split_lines(out)) {
    if (line.rfind(key, 0) != 0) continue;
    const size_t from = line.find(" from ");
    const uintptr_t address = strtoull(line.c_str() + from + 6, nullptr, 16);
    offsets.push_back(static_cast<long>(address - reinterpret_cast<uintptr_t>(origin)));
  }
  return offsets;
}

std::vector<long> range(long from, long to) {  // [from, to)
  std::vector<long> v;
  for (long i = from; i < to; ++i) v.push_back(i);
  return v;
}

std::vector<long> cat(std::vector<long> a, const std::vector<long>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// rowid 5, cells x42, x43, "hello": a whole 13-byte cell, payload length 11.
const std::vector<uint8_t> small_cell = {0x0B, 0x05, 0x04, 0x01, 0x01, 0x17, 0x2A, 0x2B,
                                         'h',  'e',  'l',  'l',  'o'};

// rowid 9, payload length 50 behind a 2-byte prefix: cells x7, x8 and a
// 44-byte text that starts with small_cell and is zero-filled after it.
std::vector<uint8_t> outer_cell() {
  std::vector<uint8_t> c = {0x32, 0x09, 0x04, 0x01, 0x01, 0x65, 0x07, 0x08};
  c.insert(c.end(), small_cell.begin(), small_cell.end());
  c.resize(52, 0);
  return c;
}

const std::string outer_line = "9,x7,x8,\"......*+hello" + std::string(31, '.') + "\"";

}  // namespace

TEST(Scanner, DefaultStepIsThePayloadLengthFineStepIsOne) {
  page_image p;
  p.put(200, outer_cell());
  p.g.opt.debug = 1;
  std::string out = p.scan(100, 400);
  // Rejections step by 1; the row at 200 (prefix 2, payload 50) moves the
  // next test to 250, two bytes before the cell's end; the last position
  // tested lies 11 bytes before the window's end.
  EXPECT_EQ(tested(out, p.at(0)), cat(range(100, 201), range(250, 390)));
  EXPECT_NE(out.find("ROWID: 9 found [+100] record size: 52 bytes\n"), std::string::npos);
  EXPECT_EQ(out.rfind("find_next_row: MODE: 0\n", 0), 0u);
  EXPECT_EQ(p.rows(100, 400), outer_line + "\n");

  // Byte by byte, the cell inside the outer row's text is found as well.
  p.g.opt.fine_search = 1;
  out = p.scan(100, 400);
  EXPECT_EQ(tested(out, p.at(0)), range(100, 390));
  EXPECT_EQ(p.rows(100, 400), outer_line + "\n5,x42,x43,\"hello\"\n");
}

TEST(Scanner, TheFirstPositionIsAlwaysTested) {
  page_image p;
  p.g.opt.debug = 1;
  EXPECT_EQ(tested(p.scan(100, 111), p.at(0)), std::vector<long>{100});
  EXPECT_EQ(tested(p.scan(100, 105), p.at(0)), std::vector<long>{100});
  EXPECT_EQ(tested(p.scan(100, 112), p.at(0)), (std::vector<long>{100, 101}));
  // A row at the start of a tiny window is still found and printed.
  p.put(100, small_cell);
  p.g.opt.debug = 0;
  EXPECT_EQ(p.scan(100, 105), "5,x42,x43,\"hello\"\n");
}

TEST(Scanner, AnOverflowingRowsStepCanEndTheWindow) {
  page_image p;
  p.bytes.resize(8192, 0);
  image_attach(&p.g, p.bytes.data(), p.bytes.size());
  p.g.page_count = 2;
  // rowid 3, payload length 5000, more than a page holds: 908 bytes stay on
  // the page, up to the page's last 4 bytes, the first overflow page number.
  // It is 0, so the row is read in place, and the step over its local part
  // and page number carries the position past the window's end.
  p.put(3181, {0xA7, 0x08, 0x03, 0x05, 0x01, 0x01, 0xCE, 0x0F, 0x07, 0x08});
  memset(p.bytes.data() + 3191, 'a', 4993);
  memset(p.bytes.data() + 4092, 0, 4);
  p.g.opt.debug = 1;
  const std::string out = p.scan(3181, 4096);
  EXPECT_EQ(tested(out, p.at(0)), std::vector<long>{3181});
  EXPECT_EQ(p.rows(3181, 4096),
            "3,x7,x8,\"" + std::string(901, 'a') + "...." + std::string(4088, 'a') + "\"\n");
}

TEST(Scanner, FreeSpaceBudgetEndsTheWindow) {
  page_image p;
  // Two records inside a freeblock of 100 bytes: the first takes 40 bytes
  // (4 overwritten + header 4 + cells 32), the second exactly the 60 left.
  std::vector<uint8_t> first = {0x04, 0x01, 0x01, 0x49, 0x05, 0x06};
  first.resize(36, 'a');
  std::vector<uint8_t> second = {0x04, 0x01, 0x01, 0x71, 0x07, 0x08};
  second.resize(56, 'b');
  p.put(504, first);
  p.put(544, second);
  p.g.opt.debug = 1;
  std::string out = p.scan(504, 1024, 1, 100);
  EXPECT_EQ(tested(out, p.at(0)), (std::vector<long>{504, 544}));
  const std::string masked = mask_debug(out);
  EXPECT_NE(masked.find("After freespace decode: Hexdumping 64 bytes from 0xADDR\n"), std::string::npos);
  EXPECT_NE(masked.find("F:L:DEBUG: No more data left in freespace block to examine\n"),
            std::string::npos);
  EXPECT_NE(out.find("ROWID: 1 found [+40] record size: 52 bytes\n"), std::string::npos);
  EXPECT_EQ(p.rows(504, 1024, 1, 100), "-1,x5,x6,\"" + std::string(30, 'a') + "\"\n-1,x7,x8,\"" +
                                           std::string(50, 'b') + "\"\n");
  // A budget one byte larger lets the search go on after the second record.
  out = p.scan(504, 1024, 1, 101);
  EXPECT_EQ(tested(out, p.at(0)), cat({504, 544}, range(604, 1014)));
  EXPECT_EQ(out.find("No more data left"), std::string::npos);
}

TEST(Scanner, PrintDecisionAndRemovedOnlyFilter) {
  page_image p;
  // rowid -1 (a nine-byte varint), then rowid 5.
  std::vector<uint8_t> minus_one = {0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0x04, 0x01, 0x01, 0x17, 0x2A, 0x2B, 'h',  'e',  'l',  'l', 'o'};
  p.put(100, minus_one);
  p.put(200, small_cell);
  EXPECT_EQ(p.scan(0, 1024), "-1,x42,x43,\"hello\"\n5,x42,x43,\"hello\"\n");

  // --removed-only keeps the row whose rowid is -1; the other fails the test,
  // is not printed, and the search goes on from the next byte.
  p.g.opt.removed_only = 1;
  p.g.opt.debug = 1;
  std::string out = p.scan(0, 1024);
  EXPECT_EQ(p.rows(0, 1024), "-1,x42,x43,\"hello\"\n");
  EXPECT_NE(out.find("ROWID: -1 found [+100] record size: 21 bytes\n"), std::string::npos);
  EXPECT_NE(out.find("ROWID: 5 found [+200] record size: 13 bytes\n"), std::string::npos);
  const std::vector<long> offsets = tested(out, p.at(0));
  EXPECT_EQ(std::count(offsets.begin(), offsets.end(), 201), 1);
  EXPECT_EQ(std::count(offsets.begin(), offsets.end(), 111), 1);  // step past the -1 row

  // With --freespace a standard-mode window reports rows but prints none.
  p.g.opt.removed_only = 0;
  p.g.opt.freespace = 1;
  out = p.scan(0, 1024);
  EXPECT_EQ(p.rows(0, 1024), "");
  EXPECT_NE(out.find("ROWID: 5 found [+200] record size: 13 bytes\n"), std::string::npos);
  // Free-space rows are printed with --freespace, also with --removed-only.
  p.g.opt.removed_only = 1;
  p.g.opt.debug = 0;
  std::vector<uint8_t> record = {0x04, 0x01, 0x01, 0x17, 0x2A, 0x2B, 'h', 'e', 'l', 'l', 'o'};
  p.put(2004, record);
  EXPECT_EQ(p.scan(2004, 3000, 1, 15), "-1,x42,x43,\"hello\"\n");
}

TEST(Scanner, NullStartIsReported) {
  page_image p;
  std::string out = capture_stdout([&] {
    EXPECT_EQ(find_next_row(&p.g, nullptr, p.at(100), nullptr, 0, 0), nullptr);
  });
  EXPECT_EQ(out, "ERROR: NULL passed as search-space parameter\n");
  p.g.opt.debug = 1;
  out = capture_stdout([&] { find_next_row(&p.g, nullptr, p.at(100), nullptr, 1, 0); });
  EXPECT_EQ(out, "find_next_row: MODE: 1\nERROR: NULL passed as search-space parameter\n");
  // A full scan returns null as well.
  capture_stdout([&] { EXPECT_EQ(find_next_row(&p.g, p.at(0), p.at(64), p.at(0), 0, 0), nullptr); });
}

namespace {

// A receiver that records where each row was found and takes or passes
// over the rows as told.
struct recorder {
  std::vector<long> found;
  int decision = 1;
  const uint8_t* origin = nullptr;
  static int take(void* context, const uint8_t* position, const uint8_t*, row_record*, int32_t) {
    recorder* r = static_cast<recorder*>(context);
    r->found.push_back(static_cast<long>(position - r->origin));
    return r->decision;
  }
};

}  // namespace

// The search writes no row itself: it hands each one to the receiver, and
// the receiver's answer decides the step (past the row, or the next byte).
TEST(Scanner, RowsGoToTheReceiverWhoseAnswerSetsTheStep) {
  const struct {
    int decision;
    int fine_search;
    std::vector<long> found;
  } cases[] = {
      {1, 0, {200}},       // taken: the step over the payload skips the inner cell
      {0, 0, {200, 208}},  // passed over: the search goes on at 201 and finds it
      {1, 1, {200, 208}},  // taken, but --fine-search steps by one byte
  };
  for (const auto& c : cases) {
    page_image p;
    p.put(200, outer_cell());
    p.g.opt.fine_search = c.fine_search;
    recorder r;
    r.decision = c.decision;
    r.origin = p.at(0);
    p.g.report = row_report{recorder::take, nullptr, &r};
    EXPECT_EQ(capture_stdout([&] { find_next_row(&p.g, p.at(100), p.at(400), p.at(100), 0, 0); }), "");
    EXPECT_EQ(r.found, c.found) << "decision " << c.decision << ", fine search " << c.fine_search;
  }
}
