#include "image/page_walker.h"

#include <algorithm>
#include <cstdio>

#include "diagnostics/debug.h"
#include "diagnostics/hexdump.h"
#include "shared/progress.h"
#include "image/page_header.h"
#include "image/scan_ahead.h"
#include "output/dump_row.h"
#include "output/flush.h"
#include "recognition/decode_row.h"
#include "recognition/find_next_row.h"
#include "recognition/row_record.h"

namespace {

// The removed-rows filter: a row passes when its first field prints as -1,
// that is a row found in free-space mode or a standard row whose rowid is -1.
bool is_removed_row(const row_record* row, int32_t mode) {
  return mode == mode_freespace || row->rowid == -1;
}

// The receiver of the search's rows: applies --removed-only, prints the
// row (not in a --freespace run's standard-mode search) and flushes.
int take_row(void* context, const uint8_t* position, const uint8_t* page_end, row_record* row,
             int32_t mode) {
  globals* g = static_cast<globals*>(context);
  flush_stdout(g);
  if (g->opt.removed_only && !is_removed_row(row, mode)) return 0;
  if (!(mode == mode_standard && g->opt.freespace)) dump_row(g, position, page_end, row, mode);
  flush_stdout(g);
  return 1;
}

void flush_report(void* context) { flush_stdout(static_cast<const globals*>(context)); }

// Where the search of a page starts: its first byte, or in --freespace
// runs the data of its first freeblock.
const uint8_t* search_start(const globals* g, const uint8_t* page, const page_values& pv) {
  if (g->opt.freespace && pv.freeblock_offset != 0 && pv.freeblock_size != 0)
    return page + pv.freeblock_offset + 4;
  return page;
}

uint32_t page_byte(const uint8_t* page, uint64_t window, uint64_t offset) {
  return offset < window ? page[offset] : 0u;
}

// Under -d: dumps and reports each freeblock of the chain. Stops before a
// freeblock whose header leaves the window or whose offset does not grow,
// so a looping or wild chain always ends.
void trace_freeblocks(const globals* g, const uint8_t* page, uint64_t window,
                      uint32_t first) {
  uint32_t previous = 0;
  for (uint32_t offset = first; offset != 0;) {
    if (offset + 4u > window || offset <= previous) break;
    const uint8_t* block = page + offset;
    hexdump(block, static_cast<uint16_t>(dump_clip(block, 16, g->db_origin, g->db_end + 1)),
            "Freeblock header data");
    uint32_t next = page_be16(page, window, offset);
    uint32_t size = page_be16(page, window, offset + 2u);
    printf_at("DEBUG: Freeblock size = %u, next position = %u\n", size, next);
    previous = offset;
    offset = next;
  }
  printf_at("DEBUG: END OF FREEBLOCK TRACE\n");
}

// Reads a table-leaf page header: the first freeblock and, under -d, the
// header report. Moves the search position into the first freeblock for --freespace.
void decode_leaf_header(globals* g, uint64_t window, page_values* pv) {
  const uint8_t* page = g->walk.page;
  const int page_number = static_cast<int>(g->walk.page_number);
  if (g->opt.debug) printf_at("DEBUG: Decoding page header for page %d\n", page_number);
  flush_stdout(g);
  *pv = leaf_page_values(page, window);
  if (pv->freeblock_offset != 0 && g->opt.debug) {
    printf_at("DEBUG: FREEBLOCK mode ON: header decode [offset=%u]\n", pv->freeblock_offset);
    trace_freeblocks(g, page, window, pv->freeblock_offset);
  }
  if (g->opt.debug) {
    printf_at("DEBUG: Freeblock offset = %u, size = %u, next block = %u \n",
              pv->freeblock_offset, pv->freeblock_size, pv->freeblock_next);
    if (pv->freeblock_size != 0) {
      printf_at("DEBUG: Freeblock data [ %d bytes total [4 bytes for header] ]\n",
                static_cast<int>(pv->freeblock_size));
      const uint64_t data_offset = pv->freeblock_offset + 4u;
      const uint64_t wanted = pv->freeblock_size >= 4 ? pv->freeblock_size - 4u : 0u;
      const uint64_t count = std::min(wanted, window - data_offset);
      hexdump(page + data_offset, static_cast<uint16_t>(count), "Actual data in free block");
    }
  }
  flush_stdout(g);
  if (g->opt.debug)
    printf_at("DEBUG: PAGEHEADER:%d pagebyte: %d, freeblock offset: %d, cell count: %d, "
              "first cell offset %d, free bytes %d\n",
              page_number, static_cast<int>(page_table_leaf), static_cast<int>(pv->freeblock_offset),
              static_cast<int>(page_be16(page, window, 3)),
              static_cast<int>(page_be16(page, window, 5)),
              static_cast<int>(page_byte(page, window, 7)));
  const uint8_t* start = search_start(g, page, *pv);
  if (start != page) {
    if (g->opt.debug)
      printf_at("DEBUG: Shifting to freespace at %d from page start\n",
                static_cast<int>(pv->freeblock_offset));
    g->walk.cfp = start;
    if (g->opt.debug) {
      printf_at("DEBUG: New position = %p\n", static_cast<const void*>(g->walk.cfp));
      const uint8_t* scratch = g->walk.cfp - 4;
      hexdump(scratch, static_cast<uint16_t>(dump_clip(scratch, 32, g->db_origin, g->db_end + 1)),
              "Scratch pointer at freespace data start (including 4 byte header)");
    }
    flush_stdout(g);
  }
  flush_stdout(g);
}

// Hands the page's window to the scanner; page 1 is never searched.
void search_window(globals* g, const page_values& pv) {
  if (g->opt.debug) printf_at("DEBUG: g->db_cfp search at = %p\n", static_cast<const void*>(g->walk.cfp));
  if (!searched(g, g->walk.cfp)) return;
  const uint8_t* found =
      find_next_row(g, g->walk.cfp, g->walk.page_end, g->walk.cfp, pv.mode, pv.freeblock_size);
  if (!g->opt.debug) return;
  const uintptr_t found_at = reinterpret_cast<uintptr_t>(found);
  const uintptr_t cfp_at = reinterpret_cast<uintptr_t>(g->walk.cfp);
  if (found_at < cfp_at) printf_at("DEBUG: Row location not in g->db_cfp page\n");
  if (!found) printf_at("DEBUG: Row has been returned as NULL\n");
  printf_at("DEBUG: ROW found at offset: %ld\n", static_cast<long>(found_at - cfp_at));
}

void walk_one_page(globals* g, uint64_t page_offset) {
  page_values pv{};
  const uint64_t window = std::min<uint64_t>(g->page_size, g->db_size - page_offset);
  g->walk.page = g->db_origin + page_offset;
  g->walk.cfp = g->walk.page;
  g->walk.page_end = g->walk.page + window;
  if (g->opt.debug) {
    printf("\n\n%s:%d:-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=START.\n", SRC_FILE, __LINE__);
    raw_page_dump(g);
  }
  if (g->walk.page[0] == page_table_leaf) decode_leaf_header(g, window, &pv);
  search_window(g, pv);
  if (g->opt.debug)
    printf_at("DEBUG: Finished searching for rows in DB page %d\n", static_cast<int>(g->walk.page_number));
}

}  // namespace

void walker_attach(globals* g) { g->report = row_report{take_row, flush_report, g}; }

void walk_pages(globals* g) {
  walker_attach(g);
  const uint64_t last = g->db_size - 1;  // offset of db_end
  const uint64_t first = static_cast<uint64_t>(g->walk.page - g->db_origin);
  // The worker needs the cell table's size, so it is reserved up front.
  scan_ahead* ahead = cell_table_reserve(g) == 0 ? scan_ahead_start(g, first) : nullptr;
  // Only this thread writes: holding stdout's lock for the whole walk spares
  // every putchar the atomic locking of a process with a second thread.
  if (ahead) flockfile(stdout);
  uint64_t index = 0;
  for (uint64_t offset = first; offset < last; offset += g->page_size, ++index) {
    progress_advance(&g->out, g->walk.page_number);
    g->survivors = ahead ? scan_ahead_page(ahead, index) : nullptr;
    walk_one_page(g, offset);
    if (ahead) scan_ahead_done(ahead, index);
    g->walk.page_number += 1;
  }
  g->survivors = nullptr;
  if (ahead) funlockfile(stdout);
  scan_ahead_stop(ahead);
}
