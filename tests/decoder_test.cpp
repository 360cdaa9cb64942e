#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "recognition/decode_row.h"
#include "support/text.h"

namespace {

using bytes = std::vector<uint8_t>;

bytes varint(uint64_t v) {
  if (v >> 56) {  // nine bytes: 8 x 7 bits, then a whole byte
    bytes out(9);
    out[8] = static_cast<uint8_t>(v);
    v >>= 8;
    for (int i = 7; i >= 0; --i, v >>= 7) out[i] = static_cast<uint8_t>(0x80 | (v & 0x7F));
    return out;
  }
  bytes out{static_cast<uint8_t>(v & 0x7F)};
  for (v >>= 7; v; v >>= 7) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (v & 0x7F)));
  return out;
}

uint64_t serial_size(uint64_t serial) {
  static const uint64_t fixed[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
  return serial >= 12 ? (serial - 12) / 2 : fixed[serial];
}

// A record (header-size varint, serial types, data bytes 'a', 'b', ...).
bytes record(const std::vector<uint64_t>& serials) {
  bytes types;
  uint64_t data = 0;
  for (uint64_t s : serials) {
    const bytes v = varint(s);
    types.insert(types.end(), v.begin(), v.end());
    data += serial_size(s);
  }
  uint64_t header = types.size() + 1;
  if (varint(header).size() > 1) header = types.size() + varint(header + 1).size();
  bytes out = varint(header);
  out.insert(out.end(), types.begin(), types.end());
  for (uint64_t i = 0; i < data; ++i) out.push_back(static_cast<uint8_t>('a' + i % 26));
  return out;
}

// A whole cell whose payload length matches its record.
bytes cell(uint64_t rowid, const std::vector<uint64_t>& serials) {
  const bytes rec = record(serials);
  bytes out = varint(rec.size());
  const bytes id = varint(rowid);
  out.insert(out.end(), id.begin(), id.end());
  out.insert(out.end(), rec.begin(), rec.end());
  return out;
}

// A cell of serial types 1, 1 and one text that fills the payload exactly.
bytes cell_of_length(uint64_t payload) {
  for (uint64_t text = payload; text > 0; --text) {
    const bytes c = cell(1, {1, 1, 13 + 2 * text});
    if (record({1, 1, 13 + 2 * text}).size() == payload) return c;
  }
  return {};
}

// An exact-size heap image with a database header, and the decoder's record.
struct image {
  bytes data;
  globals g{};
  std::unique_ptr<row_record> row = std::make_unique<row_record>();
  bool bound = false;

  explicit image(size_t size, uint32_t page_size = 4096, uint32_t page_count = 0) : data(size) {
    globals_init(&g);
    if (page_count == 0) page_count = static_cast<uint32_t>((size + page_size - 1) / page_size);
    if (size >= 32) {
      const uint32_t code = page_size == 65536 ? 1 : page_size;
      data[16] = static_cast<uint8_t>(code >> 8);
      data[17] = static_cast<uint8_t>(code);
      be32(28, page_count);
    } else {
      g.page_size = page_size;
    }
  }
  ~image() { globals_release(&g); }

  void put(size_t at, const bytes& b) { std::copy(b.begin(), b.end(), data.begin() + static_cast<long>(at)); }
  void be32(size_t at, uint32_t v) { put(at, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }

  void attach() {
    if (bound) return;
    image_attach(&g, data.data(), data.size());
    if (data.size() >= 32) image_read_header(&g);
    ASSERT_EQ(row_record_bind(&g, row.get()), 0);
    bound = true;
  }
  // Decodes at offset; the page end is the end of the page holding it,
  // clipped to the image as the page walker does.
  int32_t decode(size_t offset, int32_t mode = mode_standard, uint32_t freeblock_size = 0) {
    attach();
    size_t end = (offset / g.page_size + 1) * g.page_size;
    if (end > data.size()) end = data.size();
    return decode_row(&g, data.data() + offset, data.data() + end, row.get(), mode, freeblock_size);
  }
  std::vector<uint32_t> overflow() const {
    std::vector<uint32_t> list;
    for (int i = 0; row->overflow_pages[i] != 0; ++i) list.push_back(row->overflow_pages[i]);
    return list;
  }
};

void expect_cell(const row_record& row, int i, uint32_t type, uint32_t offset, uint32_t size) {
  EXPECT_EQ(row.cells[i].type, type) << "cell " << i;
  EXPECT_EQ(row.cells[i].offset, offset) << "cell " << i;
  EXPECT_EQ(row.cells[i].size, size) << "cell " << i;
}

const bytes example = {0x0B, 0x05, 0x04, 0x01, 0x01, 0x17, 0x2A, 0x2B, 'H', 'e', 'l', 'l', 'o'};

}  // namespace

TEST(Decoder, StandardModeExamplesAndCellCounts) {
  image im(8192);
  const size_t at = 4096 + 100;
  im.put(at, example);
  ASSERT_EQ(im.decode(at), 1);
  const row_record& r = *im.row;
  EXPECT_EQ(r.prefix_length, 2);
  EXPECT_EQ(r.payload_length, 11u);
  EXPECT_EQ(r.rowid, 5);
  EXPECT_EQ(r.payload_header_size, 4u);
  EXPECT_EQ(r.last_cell, 2);
  expect_cell(r, 0, 1, 6, 1);
  expect_cell(r, 1, 1, 7, 1);
  expect_cell(r, 2, 13, 8, 5);
  EXPECT_EQ(r.overflow_pages[0], 0u);

  // The sum must be exact: 4 + 7 is not 12, nor 10.
  im.data[at] = 0x0C;
  EXPECT_EQ(im.decode(at), 0);
  im.data[at] = 0x0A;
  EXPECT_EQ(im.decode(at), 0);
  im.data[at] = 0x0B;

  // Two cells need cellcount_min 1: the limit is on the last cell's index.
  const size_t two = at + 200;
  im.put(two, {0x0A, 0x01, 0x03, 0x01, 0x19, 'x', 'a', 'b', 'c', 'd', 'e', 'f'});
  EXPECT_EQ(im.decode(two), 0);
  im.g.opt.cellcount_min = 1;
  EXPECT_EQ(im.decode(two), 1);
  EXPECT_EQ(im.row->last_cell, 1);
  im.g.opt.cellcount_min = 2;

  // cellcount_max 3 admits four cells, not five.
  im.g.opt.cellcount_max = 3;
  im.put(at + 300, cell(9, {1, 1, 1, 23}));
  im.put(at + 400, cell(9, {1, 1, 1, 1, 23}));
  EXPECT_EQ(im.decode(at + 300), 1);
  EXPECT_EQ(im.row->last_cell, 3);
  EXPECT_EQ(im.decode(at + 400), 0);
}

TEST(Decoder, LengthLimitsRowidAndHeaderSize) {
  // A 200-byte image: a payload of exactly db_size passes, one more fails.
  const bytes c = cell_of_length(200);
  ASSERT_FALSE(c.empty());
  image fits(200);
  fits.put(100, bytes(c.begin(), c.begin() + 20));
  EXPECT_EQ(fits.decode(100), 1);
  image short_image(199);
  short_image.put(100, bytes(c.begin(), c.begin() + 20));
  EXPECT_EQ(short_image.decode(100), 0);

  image im(8192);
  const size_t at = 5000;
  im.put(at, cell_of_length(10));
  EXPECT_EQ(im.decode(at), 1);  // the default minimum is 10
  im.put(at, cell_of_length(9));
  EXPECT_EQ(im.decode(at), 0);
  im.g.opt.rowsize_min = 9;
  EXPECT_EQ(im.decode(at), 1);
  im.g.opt.rowsize_min = 10;

  im.put(at, example);
  im.g.opt.rowsize_min = 11;
  EXPECT_EQ(im.decode(at), 1);
  im.g.opt.rowsize_min = 12;
  EXPECT_EQ(im.decode(at), 0);
  im.g.opt.rowsize_min = 10;
  im.g.opt.rowsize_max = 11;
  EXPECT_EQ(im.decode(at), 1);
  im.g.opt.rowsize_max = 10;
  EXPECT_EQ(im.decode(at), 0);
  im.g.opt.rowsize_max = 0xFFFFFFFFu;

  // Rowid 0 is rejected; a nine-byte rowid is read whole (here -1).
  im.data[at + 1] = 0x00;
  EXPECT_EQ(im.decode(at), 0);
  bytes negative = {0x0B};
  for (int i = 0; i < 9; ++i) negative.push_back(0xFF);
  negative.insert(negative.end(), example.begin() + 2, example.end());
  im.put(at, negative);
  ASSERT_EQ(im.decode(at), 1);
  EXPECT_EQ(im.row->rowid, -1);
  EXPECT_EQ(im.row->prefix_length, 10);
  expect_cell(*im.row, 0, 1, 14, 1);

  // A header holds its own size and at least one serial type, and no more
  // than a page.
  for (uint8_t size : {uint8_t{0}, uint8_t{1}}) {
    im.put(at, {0x0B, 0x05, size, 0x01, 0x01, 0x17});
    EXPECT_EQ(im.decode(at), 0) << int{size};
  }
  // With 512-byte pages: a header of exactly 512 bytes (510 serial types
  // 0) is accepted, one of 513 is not.
  image small_page(4 * 512, 512);
  small_page.put(512, cell(1, std::vector<uint64_t>(510, 0)));
  EXPECT_EQ(small_page.decode(512), 1);
  EXPECT_EQ(small_page.row->payload_header_size, 512u);
  small_page.put(512, cell(1, std::vector<uint64_t>(511, 0)));
  EXPECT_EQ(small_page.decode(512), 0);
}

TEST(Decoder, SerialTypes) {
  image im(8192);
  const size_t at = 4200;
  im.put(at, cell(3, {12, 13, 14, 15, 23}));
  ASSERT_EQ(im.decode(at), 1);
  // prefix 2, header 6: data from offset 8.
  expect_cell(*im.row, 0, 12, 8, 0);
  expect_cell(*im.row, 1, 13, 8, 0);
  expect_cell(*im.row, 2, 12, 8, 1);
  expect_cell(*im.row, 3, 13, 9, 1);
  expect_cell(*im.row, 4, 13, 10, 5);

  im.put(at, cell(3, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 612, 613}));
  ASSERT_EQ(im.decode(at), 1);
  const uint32_t sizes[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 300, 300};
  uint32_t offset = 3 + 15;  // prefix (2-byte payload length) + header
  for (int i = 0; i < 12; ++i) {
    expect_cell(*im.row, i, i < 10 ? static_cast<uint32_t>(i) : 12u + (i == 11), offset, sizes[i]);
    offset += sizes[i];
  }

  for (uint64_t reserved : {10, 11}) {
    im.put(at, cell(3, {1, reserved, 23}));
    EXPECT_EQ(im.decode(at), 0) << reserved;
    im.put(at, cell(3, {1, 23, reserved}));
    EXPECT_EQ(im.decode(at), 0) << reserved;
  }

  // Serial type 1 written as an eight-byte varint is accepted; as a
  // nine-byte varint it rejects the candidate.
  bytes eight = {0x12, 0x05, 0x0B, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01, 0x01, 0x17};
  for (char ch : std::string("1234567")) eight.push_back(static_cast<uint8_t>(ch));
  im.put(at, eight);
  ASSERT_EQ(im.decode(at), 1);
  expect_cell(*im.row, 0, 1, 13, 1);
  bytes nine = {0x13, 0x05, 0x0C, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01, 0x01, 0x17};
  for (char ch : std::string("1234567")) nine.push_back(static_cast<uint8_t>(ch));
  im.put(at, nine);
  EXPECT_EQ(im.decode(at), 0);
}

