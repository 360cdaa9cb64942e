#include "recognition/quick_reject.h"

#include <algorithm>
#include <vector>

#include "recognition/row_record.h"

namespace {

uint32_t read_be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Follows the window's overflow chain as decode_row does, without output,
// to learn how every candidate's walk ends.
chain_outcome walk_outcome(const globals* g, const uint8_t* page_end) {
  if (page_end > g->db_end + 1 || page_end - g->db_origin < 4) return chain_outcome::rejects;
  const uint32_t first = read_be32(page_end - 4);
  if (first > g->page_count) return chain_outcome::rejects;
  uint32_t k = 1;
  for (uint32_t current = first; current != 0; ++k) {
    const uint64_t offset = static_cast<uint64_t>(current - 1) * g->page_size;
    if (offset + 5 > g->db_size) break;
    current = read_be32(g->db_origin + offset);
    if (k + 1 > overflow_chain_limit) return chain_outcome::prints;
  }
  return chain_outcome::silent;
}

// The running totals of one window, kept for the run and reused by every
// window (the scan is single-threaded).
std::vector<uint64_t> prefix_storage;

// What one byte adds to the running totals, by its value.
struct prefix_steps {
  uint64_t step[256];
  constexpr prefix_steps() : step() {
    for (int b = 0; b < 256; ++b)
      step[b] = b >= 0x80 ? uint64_t{1} << 24
                : b == 10 || b == 11 ? uint64_t{1} << 44
                : quick_detail::serials.size[b];
  }
};
constexpr prefix_steps steps;

void build_prefix(quick_limits* q, const uint8_t* start, const uint8_t* end) {
  const size_t length = static_cast<size_t>(end - start);
  if (prefix_storage.size() < length + 1) prefix_storage.resize(length + 1);
  uint64_t* prefix = prefix_storage.data();
  uint64_t running = 0;
  prefix[0] = 0;
  for (size_t i = 0; i < length; ++i) prefix[i + 1] = running += steps.step[start[i]];
  q->prefix_base = start;
  q->prefix_end = end;
  q->prefix = prefix;
}

}  // namespace

void quick_limits_init(quick_limits* q, const globals* g, const uint8_t* start,
                       const uint8_t* page_end, uint32_t cell_capacity) {
  const uint8_t* image_end = g->db_end + 1;
  q->payload_min = g->rowsize_min;
  q->payload_max = g->rowsize_max < g->db_size ? g->rowsize_max : g->db_size;
  q->page_size = g->page_size;
  q->overflow_threshold = static_cast<uint32_t>(g->page_size - 35u);
  q->chain = walk_outcome(g, page_end);
  q->short_rows = q->overflow_threshold >= 127 && q->page_size >= 127;
  q->long_lengths_reject =
      q->payload_max < 16384 || (q->overflow_threshold < 16384 && q->chain == chain_outcome::rejects);
  q->cellcount_min = g->cellcount_min;
  const int64_t last_slot = static_cast<int64_t>(cell_capacity) - 1;
  q->max_cell_index = static_cast<int32_t>(g->cellcount_max < last_slot ? g->cellcount_max : last_slot);
  for (uint32_t length = 0; length < 128; ++length)
    q->length_ok[length] = length >= q->payload_min && length <= q->payload_max;
  q->image_end = image_end;
  // Headers of candidates near the window's end reach a little past it.
  const uint8_t* reach = image_end - page_end > 160 ? page_end + 160 : image_end;
  if (start < reach) build_prefix(q, start, reach);
  else q->prefix_base = q->prefix_end = start, q->prefix = nullptr;
  q->safe_end = g->db_size > 64 ? image_end - 64 : g->db_origin;
}
