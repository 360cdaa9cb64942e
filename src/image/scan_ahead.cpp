#include "image/scan_ahead.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "shared/processors.h"
#include "image/page_header.h"
#include "recognition/decode_row.h"

namespace {

// How many pages the worker may run ahead of the walker.
constexpr uint64_t ring_slots = 256;

// One page's map and, once it is complete, the page's index + 1.
struct slot {
  std::atomic<uint64_t> ready{0};
  bool has_map = false;
  survivor_map map{};
};

}  // namespace

struct scan_ahead {
  globals config;  // the run's settings; the worker reads nothing else of g
  uint64_t first_offset = 0;
  uint64_t pages = 0;
  uint64_t lead = 0;  // pages left to the walker when the worker falls behind
  std::vector<uint64_t> words;    // the maps' bits, ring_slots maps
  std::unique_ptr<slot[]> slots;  // ring_slots slots
  std::atomic<uint64_t> consumed{0};  // pages the walker is done with
  std::atomic<bool> quit{false};
  std::thread worker;
};

bool scan_ahead_plan(const globals* g, uint64_t offset, survivor_map* map) {
  const uint64_t window = std::min<uint64_t>(g->page_size, g->db_size - offset);
  const uint8_t* page = g->db_origin + offset;
  const page_values pv = page[0] == page_table_leaf ? leaf_page_values(page, window) : page_values{};
  // Only windows without a freeblock: they start at the page's first byte.
  if (pv.mode != 0) return false;
  const uint8_t* page_end = page + window;
  if (!searched(g, page) || window <= 10) return false;
  map->start = page;
  map->page_end = page_end;
  map->stop = page_end - 10;
  map->mode = 0;
  map->budget = 0;
  quick_limits q;
  quick_limits_init(&q, g, page_end, g->cell_table_size, mode_standard);
  survivor_map_build(map, q);
  return true;
}

namespace {

// Builds maps page after page. When the walker has caught up with it, the
// worker leaps ahead and leaves the pages in between to the walker, which
// then searches them alone: neither ever waits for the other's page.
void run_worker(scan_ahead* s) {
  const uint64_t words = survivor_words(s->config.page_size);
  uint64_t next = 0;
  while (!s->quit.load(std::memory_order_acquire)) {
    uint64_t done = s->consumed.load(std::memory_order_acquire);
    // The walker is on page done; the one after it is as good as reached.
    if (next <= done + 1) next = done + s->lead;
    if (next >= s->pages) return;
    if (next >= done + ring_slots) {  // the ring is full
      s->consumed.wait(done, std::memory_order_acquire);
      continue;
    }
    slot& target = s->slots[next % ring_slots];
    target.map.bits = &s->words[(next % ring_slots) * words];
    target.has_map = scan_ahead_plan(&s->config, s->first_offset + next * s->config.page_size,
                                     &target.map);
    target.ready.store(next + 1, std::memory_order_release);
    ++next;
  }
}

// Starts the worker with every signal blocked, so that the progress line's
// handlers (and any other) run on the walker's thread.
[[maybe_unused]] std::thread start_worker(scan_ahead* s) {
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  struct restore {
    sigset_t* mask;
    ~restore() { pthread_sigmask(SIG_SETMASK, mask, nullptr); }
  } restored{&saved};
  return std::thread(run_worker, s);
}

}  // namespace

scan_ahead* scan_ahead_start(const globals* g, uint64_t first_offset) {
#if SARVEK_FAST_SCAN
  // --freespace runs print from freeblocks only: the walker skips over each
  // row it finds elsewhere, so it looks at far fewer positions than a map
  // of every position would cost the worker.
  if (g->opt.debug || g->opt.freespace || !g->opt.scan_ahead || g->page_size == 0 || g->cell_table_size == 0)
    return nullptr;
  const uint64_t last = g->db_size - 1;  // the walker's loop bound
  if (first_offset >= last) return nullptr;
  const uint64_t pages = (last - first_offset + g->page_size - 1) / g->page_size;
  if (pages < 2 || !two_processors()) return nullptr;
  std::unique_ptr<scan_ahead> s(new (std::nothrow) scan_ahead);
  if (!s) return nullptr;
  s->config = *g;
  s->first_offset = first_offset;
  s->pages = pages;
  s->lead = std::max<uint64_t>(2, 32768 / g->page_size);
  try {
    s->words.resize(ring_slots * survivor_words(g->page_size));
    s->slots.reset(new slot[ring_slots]);
    s->worker = start_worker(s.get());
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
  const slot& at = s->slots[index % ring_slots];
  if (at.ready.load(std::memory_order_acquire) != index + 1) return nullptr;
  return at.has_map ? &at.map : nullptr;
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