TEST(Decoder, OverflowThresholdAndChain) {
  image im(4 * 4096);  // page_count 4
  // A payload of 4062 keeps 489 bytes on the page: the cell's local part
  // ends right before page 2's last four bytes.
  const size_t at = 2 * 4096 - 4 - 489 - 3;
  const size_t last4 = 2 * 4096 - 4;
  im.be32(last4, 9);  // above page_count
  im.put(at, cell_of_length(4061));
  ASSERT_EQ(im.decode(at), 1);  // no chain below the threshold
  EXPECT_TRUE(im.overflow().empty());
  im.put(at, cell_of_length(4062));
  EXPECT_EQ(im.decode(at), 0);
  im.be32(last4, 0);
  EXPECT_EQ(im.decode(at), 1);
  EXPECT_TRUE(im.overflow().empty());

  im.be32(last4, 3);
  im.be32(2 * 4096, 4);
  im.be32(3 * 4096, 0);
  ASSERT_EQ(im.decode(at), 1);
  EXPECT_EQ(im.overflow(), (std::vector<uint32_t>{3, 4}));
  EXPECT_EQ(im.row->overflow_pages[2], 0u);
  im.be32(last4, 4);  // page_count itself is allowed
  ASSERT_EQ(im.decode(at), 1);
  EXPECT_EQ(im.overflow(), (std::vector<uint32_t>{4}));

  // A chain that loops back: one error line per call, even without -d, an
  // empty list, and the row still accepted.
  im.be32(last4, 3);
  im.be32(3 * 4096, 3);
  int32_t results[2];
  const std::string out = capture_stdout([&] {
    results[0] = im.decode(at);
    results[1] = im.decode(at);
  });
  EXPECT_EQ(out, "ERROR: No more space for overflow pages\nERROR: No more space for overflow pages\n");
  EXPECT_EQ(results[0], 1);
  EXPECT_EQ(results[1], 1);
  EXPECT_EQ(im.row->overflow_pages[0], 0u);

  // The walk comes before the header-size test of 2, after the one of
  // page_size: a header size of 1 walks (and prints), one of 4097 does not.
  bytes c = cell_of_length(4062);  // 0x9F 0x5E, rowid 1, then the header size
  c[3] = 0x01;
  im.put(at, c);
  im.be32(last4, 3);  // the cell's bytes ran over the page numbers
  im.be32(2 * 4096, 4);
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(im.decode(at), 0); }),
            "ERROR: No more space for overflow pages\n");
  im.put(at, {0x9F, 0x5E, 0x01, 0xA0, 0x01});
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(im.decode(at), 0); }), "");
}

