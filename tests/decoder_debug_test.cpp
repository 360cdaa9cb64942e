#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "recognition/decode_row.h"
#include "support/text.h"

namespace {

using bytes = std::vector<uint8_t>;

// An exact-size heap image with a database header, decoded under -d.
struct image {
  bytes data;
  globals g{};
  std::unique_ptr<row_record> row = std::make_unique<row_record>();

  image(size_t size, uint32_t page_size) : data(size) {
    globals_init(&g);
    data[16] = static_cast<uint8_t>(page_size >> 8);
    data[17] = static_cast<uint8_t>(page_size);
    data[31] = static_cast<uint8_t>((size + page_size - 1) / page_size);
    image_attach(&g, data.data(), data.size());
    image_read_header(&g);
    row_record_bind(&g, row.get());
    g.opt.debug = 1;
  }
  ~image() { globals_release(&g); }

  void put(size_t at, const bytes& b) { std::copy(b.begin(), b.end(), data.begin() + static_cast<long>(at)); }
  void be32(size_t at, uint32_t v) { put(at, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }
  std::string addr(size_t offset) const {
    char text[32];
    snprintf(text, sizeof text, "%p", static_cast<const void*>(data.data() + offset));
    return text;
  }

  // The raw -d output of one call, and its result.
  std::string raw(size_t at, int32_t* result, int32_t mode = mode_standard, uint32_t freeblock_size = 0) {
    size_t end = (at / g.page_size + 1) * g.page_size;
    if (end > data.size()) end = data.size();
    return capture_stdout([&] {
      *result = decode_row(&g, data.data() + at, data.data() + end, row.get(), mode, freeblock_size);
    });
  }
  std::string trace(size_t at, int32_t expected, int32_t mode = mode_standard, uint32_t freeblock_size = 0) {
    int32_t result = -1;
    const std::string out = mask_debug(raw(at, &result, mode, freeblock_size));
    EXPECT_EQ(result, expected);
    return out;
  }
  // The trace after the mode line and the start dump.
  std::string after_start(size_t at, int32_t expected, int32_t mode = mode_standard,
                          uint32_t freeblock_size = 0) {
    const std::string out = trace(at, expected, mode, freeblock_size);
    const size_t cut = out.find("\n\n");
    return cut == std::string::npos ? "(no start dump)" : out.substr(cut + 2);
  }
};

const std::string mode_line = "F:L:DEBUG:DECODING ROW-------------------------MODE:";

}  // namespace

TEST(DecoderDebug, StandardAcceptanceAndSilentRejection) {
  image im(8192, 4096);
  const size_t at = 4096 + 100;
  im.put(at, {0x0B, 0x05, 0x04, 0x01, 0x01, 0x17, 0x2A, 0x2B, 'H', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(im.trace(at, 1),
            mode_line + "Standard\n"
            "Decode_row start data: Hexdumping 16 bytes from 0xADDR\n"
            "0000 [000016] 0B 05 04 01 01 17 2A 2B 48 65 6C 6C 6F 00 00 00   [000016]......*+Hello... 0\n"
            "\n"
            "F:L:DEBUG:Payload size: 11\n"
            "[L:11][id:5][PLHz:4][0:1:1-6(2)][1:1:1-7(1)][2:13:5-8(0)]"
            "DEBUG: Payload head size match. (6 =? 6)\n"
            " DEBUG: Data size by cell meta sum = 7\n"
            " Offset [7] + headersize [4] = length check [11]... \n"
            "\nMATCH FOUND!\n");

  // A sum that is not exact ends the trace after the length check line.
  im.data[at] = 0x0C;
  EXPECT_EQ(im.after_start(at, 0),
            "F:L:DEBUG:Payload size: 12\n"
            "[L:12][id:5][PLHz:4][0:1:1-6(2)][1:1:1-7(1)][2:13:5-8(0)]"
            "DEBUG: Payload head size match. (6 =? 6)\n"
            " DEBUG: Data size by cell meta sum = 7\n"
            " Offset [7] + headersize [4] = length check [12]... \n");
  // A length below the minimum ends it right after the start dump.
  im.data[at] = 0x09;
  EXPECT_EQ(im.after_start(at, 0), "");

  // Serial type 10: the cell line before it runs on into the reserved line.
  im.put(at, {0x0B, 0x05, 0x04, 0x01, 0x0A, 0x17});
  EXPECT_EQ(im.after_start(at, 0),
            "F:L:DEBUG:Payload size: 11\n"
            "[L:11][id:5][PLHz:4][0:1:1-6(2)]F:L:DEBUG: celltype 10/11 reserved, aborting row.\n");
}

TEST(DecoderDebug, HeaderMismatchAndTooFewCells) {
  image im(8192, 4096);
  const size_t at = 4096 + 100;
  // Header size 3, but the second serial type (0x81 0x0D, a 64-byte text)
  // runs one byte past the header's end.
  im.put(at, {0x44, 0x02, 0x03, 0x01, 0x81, 0x0D});
  const std::string head =
      "F:L:DEBUG:Payload size: 68\n"
      "[L:68][id:2][PLHz:3][0:1:1-5(1)][1:13:64-6(-1)]"
      "DEBUG: Payload scan end point, and predicted end point didn't match, difference 1 \n";
  EXPECT_EQ(im.after_start(at, 0), head + "F:L:DEBUG: cell count under the minimum, so aborting\n");
  im.g.opt.cellcount_min = 1;
  EXPECT_EQ(im.after_start(at, 1), head +
                                       "Offset [65] + headersize [3] = length check [68]... \n"
                                       "\nMATCH FOUND!\n");
}

TEST(DecoderDebug, FreeSpaceMode) {
  image im(8192, 4096);
  const size_t at = 4096 + 300;
  im.put(at, {0x04, 0x01, 0x01, 0x17, 'x', 'y', 'H', 'e', 'l', 'l', 'o'});
  const std::string out = im.trace(at, 15, mode_freespace, 30);
  EXPECT_EQ(out.substr(0, out.find('\n') + 1), mode_line + "Freespace\n");
  EXPECT_EQ(im.after_start(at, 15, mode_freespace, 30),
            "F:L:DEBUG:Payload size: 26\n"
            "F:L:DEBUG: Looking for 22 bytes of data after the payload header\n"
            "[L:22][id:1][PLHz:4][0:1:1-4(2)][1:1:1-5(1)][2:13:5-6(0)]"
            "DEBUG: Payload head size match. (4 =? 4)\n"
            " DEBUG: Data size by cell meta sum = 7\n"
            " Offset [7] + headersize [4] = length check [22]... \n"
            "F:L:DEBUG: FREESPACE SUBMATCH FOUND ( 7 of 22 used )\n");
}

TEST(DecoderDebug, StartDumpClippedAtTheImageEnd) {
  image im(4096 + 6, 4096);
  im.g.opt.rowsize_min = 0;
  im.put(4096, {0x04, 0x01, 0x04, 0x08, 0x09, 0x00});
  EXPECT_EQ(im.trace(4096, 1),
            mode_line + "Standard\n"
            "Decode_row start data: Hexdumping 6 bytes from 0xADDR\n"
            "0000 [000006] 04 01 04 08 09 00   [000006]...... -1\n"
            "\n"
            "F:L:DEBUG:Payload size: 4\n"
            "[L:4][id:1][PLHz:4][0:8:0-6(2)][1:9:0-6(1)][2:0:0-6(0)]"
            "DEBUG: Payload head size match. (6 =? 6)\n"
            " DEBUG: Data size by cell meta sum = 0\n"
            " Offset [0] + headersize [4] = length check [4]... \n"
            "\nMATCH FOUND!\n");
}

TEST(DecoderDebug, OverflowChainLines) {
  image im(4 * 512, 512);  // page_count 4
  // Payload 600 (over 512 - 35), rowid 1, header 5: types 1, 1 and a
  // 593-byte text. Its local part, 92 bytes, ends right before page 2's
  // last four bytes, which hold its first overflow page number.
  const size_t at = 1024 - 4 - 92 - 3;
  im.put(at, {0x84, 0x58, 0x01, 0x05, 0x01, 0x01, 0x89, 0x2F});
  im.be32(1024 - 4, 3);
  im.be32(1024, 4);
  im.be32(1536, 0);
  const std::string tail =
      "[L:600][id:1][PLHz:5][0:1:1-8(3)][1:1:1-9(2)][2:13:593-10(0)]"
      "DEBUG: Payload head size match. (8 =? 8)\n"
      " DEBUG: Data size by cell meta sum = 595\n"
      " Offset [595] + headersize [5] = length check [600]... \n"
      "\nMATCH FOUND!\n";
  const std::string first =
      "F:L:DEBUG:Payload size: 600\n"
      "F:L:DEBUG: First overflow page = 3\n"
      "First overflow page start data: Hexdumping 16 bytes from 0xADDR\n"
      "0000 [000016] 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 03   [000016]................ 0\n"
      "\n";
  EXPECT_EQ(im.after_start(at, 1), first +
                                       "F:L:DEBUG: Calculated address: 0xADDR\n"
                                       "F:L:DEBUG: overflow page[1] = 4\n"
                                       "F:L:DEBUG: Calculated address: 0xADDR\n"
                                       "F:L:DEBUG: overflow page[2] = 0\n"
                                       "DEBUG: Total of 2 overflow pages\n"
                                       "DEBUG: Overflow 0->3\n"
                                       "DEBUG: Overflow 1->4\n" +
                                       tail);
  int32_t result = 0;
  std::string out = im.raw(at, &result);
  EXPECT_NE(out.find("from " + im.addr(1008) + "\n"), std::string::npos);  // last 16 bytes of page 2
  EXPECT_NE(out.find("Calculated address: " + im.addr(1024) + "\n"), std::string::npos);
  EXPECT_NE(out.find("Calculated address: " + im.addr(1536) + "\n"), std::string::npos);

  // Page 9 lies beyond the file: the walk stops and keeps it.
  im.be32(1024, 9);
  EXPECT_EQ(im.after_start(at, 1), first +
                                       "F:L:DEBUG: Calculated address: 0xADDR\n"
                                       "F:L:DEBUG: overflow page[1] = 9\n"
                                       "F:L:DEBUG: Calculated address: 0xADDR\n"
                                       "F:L:ERROR: Seek beyond end of data looking for overflow page "
                                       "(0xADDR > 0xADDR)\n"
                                       "DEBUG: Total of 2 overflow pages\n"
                                       "DEBUG: Overflow 0->3\n"
                                       "DEBUG: Overflow 1->9\n" +
                                       tail);
  out = im.raw(at, &result);
  EXPECT_NE(out.find("(" + im.addr(8 * 512) + " > " + im.addr(2047) + ")\n"), std::string::npos);

  // A first page above page_count rejects before any overflow line.
  im.be32(1024 - 4, 5);
  EXPECT_EQ(im.after_start(at, 0), "F:L:DEBUG:Payload size: 600\n");
}
