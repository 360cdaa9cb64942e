#include "format/payload.h"

#include <algorithm>

payload_view gather_payload(const page_store& store, byte_view page, const cell_info& cell,
                            std::vector<uint8_t>* scratch, overflow_gate* gate) {
  return gather_payload(store_reader(store), store.usable, store.page_count, page, cell, scratch, gate);
}

payload_view gather_payload(const page_reader& pages, uint32_t usable, uint32_t page_count,
                            byte_view page, const cell_info& cell, std::vector<uint8_t>* scratch,
                            overflow_gate* gate) {
  payload_view result{};
  const byte_view local = page.subspan(cell.payload_offset, cell.local_size);
  if (cell.overflow_page == 0 || cell.local_size >= cell.payload_size) {
    result.bytes = local;
    result.complete = local.size() == cell.payload_size;
    return result;
  }
  scratch->assign(local.begin(), local.end());
  const uint64_t per_page = overflow_page_capacity(usable);
  uint64_t remaining = cell.payload_size - cell.local_size;
  uint32_t next = cell.overflow_page;
  while (remaining > 0) {
    if (next == 0 || next > page_count) {
      result.damage = payload_damage::page_out_of_range;
      result.damaged_page = next;
      break;
    }
    if (gate && !gate->enter(next)) {
      result.damage = payload_damage::page_refused;
      result.damaged_page = next;
      break;
    }
    const page_ref ref = pages.read(next);
    const uint64_t want = std::min(remaining, per_page);
    const byte_view data = overflow_page_data(ref.bytes, 0, want);
    scratch->insert(scratch->end(), data.begin(), data.end());
    result.last_page = next;
    result.last_page_used = static_cast<uint32_t>(data.size());
    remaining -= data.size();
    if (data.size() < want) {
      result.damage = payload_damage::page_cut_short;
      result.damaged_page = next;
      break;
    }
    if (!next_overflow_page(ref.bytes, 0, &next)) next = 0;
  }
  result.bytes = byte_view(scratch->data(), scratch->size());
  result.complete = remaining == 0;
  return result;
}