TEST(Decoder, OverflowChainLengthLimit) {
  // 512-byte pages: pages 2 onwards form a chain in page order.
  const uint32_t pages = 10001;
  image im(size_t{pages} * 512, 512);
  const size_t at = 512 - 4 - 92 - 3;  // the local part of 600 is 92 bytes
  im.put(at, cell_of_length(600));
  im.be32(512 - 4, 2);
  for (uint32_t p = 2; p < 10000; ++p) im.be32(size_t{p - 1} * 512, p + 1);
  im.be32(size_t{10000 - 1} * 512, 0);  // 9999 pages: fits
  std::string out = capture_stdout([&] { EXPECT_EQ(im.decode(at), 1); });
  EXPECT_EQ(out, "");
  const std::vector<uint32_t> list = im.overflow();
  ASSERT_EQ(list.size(), 9999u);
  EXPECT_EQ(list.front(), 2u);
  EXPECT_EQ(list.back(), 10000u);

  im.be32(size_t{10000 - 1} * 512, 10001);  // 10000 pages: too many
  im.be32(size_t{10001 - 1} * 512, 0);
  out = capture_stdout([&] { EXPECT_EQ(im.decode(at), 1); });
  EXPECT_EQ(out, "ERROR: No more space for overflow pages\n");
  EXPECT_TRUE(im.overflow().empty());
}

