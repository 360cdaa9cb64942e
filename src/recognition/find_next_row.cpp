#include "recognition/find_next_row.h"

#include <cstdio>

#include "diagnostics/scan_trace.h"
#include "recognition/decode_row.h"
#include "recognition/quick_reject.h"
#include "recognition/survivor_map.h"

namespace {

// Moves pos on by step; false when that leaves the window's search range
// (the step is taken in offsets, so a huge step cannot wrap a pointer).
bool advance(const uint8_t*& pos, uint64_t step, const uint8_t* page_end) {
  if (pos >= page_end || step >= static_cast<uint64_t>(page_end - pos)) return false;
  pos += step;
  return true;
}

// The step past a standard-mode row: by the payload length, which leaves
// the position prefix_length bytes before the end of a cell held wholly on
// its page; for a row that overflows by the format's rule, by its local part
// and page number, which leaves it as far before the end of the cell's part
// on the page.
uint64_t row_step(const globals* g, const row_record& row) {
  return g->opt.fine_search      ? 1
         : row.local_size != 0 ? row.local_size + 4
                               : static_cast<uint32_t>(row.payload_length);
}

// After a free-space record of `used` bytes: false when it used up the
// freeblock's budget or the step leaves the image; else the position and
// the budget move on.
bool step_freespace(const globals* g, const uint8_t*& pos, uint32_t used, uint32_t* budget) {
  if (used >= *budget) {
    if (g->opt.debug) trace_block_used_up();
    return false;
  }
  // The step may carry the position past the window (the loop then ends),
  // but never past the image.
  if (!advance(pos, used, g->db_end + 1)) return false;
  *budget -= used;
  return true;
}

#if SARVEK_FAST_SCAN
// The fast path of one window. Without -d, the candidates that the fast
// test settles never reach the decoder; every other position is decoded as
// before. The survivors worked out ahead for this window, if any, stand for
// the fast test (they hold for the window's first budget only); the limits
// are set only where the test itself runs.
const survivor_map* window_survivors(const globals* g, bool fast, const uint8_t* start,
                                     const uint8_t* page_end, int32_t mode, uint32_t freeblock_size) {
  return fast && survivor_map_fits(g->survivors, start, page_end, mode, freeblock_size) ? g->survivors
                                                                                      : nullptr;
}

// Moves pos to the next position the fast test leaves to the decoder; false
// when none is left before stop.
inline bool fast_scan_next(const survivor_map* map, bool fast, const quick_limits& quick,
                           const uint8_t* stop, const uint8_t*& pos, int32_t mode,
                           uint32_t freeblock_size) {
  if (map) {
    pos = survivor_next(*map, pos);
    return pos < stop;
  }
  if (fast && quick_rejects(quick, pos, mode, freeblock_size)) {
    pos = skip_rejected(quick, pos + 1, stop, mode, freeblock_size);
    return pos < stop;  // else the positions left are all rejected
  }
  return true;
}
#endif

}  // namespace

const uint8_t* find_next_row(globals* g, const uint8_t* start, const uint8_t* page_end,
                             const uint8_t* base, int32_t mode, uint32_t freeblock_size) {
  if (g->opt.debug) trace_search_mode(mode);
  if (!start) {
    printf("ERROR: NULL passed as search-space parameter\n");
    return nullptr;
  }
  row_record row;
  if (row_record_bind(g, &row) != 0) return nullptr;
  const uint8_t* pos = start;
#if SARVEK_FAST_SCAN
  const bool fast = !g->opt.debug;
  const uint8_t* stop = page_end - start > 10 ? page_end - 10 : start;
  const survivor_map* map = window_survivors(g, fast, start, page_end, mode, freeblock_size);
  quick_limits quick;
  if (fast && !map) quick_limits_init(&quick, g, page_end, row.cell_capacity, mode);
#endif
  do {
#if SARVEK_FAST_SCAN
    if (!fast_scan_next(map, fast, quick, stop, pos, mode, freeblock_size)) break;
#endif
    const int32_t result = decode_row(g, pos, page_end, &row, mode, freeblock_size);
    if (result == 0) {
      ++pos;
      continue;
    }
    if (g->opt.debug) trace_row_found(&row, pos - base);
    if (g->report.found(g->report.context, pos, page_end, &row, mode) == 0) {
      ++pos;  // passed over
      continue;
    }
    if (mode != mode_freespace) {
      if (!advance(pos, row_step(g, row), page_end)) break;
      continue;
    }
    if (!step_freespace(g, pos, static_cast<uint32_t>(result), &freeblock_size)) break;
#if SARVEK_FAST_SCAN
    if (map) {  // the survivors held for the first budget only
      map = nullptr;
      quick_limits_init(&quick, g, page_end, row.cell_capacity, mode);
    }
#endif
    if (g->opt.debug) trace_after_freespace(g, pos);
  } while (pos < page_end && page_end - pos > 10);
  return nullptr;
}
