#include "recover/free_pages.h"

#include <algorithm>

uint32_t lock_byte_page(const page_store& store) {
  const uint64_t page = (uint64_t{1} << 30) / store.page_size + 1;
  return page <= store.page_count ? static_cast<uint32_t>(page) : 0u;
}

void mark_reserved_pages(walk_context* walk, const db_header& header) {
  const page_store& store = *walk->store;
  const uint32_t lock = lock_byte_page(store);
  if (lock != 0) claim_page(walk, lock, page_role::lock_byte, -1);
  if (header.largest_root == 0) return;
  // Each map page describes the usable / 5 pages after it; a map page that
  // would fall on the lock-byte page moves one page on.
  const uint64_t step = store.usable / 5 + 1;
  for (uint64_t page = 2; page <= store.page_count; page += step) {
    const uint64_t at = page == lock ? page + 1 : page;
    if (at <= store.page_count) claim_page(walk, static_cast<uint32_t>(at), page_role::pointer_map, -1);
  }
}

namespace {

void claim_leaves(walk_context* walk, uint32_t trunk, byte_view bytes, freelist_pages* out) {
  const uint32_t capacity = walk->store->usable / 4 - 2;
  uint32_t count = be32_or_zero(bytes, 4);
  if (count > capacity) {
    note(walk->notes, "freelist: trunk page %u counts %u leaves, more than fit; %u are read",
         trunk, count, capacity);
    count = capacity;
  }
  (*walk->map)[trunk - 1].free_bytes = walk->store->usable - 8 - 4 * count;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t leaf = be32_or_zero(bytes, 8 + 4ull * i);
    if (claim_page(walk, leaf, page_role::freelist_leaf, -1)) {
      (*walk->map)[leaf - 1].free_bytes = walk->store->usable;
      out->leaves.push_back(leaf);
      continue;
    }
    note(walk->notes, "freelist: trunk page %u lists leaf %u, which is out of range or in use",
         trunk, leaf);
  }
}

}  // namespace

void walk_freelist(walk_context* walk, const db_header& header, freelist_pages* out) {
  for (uint32_t trunk = header.freelist_trunk; trunk != 0;) {
    if (!claim_page(walk, trunk, page_role::freelist_trunk, -1)) {
      note(walk->notes, "freelist: trunk page %u is out of range or in use; the list ends there",
           trunk);
      return;
    }
    out->trunks.push_back(trunk);
    const page_ref ref = store_page(*walk->store, trunk);
    claim_leaves(walk, trunk, ref.bytes, out);
    trunk = be32_or_zero(ref.bytes, 0);
  }
  const uint64_t found = out->trunks.size() + out->leaves.size();
  if (found != header.freelist_count)
    note(walk->notes, "freelist: the header counts %u pages, the list holds %llu",
         header.freelist_count, static_cast<unsigned long long>(found));
}