TEST(Decoder, OverflowPagesOutsideTheFile) {
  // The header claims 10 pages; the file holds 3 and 5 bytes of a fourth.
  image im(3 * 4096 + 5, 4096, 10);
  const size_t at = 2 * 4096 - 4 - 489 - 3;  // the local part of 4062 is 489 bytes
  const size_t last4 = 2 * 4096 - 4;
  im.put(at, cell_of_length(4062));
  im.be32(last4, 10);  // not above page_count, but beyond the file
  ASSERT_EQ(im.decode(at), 1);
  EXPECT_EQ(im.overflow(), (std::vector<uint32_t>{10}));
  im.be32(last4, 3);
  im.be32(2 * 4096, 77);
  ASSERT_EQ(im.decode(at), 1);
  EXPECT_EQ(im.overflow(), (std::vector<uint32_t>{3, 77}));
  EXPECT_EQ(im.row->overflow_pages[2], 0u);
  im.be32(last4, 11);
  EXPECT_EQ(im.decode(at), 0);

  // Page 4 starts at db_end - 4: its next-page field is still read.
  im.be32(last4, 4);
  im.be32(3 * 4096, 2);
  im.be32(4096, 0);
  ASSERT_EQ(im.decode(at), 1);
  EXPECT_EQ(im.overflow(), (std::vector<uint32_t>{4, 2}));
  // With one byte less it lies beyond db_end - 4.
  image cut(3 * 4096 + 4, 4096, 10);
  std::copy(im.data.begin(), im.data.begin() + static_cast<long>(cut.data.size()), cut.data.begin());
  ASSERT_EQ(cut.decode(at), 1);
  EXPECT_EQ(cut.overflow(), (std::vector<uint32_t>{4}));
}

