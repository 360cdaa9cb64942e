#include "diagnostics/scan_trace.h"

#include <cstdio>

#include "diagnostics/debug.h"
#include "diagnostics/hexdump.h"

namespace {

void dump_clipped(const globals* g, const uint8_t* data, uint64_t length, const char* label) {
  hexdump(data, static_cast<uint16_t>(dump_clip(data, length, g->db_origin, g->db_end + 1)), label);
}

}  // namespace

void trace_search_mode(int32_t mode) { printf("find_next_row: MODE: %d\n", mode); }

void trace_row_found(const row_record* row, int64_t offset) {
  printf("ROWID: %ld found [+%ld] record size: %d bytes\n",
         static_cast<long>(static_cast<int32_t>(row->rowid)), static_cast<long>(offset),
         static_cast<int>(static_cast<uint64_t>(row->prefix_length) + row->payload_length));
}

void trace_block_used_up() {
  printf_at("DEBUG: No more data left in freespace block to examine\n");
}

void trace_after_freespace(const globals* g, const uint8_t* pos) {
  dump_clipped(g, pos, 64, "After freespace decode");
}

void trace_decode_start(const globals* g, const uint8_t* position, bool freespace) {
  printf_at("DEBUG:DECODING ROW-------------------------MODE:%s\n",
            freespace ? "Freespace" : "Standard");
  dump_clipped(g, position, 16, "Decode_row start data");
}

void trace_payload_size(uint64_t payload_length) {
  printf_at("DEBUG:Payload size: %lu\n", static_cast<unsigned long>(static_cast<uint32_t>(payload_length)));
}

void trace_freespace_data(uint64_t data_length) {
  printf_at("DEBUG: Looking for %lu bytes of data after the payload header\n",
            static_cast<unsigned long>(static_cast<uint32_t>(data_length)));
}

void trace_first_overflow(const globals* g, const uint8_t* pointer, uint32_t first) {
  printf_at("DEBUG: First overflow page = %lu\n", static_cast<unsigned long>(first));
  // The 16 bytes that end with the page number, or fewer at the image's start.
  const uint8_t* end = pointer + 4;
  const uint64_t back = end - g->db_origin < 16 ? static_cast<uint64_t>(end - g->db_origin) : 16;
  dump_clipped(g, end - back, back, "First overflow page start data");
}

void trace_overflow_list(const row_record* row) {
  int entries = 0;
  while (row->overflow_pages[entries] != 0) ++entries;
  printf("DEBUG: Total of %d overflow pages\n", entries);
  for (int i = 0; i < entries; ++i)
    printf("DEBUG: Overflow %d->%d\n", i, static_cast<int>(row->overflow_pages[i]));
}

void trace_record_sizes(uint64_t payload_length, uint64_t rowid, uint64_t header_size) {
  printf("[L:%lld][id:%lld][PLHz:%lld]", static_cast<long long>(payload_length),
         static_cast<long long>(rowid), static_cast<long long>(header_size));
}

void trace_reserved_type() { printf_at("DEBUG: celltype 10/11 reserved, aborting row.\n"); }

void trace_cell(int32_t i, uint32_t type, uint64_t size, uint32_t offset, int64_t left) {
  printf("[%d:%d:%d-%d(%d)]", i, static_cast<int>(type), static_cast<int>(static_cast<uint32_t>(size)),
         static_cast<int>(offset), static_cast<int>(left));
}

void trace_header_end(uint64_t read_offset, uint64_t header_end, uint64_t sum) {
  if (read_offset == header_end) {
    printf("DEBUG: Payload head size match. (%d =? %d)\n ", static_cast<int>(read_offset),
           static_cast<int>(header_end));
    printf("DEBUG: Data size by cell meta sum = %d\n ", static_cast<int>(sum));
  } else {
    printf("DEBUG: Payload scan end point, and predicted end point didn't match, difference %d \n",
           static_cast<int>(read_offset - header_end));
  }
}

void trace_too_few_cells() { printf_at("DEBUG: cell count under the minimum, so aborting\n"); }

void trace_length_check(uint64_t sum, uint64_t header_size, uint64_t payload_length) {
  printf("Offset [%u] + headersize [%lu] = length check [%lu]... \n", static_cast<uint32_t>(sum),
         static_cast<unsigned long>(static_cast<uint32_t>(header_size)),
         static_cast<unsigned long>(static_cast<uint32_t>(payload_length)));
}

void trace_freespace_match(uint64_t sum, uint64_t payload_length) {
  printf_at("DEBUG: FREESPACE SUBMATCH FOUND ( %u of %lu used )\n", static_cast<uint32_t>(sum),
            static_cast<unsigned long>(static_cast<uint32_t>(payload_length)));
}

void trace_match() { printf("\nMATCH FOUND!\n"); }
