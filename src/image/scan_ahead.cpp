#include "image/scan_ahead.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "image/page_header.h"

namespace {

// How many pages the worker may run ahead of the walker.
constexpr uint64_t ring_slots = 256;

}  // namespace

struct scan_ahead {
  globals config;  // the run's settings; the worker reads nothing else of g
  uint64_t first_offset = 0;
  uint64_t pages = 0;
  uint64_t words_per_slot = 0;
  std::vector<uint64_t> words;      // ring_slots maps' bits
  std::vector<survivor_map> maps;   // ring_slots maps
  std::vector<uint8_t> has_map;     // per slot: 1 when the page got a map
  std::atomic<uint64_t> produced{0};  // pages whose slot is filled
  std::atomic<uint64_t> consumed{0};  // pages the walker is done with
  std::atomic<bool> quit{false};
  std::thread worker;
};

namespace {

// Fills the slot of the page at offset: its window as the walker will
// search it, when that can be told from the page alone. Windows of
// free-space mode get none: their budget shrinks with every row found and
// the walker's search of them ends when it runs out, so a map of the whole
// window would mostly go unused.
bool plan_page(const scan_ahead& s, uint64_t offset, survivor_map* map) {
  const globals* g = &s.config;
  const uint64_t window = std::min<uint64_t>(g->page_size, g->db_size - offset);
  const uint8_t* page = g->db_origin + offset;
  const page_values pv = page[0] == 13 ? leaf_page_values(page, window) : page_values{};
  const uint8_t* start = search_start(g, page, pv);
  const uint8_t* page_end = page + window;
  if (pv.mode != 0) return false;
  if (!searched(g, start) || start >= page_end || page_end - start <= 10) return false;
  map->start = start;
  map->page_end = page_end;
  map->stop = page_end - 10;
  map->mode = pv.mode;
  map->budget = pv.freeblock_size;
  quick_limits q;
  quick_limits_init(&q, g, page_end, g->cell_table_size);
  survivor_map_build(map, q);
  return true;
}

void run_worker(scan_ahead* s) {
  for (uint64_t index = 0; index < s->pages; ++index) {
    uint64_t done = s->consumed.load(std::memory_order_acquire);
    while (index >= done + ring_slots) {
      if (s->quit.load(std::memory_order_acquire)) return;
      s->consumed.wait(done, std::memory_order_acquire);
      done = s->consumed.load(std::memory_order_acquire);
    }
    if (s->quit.load(std::memory_order_acquire)) return;
    const uint64_t slot = index % ring_slots;
    survivor_map* map = &s->maps[slot];
    map->bits = &s->words[slot * s->words_per_slot];
    s->has_map[slot] = plan_page(*s, s->first_offset + index * s->config.page_size, map);
    s->produced.store(index + 1, std::memory_order_release);
    s->produced.notify_one();
  }
}

}  // namespace

scan_ahead* scan_ahead_start(const globals* g, uint64_t first_offset) {
#if SARVEK_FAST_SCAN
  // --freespace runs print from freeblocks only: the walker skips over each
  // row it finds elsewhere, so it looks at far fewer positions than a map
  // of every position would cost the worker.
  if (g->debug || g->freespace || !g->scan_ahead || g->page_size == 0 || g->cell_table_size == 0)
    return nullptr;
  const uint64_t last = g->db_size - 1;  // the walker's loop bound
  if (first_offset >= last) return nullptr;
  const uint64_t pages = (last - first_offset + g->page_size - 1) / g->page_size;
  if (pages < 2) return nullptr;
  std::unique_ptr<scan_ahead> s(new (std::nothrow) scan_ahead);
  if (!s) return nullptr;
  s->config = *g;
  s->first_offset = first_offset;
  s->pages = pages;
  s->words_per_slot = survivor_words(g->page_size);
  try {
    s->words.resize(ring_slots * s->words_per_slot);
    s->maps.resize(ring_slots);
    s->has_map.resize(ring_slots);
    s->worker = std::thread(run_worker, s.get());
  } catch (const std::exception&) {
    return nullptr;  // no memory or no thread: the walker goes alone
  }
  return s.release();
#else
  (void)g;
  (void)first_offset;
  return nullptr;
#endif
}

const survivor_map* scan_ahead_page(scan_ahead* s, uint64_t index) {
  uint64_t made = s->produced.load(std::memory_order_acquire);
  while (made <= index) {
    s->produced.wait(made, std::memory_order_acquire);
    made = s->produced.load(std::memory_order_acquire);
  }
  const uint64_t slot = index % ring_slots;
  return s->has_map[slot] ? &s->maps[slot] : nullptr;
}

void scan_ahead_done(scan_ahead* s, uint64_t index) {
  s->consumed.store(index + 1, std::memory_order_release);
  s->consumed.notify_one();
}

void scan_ahead_stop(scan_ahead* s) {
  if (!s) return;
  s->quit.store(true, std::memory_order_release);
  s->consumed.fetch_add(ring_slots, std::memory_order_acq_rel);
  s->consumed.notify_one();
  s->worker.join();
  delete s;
}