TEST(Decoder, FreeSpaceMode) {
  image im(8192);
  const size_t at = 4096 + 300;
  im.put(at, {0x04, 0x01, 0x01, 0x17, 'x', 'y', 'H', 'e', 'l', 'l', 'o'});
  ASSERT_EQ(im.decode(at, mode_freespace, 30), 15);
  const row_record& r = *im.row;
  EXPECT_EQ(r.payload_length, 22u);
  EXPECT_EQ(r.rowid, 1);
  EXPECT_EQ(r.prefix_length, 0);
  EXPECT_EQ(r.payload_header_size, 4u);
  EXPECT_EQ(r.last_cell, 2);
  expect_cell(r, 0, 1, 4, 1);
  expect_cell(r, 1, 1, 5, 1);
  expect_cell(r, 2, 13, 6, 5);
  EXPECT_EQ(im.decode(at, mode_freespace, 12), 0);  // 8 is below rowsize_min
  EXPECT_EQ(im.decode(at, mode_freespace, 15), 15);  // an exact fit
  EXPECT_EQ(im.decode(at, mode_freespace, 14), 0);   // S exceeds the 6 left

  // A header longer than the budget wraps the length: the walk runs and the
  // candidate is accepted.
  im.g.opt.rowsize_min = 0;
  im.put(at, {0x08, 1, 1, 1, 1, 1, 1, 1, 'a', 'b', 'c', 'd', 'e', 'f', 'g'});
  im.be32(2 * 4096 - 4, 0);
  EXPECT_EQ(im.decode(at, mode_freespace, 10), 19);
  EXPECT_EQ(r.payload_length, 0xFFFFFFFFFFFFFFFEull);
  EXPECT_TRUE(im.overflow().empty());

  // A budget below 4 leaves no room for a record.
  for (uint32_t budget : {0u, 1u, 3u}) EXPECT_EQ(im.decode(at, mode_freespace, budget), 0) << budget;
  EXPECT_EQ(im.decode(at, mode_freespace, 4), 19);
}

TEST(Decoder, FreeSpaceBudgetBelowFourInAnImageOver4GiB) {
  // The wrapped budget (2^32 - 1) is below the size of a file over 4 GiB,
  // so only the explicit test rejects it. The record itself is valid, so no
  // byte past the real buffer is ever read.
  bytes data(8192);
  const size_t at = 4096 + 300;
  const bytes rec = {0x08, 1, 1, 1, 1, 1, 1, 1, 'a', 'b', 'c', 'd', 'e', 'f', 'g'};
  std::copy(rec.begin(), rec.end(), data.begin() + at);
  globals g;
  globals_init(&g);
  g.page_size = 4096;
  g.page_count = 2;
  g.opt.rowsize_min = 0;
  image_attach(&g, data.data(), 5ull << 30);
  row_record row;
  ASSERT_EQ(row_record_bind(&g, &row), 0);
  EXPECT_EQ(decode_row(&g, data.data() + at, data.data() + 8192, &row, mode_freespace, 3), 0);
  EXPECT_EQ(decode_row(&g, data.data() + at, data.data() + 8192, &row, mode_freespace, 4), 19);
  globals_release(&g);
}

