#include "recognition/find_next_row.h"

#include <cstdio>

#include "diagnostics/debug.h"
#include "diagnostics/hexdump.h"
#include "output/dump_row.h"
#include "output/flush.h"
#include "recognition/decode_row.h"
#include "recognition/quick_reject.h"
#include "recognition/survivor_map.h"

namespace {

// The removed-rows filter: a row passes when its first field prints as -1,
// that is a row found in free-space mode or a standard row whose rowid is -1.
bool is_removed_row(const row_record* row, int32_t mode) {
  return mode == mode_freespace || row->rowid == -1;
}

// Moves pos on by step; false when that leaves the window's search range
// (the step is taken in offsets, so a huge step cannot wrap a pointer).
bool advance(const uint8_t*& pos, uint64_t step, const uint8_t* page_end) {
  if (pos >= page_end || step >= static_cast<uint64_t>(page_end - pos)) return false;
  pos += step;
  return true;
}

}  // namespace

const uint8_t* find_next_row(globals* g, const uint8_t* start, const uint8_t* page_end,
                             const uint8_t* base, int32_t mode, uint32_t freeblock_size) {
  if (g->opt.debug) printf("find_next_row: MODE: %d\n", mode);
  if (!start) {
    printf("ERROR: NULL passed as search-space parameter\n");
    return nullptr;
  }
  row_record row;
  if (row_record_bind(g, &row) != 0) return nullptr;
  const uint8_t* pos = start;
#if SARVEK_FAST_SCAN
  // Without -d, the candidates that the fast test settles never reach the
  // decoder; every other position is decoded as before.
  const bool fast = !g->opt.debug;
  const uint8_t* stop = page_end - start > 10 ? page_end - 10 : start;
  // The survivors worked out ahead for this window, if any, stand for the
  // fast test (they hold for the window's first budget only); the limits
  // are set only where the test itself runs.
  const survivor_map* map =
      fast && survivor_map_fits(g->survivors, start, page_end, mode, freeblock_size) ? g->survivors
                                                                                   : nullptr;
  quick_limits quick;
  if (fast && !map) quick_limits_init(&quick, g, page_end, row.cell_capacity, mode);
#endif
  do {
#if SARVEK_FAST_SCAN
    if (map) {
      pos = survivor_next(*map, pos);
      if (pos >= stop) break;
    } else if (fast && quick_rejects(quick, pos, mode, freeblock_size)) {
      pos = skip_rejected(quick, pos + 1, stop, mode, freeblock_size);
      if (pos >= stop) break;  // the positions left are all rejected
    }
#endif
    const int32_t result = decode_row(g, pos, page_end, &row, mode, freeblock_size);
    if (result == 0) {
      ++pos;
      continue;
    }
    if (g->opt.debug)
      printf("ROWID: %ld found [+%ld] record size: %d bytes\n",
             static_cast<long>(static_cast<int32_t>(row.rowid)), static_cast<long>(pos - base),
             static_cast<int>(static_cast<uint64_t>(row.prefix_length) + row.payload_length));
    flush_stdout(g);
    if (g->opt.removed_only && !is_removed_row(&row, mode)) {
      ++pos;
      continue;
    }
    if (!(mode == mode_standard && g->opt.freespace)) dump_row(g, pos, page_end, &row, mode);
    flush_stdout(g);
    if (mode != mode_freespace) {
      // By the payload length, which leaves the position prefix_length bytes
      // before the end of a cell held wholly on its page; for a row that
      // overflows by the format's rule, by its local part and page number,
      // which leaves it as far before the end of the cell's part on the page.
      const uint64_t step = g->opt.fine_search       ? 1
                            : row.local_size != 0 ? row.local_size + 4
                                                  : static_cast<uint32_t>(row.payload_length);
      if (!advance(pos, step, page_end)) break;
      continue;
    }
    const uint32_t used = static_cast<uint32_t>(result);
    if (used >= freeblock_size) {
      if (g->opt.debug) printf_at("DEBUG: No more data left in freespace block to examine\n");
      break;
    }
    // The step may carry the position past the window (the loop then ends),
    // but never past the image.
    if (!advance(pos, used, g->db_end + 1)) break;
    freeblock_size -= used;
#if SARVEK_FAST_SCAN
    if (map) {
      map = nullptr;
      quick_limits_init(&quick, g, page_end, row.cell_capacity, mode);
    }
#endif
    if (g->opt.debug)
      hexdump(pos, static_cast<uint16_t>(dump_clip(pos, 64, g->db_origin, g->db_end + 1)),
              "After freespace decode");
  } while (pos < page_end && page_end - pos > 10);
  return nullptr;
}
