// What the transaction that never committed did to the rows of the current
// state, as far as its writes reached the files: the pages it wrote (the
// frames after the last commit, or the database pages a hot journal holds
// the old images of) and the table cells on them.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "format/page_store.h"
#include "sink/row_sink.h"

struct pending_cell {
  int64_t rowid;
  uint32_t page;
  byte_view payload;  // the local part only: equal rows have equal local parts
};

struct pending_writes {
  std::vector<std::pair<uint32_t, byte_view>> pages;  // written pages, sorted by number
  std::vector<pending_cell> cells;                    // their table-leaf cells, sorted by rowid
  bool any() const { return !pages.empty(); }
};

// Collects the table-leaf cells of the written pages (each page's newest
// image). `usable` is the usable size of a page.
void index_pending_writes(pending_writes* writes, uint32_t usable);

// The change to the live row `rowid` on page `page` (local payload
// `local`): none when the transaction did not write its page or a page it
// wrote holds the same row; updated when its page now holds the rowid with
// other values; deleted when no page it wrote holds the rowid. A row the
// transaction moved to a page it had not yet written reads as deleted.
row_pending pending_change(const pending_writes& writes, uint32_t page, int64_t rowid, byte_view local);