TEST(Decoder, CandidatesAtTheEndOfTheImage) {
  // A row whose every byte the decoder reads: each truncation at the end of
  // the image is rejected, the whole cell accepted.
  const bytes whole = {0x04, 0x01, 0x04, 0x08, 0x09, 0x00};
  for (size_t n = 1; n <= whole.size(); ++n) {
    image im(64 + n);
    im.g.opt.rowsize_min = 0;
    im.put(64, bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
    EXPECT_EQ(im.decode(64), n == whole.size() ? 1 : 0) << n;
  }

  // Multi-byte varints: a cut anywhere in the payload length, the rowid, the
  // header size or a serial type rejects; the data bytes are not the
  // decoder's to read.
  const bytes c = cell(70000, {1, 300, 301, 600});
  const size_t header_end = 2 + 3 + 8;  // 2-byte length, 3-byte rowid, header
  ASSERT_EQ(c[2], 0x84);                // rowid 70000 = 0x84 0xA2 0x70
  for (size_t n = 1; n <= header_end + 1; ++n) {
    image im(4096 + n);  // a last page held in part
    im.put(4096, bytes(c.begin(), c.begin() + static_cast<long>(n)));
    EXPECT_EQ(im.decode(4096), n < header_end ? 0 : 1) << n;
  }
  // Free-space mode: the header alone is read.
  const bytes rec = record({1, 300, 301});
  for (size_t n = 1; n <= 6; ++n) {
    image im(4096 + n);  // a last page held in part
    im.put(4096, bytes(rec.begin(), rec.begin() + static_cast<long>(n)));
    EXPECT_EQ(im.decode(4096, mode_freespace, 400), n < 6 ? 0 : 4 + 6 + 289) << n;
  }
}

TEST(Decoder, CellTableHoldsEveryAdmissibleHeader) {
  const bytes wide = cell(1, std::vector<uint64_t>(1500, 1));  // header 1502
  {
    image im(8192);
    im.g.opt.cellcount_max = 2000;
    im.put(4096, wide);
    ASSERT_EQ(im.decode(4096), 1);
    EXPECT_EQ(im.g.cell_table_size, 2001u);
    EXPECT_EQ(im.row->last_cell, 1499);
    expect_cell(*im.row, 1499, 1, 3 + 1502 + 1499, 1);
    im.g.opt.cellcount_max = 1499;  // 1500 cells: cellcount_max + 1
    EXPECT_EQ(im.decode(4096), 1);
    im.g.opt.cellcount_max = 1498;
    EXPECT_EQ(im.decode(4096), 0);
  }
  {
    image im(8192);  // the default admits 1001 cells, not 1002
    im.put(4096, cell(1, std::vector<uint64_t>(1001, 1)));
    im.put(6144, cell(1, std::vector<uint64_t>(1002, 1)));
    EXPECT_EQ(im.decode(4096), 1);
    EXPECT_EQ(im.row->last_cell, 1000);
    EXPECT_EQ(im.decode(6144), 0);
    EXPECT_EQ(im.g.cell_table_size, 1001u);
  }
  {
    // No limit: the table is bounded by the page size, and the widest header
    // that fits a page is accepted.
    image im(8192);
    im.g.opt.cellcount_max = 2147483647;
    im.put(4096, cell(1, std::vector<uint64_t>(4000, 0)));
    ASSERT_EQ(im.decode(4096), 1);
    EXPECT_EQ(im.g.cell_table_size, 4096u);
    EXPECT_EQ(im.row->last_cell, 3999);
  }
  {
    image im(2000);  // ... or by the file when it is smaller than a page
    im.g.opt.cellcount_max = 2147483647;
    im.attach();
    EXPECT_EQ(im.g.cell_table_size, 2000u);
  }
}

// Cell sizes add up in 64 bits: a header whose 32-bit total would wrap
// (5 bytes of text, then a blob of 2^32 - 3 bytes: 32-bit total 2) must not
// pass as a 10-byte row, in either mode.
TEST(Decoder, CellTotalDoesNotWrap) {
  image im(8192);
  const size_t at = 4200;
  // payload 10, rowid 1, header 8: text(5), blob(2^32 - 3), NULL.
  im.put(at, {0x0A, 0x01, 0x08, 0x17, 0xA0, 0x80, 0x80, 0x80, 0x06, 0x00, 'a', 'b'});
  EXPECT_EQ(im.decode(at), 0);
  // The same header in a freeblock with room for it.
  EXPECT_EQ(im.decode(at + 2, mode_freespace, 30), 0);
  // Without the huge blob the row is whole and accepted.
  im.put(at, {0x0A, 0x01, 0x04, 0x19, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e', 'f'});
  EXPECT_EQ(im.decode(at), 1);
}
