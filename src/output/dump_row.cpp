#include "output/dump_row.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnostics/debug.h"
#include "diagnostics/hexdump.h"
#include "shared/progress.h"
#include "output/render.h"

namespace {

// Copies len bytes to buffer offset `at`, keeping only what falls inside
// [0, capacity): the pieces of an assembly never write past the buffer.
void copy_clipped(uint8_t* buffer, uint64_t capacity, int64_t at, const uint8_t* src,
                  uint64_t len) {
  if (len == 0) return;
  if (at < 0) {
    const uint64_t skip = static_cast<uint64_t>(-at);
    if (skip >= len) return;
    src += skip;
    len -= skip;
    at = 0;
  }
  if (static_cast<uint64_t>(at) >= capacity) return;
  const uint64_t room = capacity - static_cast<uint64_t>(at);
  memcpy(buffer + at, src, len < room ? len : room);
}

// True when every cell's bytes lie within the first `limit` bytes of the
// mapped data.
bool cells_fit(const row_record* row, uint64_t limit) {
  for (int32_t i = 0; i <= row->last_cell; ++i) {
    const cell_entry& cell = row->cells[i];
    if (uint64_t{cell.offset} + cell.size > limit) return false;
  }
  return true;
}

// Gathers the row's first piece and its overflow pages into a new buffer.
// Returns the buffer, or null (after its message) when the row is refused.
uint8_t* assemble_payload(const globals* g, const uint8_t* position, const uint8_t* page_end,
                          row_record* row, uint64_t capacity) {
  uint8_t* buffer = static_cast<uint8_t*>(malloc(capacity));
  if (!buffer) {
    progress_erase(&g->out);
    fprintf_at(stderr, "ERROR: Cannot allocate %ld bytes for mapped data\n",
               static_cast<long>(capacity));
    return nullptr;
  }
  if (g->opt.debug) printf("ALLOCATED %d bytes to mapped data\n", static_cast<int>(capacity));
  memset(buffer, 'X', capacity);
  if (g->opt.debug) printf("Copying data for initial page\n");
  // The first piece: the cell's part on its page. A row whose local part
  // follows the format ends with its page number, which the next piece
  // follows; otherwise the piece runs to the page's end and the next one
  // covers its last four bytes, the page number. Overflow pages give their
  // usable bytes after their own four.
  const uint64_t page_data = g->page_size > 4 ? g->page_size - 4u : 0u;
  uint64_t first_piece = static_cast<uint64_t>(page_end - position);
  int64_t at = static_cast<int64_t>(first_piece) - 4;
  uint64_t data_length = page_data;
  if (row->local_size != 0) {
    first_piece = static_cast<uint64_t>(row->prefix_length) + row->local_size;
    at = static_cast<int64_t>(first_piece);
    data_length = overflow_page_capacity(static_cast<uint32_t>(standard_local_rule(g).usable));
  }
  copy_clipped(buffer, capacity, 0, position, first_piece);
  for (const uint32_t* page = row->overflow_pages; *page != 0; ++page) {
    if (g->opt.debug)
      printf("Copying data from file to memory for page %d to offset [%d]\n",
             static_cast<int>(*page), static_cast<int>(at));
    const uint64_t start = page_offset(*page, g->page_size);
    const uint64_t data_start = start + overflow_link_size;
    if (data_start + page_data > g->db_size) {
      if (g->opt.debug)
        printf_at("dump_row:ERROR: page seek request outside of boundaries of file (%p < %p > %p)\n",
                  static_cast<const void*>(g->db_origin),
                  reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(g->db_origin) + data_start),
                  static_cast<const void*>(g->db_end));
      free(buffer);
      return nullptr;
    }
    const byte_view data = overflow_page_data(image_bytes(g), start, data_length);
    copy_clipped(buffer, capacity, at, data.data(), data.size());
    at += static_cast<int64_t>(data_length);
  }
  row->mapped_data = buffer;
  const uint64_t end = at < 0 ? 0 : static_cast<uint64_t>(at);
  row->mapped_end = buffer + (end < capacity ? end : capacity);
  return buffer;
}

}  // namespace

int dump_row(globals* g, const uint8_t* position, const uint8_t* page_end, row_record* row,
             int32_t mode) {
  if (g->opt.debug) {
    printf("\n-DUMPING ROW------------------\n");
    hexdump(position, static_cast<uint16_t>(dump_clip(position, 16, g->db_origin, g->db_end + 1)),
            "Dump_row starting data");
  }
  if (row->payload_length > g->db_size) {
    if (g->opt.debug)
      printf_at("ERROR: Nonsensical payload length of %ld requested, ignoring.\n",
                static_cast<long>(row->payload_length));
    return -1;
  }
  uint8_t* buffer = nullptr;
  if (row->overflow_pages[0] == 0) {
    // In place: cells may run into the following page, never past the file.
    if (!cells_fit(row, static_cast<uint64_t>(g->db_end + 1 - position))) return -1;
    row->mapped_data = position;
    row->mapped_end = page_end;
  } else {
    const uint64_t capacity = row->payload_length + 100;
    if (!cells_fit(row, capacity)) return -1;
    buffer = assemble_payload(g, position, page_end, row, capacity);
    if (!buffer) return -1;
  }
  if (g->opt.debug)
    hexdump(row->mapped_data, static_cast<uint16_t>(row->mapped_end - row->mapped_data),
            "Payload mapped data");
  render_row(g, position, row, mode);
  g->out.rows_printed += 1;
  free(buffer);
  return 0;
}
