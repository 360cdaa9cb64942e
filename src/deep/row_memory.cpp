#include "deep/row_memory.h"

#include <algorithm>
#include <cstring>

namespace {

uint64_t mix(uint64_t h, uint64_t x) {
  h ^= x + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 31);
}

uint64_t hash_bytes(uint64_t h, byte_view bytes) {
  h = mix(h, bytes.size());
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word;
    memcpy(&word, bytes.data() + i, 8);
    h = mix(h, word);
  }
  uint64_t tail = 0;
  for (size_t k = 0; i + k < bytes.size(); ++k) tail |= uint64_t{bytes[i + k]} << (8 * k);
  return mix(h, tail);
}

uint64_t hash_values(int32_t table, std::span<const value_view> record) {
  uint64_t h = mix(0x51ED270B27A1C3D5ull, static_cast<uint64_t>(static_cast<int64_t>(table)));
  for (const value_view& v : record) {
    h = mix(h, static_cast<uint64_t>(v.kind));
    switch (v.kind) {
      case value_kind::integer: h = mix(h, static_cast<uint64_t>(v.integer)); break;
      case value_kind::real: {
        uint64_t bits;
        memcpy(&bits, &v.real, sizeof bits);
        h = mix(h, bits);
        break;
      }
      case value_kind::text:
      case value_kind::blob: h = hash_bytes(h, v.bytes); break;
      default: break;
    }
  }
  return h;
}

uint64_t with_rowid(uint64_t values_hash, int64_t rowid) {
  return mix(values_hash ^ 0xA5A5A5A5A5A5A5A5ull, static_cast<uint64_t>(rowid));
}

bool contains(const std::vector<uint64_t>& sorted, uint64_t key) {
  return std::binary_search(sorted.begin(), sorted.end(), key);
}

}  // namespace

void remember_live(row_memory* memory, int32_t table, bool has_rowid, int64_t rowid,
                   std::span<const value_view> record) {
  const uint64_t values = hash_values(table, record);
  memory->live_values.push_back(values);
  if (has_rowid) memory->live_keyed.push_back(with_rowid(values, rowid));
  if (table >= 0) {
    if (memory->fewest_fields.size() <= static_cast<size_t>(table))
      memory->fewest_fields.resize(static_cast<size_t>(table) + 1, UINT32_MAX);
    uint32_t& fewest = memory->fewest_fields[static_cast<size_t>(table)];
    fewest = std::min<uint32_t>(fewest, static_cast<uint32_t>(record.size()));
  }
}

void seal_live(row_memory* memory) {
  std::sort(memory->live_keyed.begin(), memory->live_keyed.end());
  std::sort(memory->live_values.begin(), memory->live_values.end());
}

bool seen_before(row_memory* memory, int32_t table, bool has_rowid, int64_t rowid,
                 std::span<const value_view> record) {
  const uint64_t values = hash_values(table, record);
  if (has_rowid) {
    const uint64_t keyed = with_rowid(values, rowid);
    if (contains(memory->live_keyed, keyed) || memory->printed_unkeyed.count(values)) return true;
    if (!memory->printed_keyed.insert(keyed).second) return true;
    memory->printed_values.insert(values);
    return false;
  }
  if (contains(memory->live_values, values)) return true;
  if (!memory->printed_values.insert(values).second) return true;
  memory->printed_unkeyed.insert(values);
  return false;
}
