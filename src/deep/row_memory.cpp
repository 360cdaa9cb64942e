#include "deep/row_memory.h"

#include <algorithm>
#include <cstring>


namespace {

__extension__ typedef unsigned __int128 u128;

// The folded 128-bit product: one multiplication mixes 64 bits into 64.
uint64_t fold(uint64_t a, uint64_t b) {
  const u128 r = static_cast<u128>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

uint64_t mix(uint64_t h, uint64_t x) { return fold(h ^ 0xA0761D6478BD642Full, x ^ 0xE7037ED1A0B428DBull); }

// Long texts and blobs are hashed by their length and their first and last
// 128 bytes: two values that differ only in between are not worth reading
// every byte of every large value for.
uint64_t hash_bytes(uint64_t h, byte_view bytes) {
  if (bytes.size() > 512)
    return hash_bytes(hash_bytes(mix(h, bytes.size()), bytes.first(128)), bytes.last(128));
  h = mix(h, bytes.size());
  size_t i = 0;
  for (; i + 16 <= bytes.size(); i += 16) {
    uint64_t a, b;
    memcpy(&a, bytes.data() + i, 8);
    memcpy(&b, bytes.data() + i + 8, 8);
    h = fold(a ^ h ^ 0x8EBC6AF09C88C6E3ull, b ^ 0x589965CC75374CC3ull);
  }
  uint64_t tail[2] = {0, 0};
  if (i < bytes.size()) memcpy(tail, bytes.data() + i, bytes.size() - i);  // an empty view may have no data
  return fold(tail[0] ^ h ^ 0x1D8E4E27C47D124Full, tail[1] ^ 0xA0761D6478BD642Full);
}

uint64_t with_rowid(uint64_t values_hash, int64_t rowid) {
  return mix(values_hash ^ 0xA5A5A5A5A5A5A5A5ull, static_cast<uint64_t>(rowid));
}

bool contains(const std::vector<uint64_t>& sorted, uint64_t key) {
  return std::binary_search(sorted.begin(), sorted.end(), key);
}

}  // namespace

uint64_t record_hash(int32_t table, byte_view header, byte_view body) {
  const uint64_t seed = mix(0x51ED270B27A1C3D5ull, static_cast<uint64_t>(static_cast<int64_t>(table)));
  return hash_bytes(hash_bytes(seed, header), body);
}

uint64_t payload_hash(int32_t table, byte_view payload) {
  uint64_t at = 0, header_size = 0;
  if (!read_varint(payload, &at, &header_size) || header_size > payload.size())
    return record_hash(table, payload, {});
  return record_hash(table, payload.first(header_size), payload.subspan(header_size));
}

bool key_hash(int32_t table, std::span<const value_view> key, uint64_t* hash) {
  uint64_t h = mix(0x3C6EF372FE94F82Bull, static_cast<uint64_t>(static_cast<int64_t>(table)));
  for (const value_view& v : key) {
    h = mix(h, static_cast<uint64_t>(v.kind));
    switch (v.kind) {
      case value_kind::unknown: return false;
      case value_kind::integer: h = mix(h, static_cast<uint64_t>(v.integer)); break;
      case value_kind::real: {
        uint64_t bits = 0;
        memcpy(&bits, &v.real, sizeof bits);
        h = mix(h, bits);
        break;
      }
      case value_kind::text:
      case value_kind::blob: h = hash_bytes(h, v.bytes); break;
      case value_kind::null: break;
    }
  }
  *hash = h;
  return true;
}

void expect_live(row_memory* memory, uint64_t rows) {
  if (memory->remember) memory->live.reserve(rows);
}

namespace {

// The packed entry: 40 bits of the record hash, 24 of the rowid's.
constexpr uint64_t record_bits = ~uint64_t{0} << 24;

uint64_t packed(uint64_t hash, bool has_rowid, int64_t rowid) {
  const uint64_t tag = has_rowid ? mix(static_cast<uint64_t>(rowid), 0x2545F4914F6CDD1Dull) & ~record_bits : 0;
  return (hash & record_bits) | tag;
}

}  // namespace

void remember_live(row_memory* memory, int32_t table, bool has_rowid, int64_t rowid,
                   uint64_t hash, size_t fields) {
  if (!memory->remember) return;
  memory->live.push_back(packed(hash, has_rowid, rowid));
  if (table >= 0) {
    if (memory->fewest_fields.size() <= static_cast<size_t>(table))
      memory->fewest_fields.resize(static_cast<size_t>(table) + 1, UINT32_MAX);
    uint32_t& fewest = memory->fewest_fields[static_cast<size_t>(table)];
    fewest = std::min<uint32_t>(fewest, static_cast<uint32_t>(fields));
  }
}

namespace {

// Sorts in place (a second buffer would double the memory a large
// database's rows take): one pass distributes the keys into 4096 buckets by
// their top 12 bits, swapping them into place, then each small bucket is
// sorted where it lies. Hashes are uniform, so the buckets are even.
template <typename Key>
void bucket_sort(std::vector<Key>* keys) {
  constexpr int bits = 12;
  constexpr size_t buckets = size_t{1} << bits;
  constexpr int shift = static_cast<int>(sizeof(Key) * 8) - bits;
  std::vector<size_t> start(buckets + 1, 0), next(buckets);
  for (const Key k : *keys) ++start[static_cast<size_t>(k >> shift) + 1];
  for (size_t b = 0; b < buckets; ++b) start[b + 1] += start[b];
  std::copy(start.begin(), start.end() - 1, next.begin());
  Key* data = keys->data();
  for (size_t b = 0; b < buckets; ++b) {
    while (next[b] < start[b + 1]) {
      Key k = data[next[b]];
      size_t home = static_cast<size_t>(k >> shift);
      while (home != b) {
        std::swap(k, data[next[home]++]);
        home = static_cast<size_t>(k >> shift);
      }
      data[next[b]++] = k;
    }
  }
  for (size_t b = 0; b < buckets; ++b) std::sort(data + start[b], data + start[b + 1]);
}

}  // namespace

void seal_live(row_memory* memory) { bucket_sort(&memory->live); }

bool copy_of_live(const row_memory& memory, bool keyed, bool has_rowid, int64_t rowid,
                  uint64_t hash) {
  if (keyed && has_rowid) return contains(memory.live, packed(hash, true, rowid));
  if (!keyed) return contains(memory.live, packed(hash, false, 0));
  // The rowid is lost: any live row with this record.
  const auto it = std::lower_bound(memory.live.begin(), memory.live.end(), hash & record_bits);
  return it != memory.live.end() && (*it & record_bits) == (hash & record_bits);
}

bool seen_before(row_memory* memory, bool keyed, bool has_rowid, int64_t rowid, uint64_t values) {
  if (copy_of_live(*memory, keyed, has_rowid, rowid, values)) return true;
  if (keyed && has_rowid) {
    if (memory->printed_unkeyed.contains(values)) return true;
    if (!memory->printed_keyed.insert(with_rowid(values, rowid))) return true;
    memory->printed_values.insert(values);
    return false;
  }
  if (!memory->printed_values.insert(values)) return true;
  memory->printed_unkeyed.insert(values);
  return false;
}
