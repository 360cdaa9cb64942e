#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "format/varint.h"

namespace {

struct decoded {
  uint64_t value = 0xDEADBEEF;
  int32_t count = -1;
  const uint8_t* next = nullptr;
};

// Decodes from an exact-size heap copy of bytes, so that a read past the
// last byte is caught by the sanitizer build.
decoded decode(const std::vector<uint8_t>& bytes) {
  auto buffer = std::make_unique<uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), buffer.get());
  decoded d;
  d.count = decode_varint(&d.value, buffer.get(), &d.next);
  EXPECT_EQ(d.next, buffer.get() + d.count);
  return d;
}

}  // namespace

TEST(Varint, DecodesTheFormatsEncodings) {
  struct {
    std::vector<uint8_t> bytes;
    uint64_t value;
    int32_t count;
  } cases[] = {
      {{0x00}, 0, 1},
      {{0x7F}, 127, 1},
      {{0x81, 0x00}, 128, 2},
      {{0x82, 0x2C}, 300, 2},
      {{0x81, 0x80, 0x00}, 16384, 3},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFFFFFFFFFFull, 9},
      // The ninth byte ends the varint whatever its top bit and gives 8 bits.
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81}, 0x81, 9},
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81, 0x00}, 256, 9},
      // Eight bytes: 56 bits, the eighth byte's top bit clear.
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, (1ull << 56) - 1, 8},
  };
  for (const auto& c : cases) {
    const decoded d = decode(c.bytes);
    EXPECT_EQ(d.value, c.value) << "count " << c.count;
    EXPECT_EQ(d.count, c.count);
  }
  // Trailing bytes are not part of the varint.
  EXPECT_EQ(decode({0x05, 0xFF, 0xFF}).count, 1);

  uint64_t value = 0;
  const uint8_t one[] = {0x81, 0x01};
  EXPECT_EQ(decode_varint(&value, one, nullptr), 2);  // next_out may be absent
  EXPECT_EQ(value, 129u);
}

TEST(Varint, BoundedReadStopsAtTheEnd) {
  const std::vector<uint8_t> nine = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81};
  auto buffer = std::make_unique<uint8_t[]>(nine.size());
  std::copy(nine.begin(), nine.end(), buffer.get());
  const uint8_t* p = buffer.get();
  uint64_t value = 7;
  const uint8_t* next = nullptr;
  // Every end short of the ninth byte leaves the varint unfinished.
  for (size_t end = 0; end < nine.size(); ++end) {
    EXPECT_EQ(decode_varint_within(&value, p, p + end, &next), 0) << end;
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(next, nullptr);
  }
  EXPECT_EQ(decode_varint_within(&value, p, p + 9, &next), 9);
  EXPECT_EQ(value, 0x81u);
  EXPECT_EQ(next, p + 9);

  // A short varint near the end is read as long as its last byte is inside.
  const uint8_t* last_two = p + 7;  // 0x80 0x81: runs past the end
  EXPECT_EQ(decode_varint_within(&value, last_two, p + 9, &next), 0);
  const uint8_t tail[] = {0x00, 0x82, 0x2C};
  EXPECT_EQ(decode_varint_within(&value, tail + 1, tail + 3, &next), 2);
  EXPECT_EQ(value, 300u);
  EXPECT_EQ(decode_varint_within(&value, tail + 1, tail + 2, &next), 0);
  EXPECT_EQ(decode_varint_within(&value, tail + 3, tail + 3, &next), 0);
}
