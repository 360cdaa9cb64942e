#include "recover/page_chunks.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "shared/processors.h"

namespace {

constexpr uint32_t chunk_pages = 64;
constexpr uint32_t chunks_ahead = 32;

struct chunk_slot {
  std::vector<found_record> finds;
  size_t count = 0;
  bool done = false;
};

struct page_chunks {
  uint32_t total = 0;      // chunks
  uint32_t claimed = 0;    // chunks handed out
  uint32_t printed = 0;    // chunks printed
  std::vector<chunk_slot> slots{chunks_ahead};
  std::mutex lock;
  std::condition_variable changed;
};

// Claims the next chunk whose slot is free; -1 when none is left, -2 when
// the slots are all waiting to be printed (`wait` false).
int64_t claim_chunk(page_chunks* chunks, bool wait) {
  std::unique_lock<std::mutex> guard(chunks->lock);
  const auto ready = [&] {
    return chunks->claimed >= chunks->total || chunks->claimed - chunks->printed < chunks_ahead;
  };
  if (wait) chunks->changed.wait(guard, ready);
  else if (!ready()) return -2;
  if (chunks->claimed >= chunks->total) return -1;
  return chunks->claimed++;
}

void search_chunk(recovery* searcher, page_chunks* chunks, uint32_t chunk, uint32_t pages,
                  const std::function<bool(uint32_t)>& wanted) {
  chunk_slot& slot = chunks->slots[chunk % chunks_ahead];
  slot.count = 0;
  searcher->defer_to(&slot.finds, &slot.count);
  const uint32_t first = chunk * chunk_pages + 1;
  for (uint32_t n = first; n < first + chunk_pages && n <= pages; ++n)
    if (wanted(n)) searcher->recover_page(n);
  searcher->defer_to(nullptr, nullptr);
  std::lock_guard<std::mutex> guard(chunks->lock);
  slot.done = true;
  chunks->changed.notify_all();
}

// Prints the chunks searched so far, in order.
void print_ready(recovery* printer, page_chunks* chunks, const std::function<void(uint32_t)>& progress) {
  for (;;) {
    chunk_slot* slot;
    {
      std::lock_guard<std::mutex> guard(chunks->lock);
      if (chunks->printed >= chunks->total) return;
      slot = &chunks->slots[chunks->printed % chunks_ahead];
      if (!slot->done) return;
    }
    for (size_t i = 0; i < slot->count; ++i) printer->print(slot->finds[i]);
    progress((chunks->printed + 1) * chunk_pages);
    std::lock_guard<std::mutex> guard(chunks->lock);
    slot->done = false;
    chunks->printed += 1;
    chunks->changed.notify_all();
  }
}

}  // namespace

void search_pages(uint32_t pages, recovery* main_pass, recovery* helper_pass,
                  const std::function<bool(uint32_t)>& wanted,
                  const std::function<void(uint32_t)>& progress) {
  page_chunks chunks;
  chunks.total = (pages + chunk_pages - 1) / chunk_pages;
  std::thread helper;
  if (two_processors())
    helper = std::thread([&] {
      for (int64_t c; (c = claim_chunk(&chunks, true)) >= 0;)
        search_chunk(helper_pass, &chunks, static_cast<uint32_t>(c), pages, wanted);
    });
  for (;;) {
    print_ready(main_pass, &chunks, progress);
    const int64_t c = claim_chunk(&chunks, false);
    if (c >= 0) {
      search_chunk(main_pass, &chunks, static_cast<uint32_t>(c), pages, wanted);
      continue;
    }
    std::unique_lock<std::mutex> guard(chunks.lock);
    if (chunks.printed >= chunks.total) break;
    chunks.changed.wait(guard, [&] {
      return chunks.slots[chunks.printed % chunks_ahead].done ||
             (chunks.claimed < chunks.total && chunks.claimed - chunks.printed < chunks_ahead);
    });
  }
  if (helper.joinable()) helper.join();
}
