// The pages that hold no b-tree: the freelist's trunk and leaf pages, the
// pointer-map pages of an auto-vacuum database and the lock-byte page.
#pragma once
#include <cstdint>
#include <vector>

#include "live/btree_walk.h"
#include "format/db_header.h"

struct freelist_pages {
  std::vector<uint32_t> trunks;
  std::vector<uint32_t> leaves;
};

// The page that holds the byte at offset 2^30, or 0 when there is none.
uint32_t lock_byte_page(const page_store& store);

// Marks the pointer-map pages (when the header says auto-vacuum) and the
// lock-byte page, before any b-tree claims them.
void mark_reserved_pages(walk_context* walk, const db_header& header);

// Follows the trunk chain from the header's first trunk page, claiming
// trunks and leaves. A loop, a page out of range or in use, or a leaf
// count that cannot fit ends the chain (or the list) with a note.
void walk_freelist(walk_context* walk, const db_header& header, freelist_pages* out);
