// The hex dump and the raw page dump, byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "diagnostics/hexdump.h"
#include "setup/globals.h"
#include "support/text.h"

namespace {

std::string address(const void* p) {
  char text[32];
  snprintf(text, sizeof text, "%p", p);
  return text;
}

std::string dump(const std::vector<uint8_t>& bytes, uint16_t length, const char* label) {
  return capture_stdout([&] { EXPECT_EQ(hexdump(bytes.data(), length, label), 0); });
}

TEST(Hexdump, RowsCountsAndTextColumn) {
  std::vector<uint8_t> letters;
  for (char c = 'A'; c <= 'T'; ++c) letters.push_back(static_cast<uint8_t>(c));
  EXPECT_EQ(dump(letters, 20, "Example"),
            "Example: Hexdumping 20 bytes from " + address(letters.data()) + "\n"
            "0000 [000020] 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50   [000020]ABCDEFGHIJKLMNOP 4\n"
            "0010 [000004] 51 52 53 54   [000004]QRST -1\n"
            "\n");

  std::vector<uint8_t> bytes(32);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0xE0 + i);
  const std::string hex16 = "E0 E1 E2 E3 E4 E5 E6 E7 E8 E9 EA EB EC ED EE EF ";
  const std::string hex32 = "F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF ";
  const std::string head = " bytes from " + address(bytes.data()) + "\n";
  EXPECT_EQ(dump(bytes, 16, "L"),
            "L: Hexdumping 16" + head + "0000 [000016] " + hex16 + "  [000016]................ 0\n\n");
  EXPECT_EQ(dump(bytes, 32, "L"), "L: Hexdumping 32" + head + "0000 [000032] " + hex16 +
                                      "  [000032]................ 16\n0010 [000016] " + hex32 +
                                      "  [000016]................ 0\n\n");
  EXPECT_EQ(dump(bytes, 0, "L"), "L: Hexdumping 0" + head + "\n");
  EXPECT_EQ(dump(bytes, 1, "L"), "L: Hexdumping 1" + head + "0000 [000001] E0   [000001]. -1\n\n");

  // Printable means 0x20..0x7E: space and underscore stand as themselves.
  const std::vector<uint8_t> mixed{0x1F, 0x20, 0x5F, 0x7E, 0x7F, 0x80, 0xFF, 0x09, 0x0A, 0x0D, 0x00, 'z'};
  EXPECT_EQ(dump(mixed, 12, "P"), "P: Hexdumping 12 bytes from " + address(mixed.data()) +
                                      "\n0000 [000012] 1F 20 5F 7E 7F 80 FF 09 0A 0D 00 7A   [000012]. _~......."
                                      "z -1\n\n");

  std::string nothing = capture_stdout([] { hexdump(nullptr, 16, "Null"); });
  EXPECT_EQ(nothing, "Null: Hexdumping 16 bytes from " + address(nullptr) + "\nERROR: NULL passed.\n\n");
}

TEST(Hexdump, LongWindowsKeepTheLowSixteenBits) {
  std::vector<uint8_t> big(70000, 'a');
  const std::string out = dump(big, static_cast<uint16_t>(big.size()), "Big");
  const std::vector<std::string> lines = split_lines(out);
  ASSERT_EQ(lines.size(), 1u + 279u + 1u);  // heading, 4464 / 16 rows, empty line
  EXPECT_EQ(lines[0].rfind("Big: Hexdumping 4464 bytes from ", 0), 0u);
  EXPECT_EQ(lines[1].substr(0, 14), "0000 [004464] ");
  EXPECT_EQ(lines[279], "1160 [000016] 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61   "
                        "[000016]aaaaaaaaaaaaaaaa 0");
  EXPECT_EQ(dump(big, static_cast<uint16_t>(65536u), "Wrap"),
            "Wrap: Hexdumping 0 bytes from " + address(big.data()) + "\n\n");
}

// The raw dump of page n of an exact-size image with the given page size.
std::string raw(const std::vector<uint8_t>& image, uint32_t page_size, int page) {
  globals g;
  globals_init(&g);
  g.page_size = page_size;
  g.walk.page_number = page;
  g.db_origin = image.data();
  g.db_end = image.data() + image.size() - 1;
  g.db_size = image.size();
  g.walk.page = g.walk.cfp = image.data() + uint64_t(page - 1) * page_size;
  return mask_debug(capture_stdout([&] { raw_page_dump(&g); }));
}

TEST(RawPageDump, HeadingLinesAndCharacters) {
  std::vector<uint8_t> image(1024 + 300, '.');
  for (int i = 0; i < 256; ++i) image[512 + i] = static_cast<uint8_t>(i);
  const std::string line(128, '.');
  EXPECT_EQ(raw(image, 512, 1),
            "F:L:Dumping main block in RAW... [ Page No: 1, Offset: 0 (0x0),  size : 512 ]\n" +
                line + "\n" + line + "\n" + line + "\n" + line + "\n\n");

  std::string controls(32, '_');
  std::string ascii;
  for (int c = 0x20; c < 0x7F; ++c) ascii += static_cast<char>(c);
  const std::string high(128, '_');
  EXPECT_EQ(raw(image, 512, 2),
            "F:L:Dumping main block in RAW... [ Page No: 2, Offset: 512 (0x200),  size : 512 ]\n" +
                controls + ascii + "_\n" + high + "\n" + line + "\n" + line + "\n\n");

  // A size that is no multiple of 128 ends with a shorter line; the
  // hexadecimal offset is upper case.
  std::vector<uint8_t> odd(2 * 2748, ' ');
  EXPECT_EQ(raw(odd, 2748, 2), "F:L:Dumping main block in RAW... [ Page No: 2, Offset: 2748 (0xABC),  size : 2748 ]\n" +
                                   [] {
                                     std::string body;
                                     for (int i = 0; i < 21; ++i) body += std::string(128, ' ') + "\n";
                                     return body + std::string(60, ' ') + "\n";
                                   }());

  // The short last page: the heading still gives the page size, the body the
  // 300 bytes that exist.
  EXPECT_EQ(raw(image, 512, 3),
            "F:L:Dumping main block in RAW... [ Page No: 3, Offset: 1024 (0x400),  size : 512 ]\n" +
                line + "\n" + line + "\n" + std::string(44, '.') + "\n");
}

}  // namespace
