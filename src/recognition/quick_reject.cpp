#include "recognition/quick_reject.h"

namespace {

uint32_t read_be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

void quick_limits_init(quick_limits* q, const globals* g, const uint8_t* page_end,
                       uint32_t cell_capacity) {
  const uint8_t* image_end = g->db_end + 1;
  q->payload_min = g->rowsize_min;
  q->payload_max = g->rowsize_max < g->db_size ? g->rowsize_max : g->db_size;
  q->page_size = g->page_size;
  q->overflow_threshold = static_cast<uint32_t>(g->page_size - 35u);
  // The chain walk rejects at once when the number in the page's last four
  // bytes cannot be read or exceeds the page count.
  q->chain_rejects = page_end > image_end || page_end - g->db_origin < 4 ||
                     read_be32(page_end - 4) > g->page_count;
  q->cellcount_min = g->cellcount_min;
  q->cellcount_max = g->cellcount_max;
  q->cell_capacity = cell_capacity;
  for (uint32_t serial = 0; serial < 128; ++serial) {
    static constexpr uint8_t fixed_size[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
    q->size_of[serial] = serial < 12 ? fixed_size[serial] : static_cast<uint8_t>((serial - 12) / 2);
    q->reserved[serial] = serial == 10 || serial == 11;
  }
  // Near the end of the image, and with thresholds so large that a cell
  // total could wrap, every candidate goes to the full decoder.
  const bool usable = g->db_size > 64 && q->overflow_threshold < 0xFFFF0000u;
  q->image_end = image_end;
  q->safe_end = usable ? image_end - 64 : nullptr;
}
