// Pages by number: the database file's own, or a newer image of the page
// from the write-ahead log. Every b-tree reader asks the store for pages, so
// the same code reads the file alone and the file with its log applied.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "format/bytes.h"
#include "format/db_header.h"
#include "format/pages.h"

enum class page_origin : uint8_t { db, wal, journal };

struct page_ref {
  byte_view bytes;       // the page; shorter when the file is cut off, empty when absent
  page_origin origin;
  uint64_t file_offset;  // offset of bytes[0] in its own file
};

struct page_store {
  byte_view db;          // the database file
  uint32_t page_size;
  uint32_t usable;
  uint32_t page_count;   // pages 1..page_count exist
  // Newer images by page number (index page - 1); an empty view means the
  // file's own page. Empty without a log.
  std::vector<page_ref> overlay;
};

// Pages by number as a reader of b-trees and chains sees them: the store,
// or the pages as they were at an earlier time (older page images of the
// log and the journal).
class page_reader {
 public:
  virtual ~page_reader() = default;
  virtual page_ref read(uint32_t number) const = 0;
};

// A store over the database file alone: every page that begins inside it.
page_store make_page_store(byte_view db, const db_header& header);

// Page `number` (1-based), or an empty view when it does not exist.
inline page_ref store_page(const page_store& store, uint32_t number) {
  if (number == 0 || number > store.page_count) return {{}, page_origin::db, 0};
  if (number <= store.overlay.size() && !store.overlay[number - 1].bytes.empty())
    return store.overlay[number - 1];
  const uint64_t offset = page_offset(number, store.page_size);
  if (offset >= store.db.size()) return {{}, page_origin::db, offset};
  const uint64_t length = std::min<uint64_t>(store.page_size, store.db.size() - offset);
  return {store.db.subspan(offset, length), page_origin::db, offset};
}

// The pages as a store holds them.
class store_reader : public page_reader {
 public:
  explicit store_reader(const page_store& store) : store_(store) {}
  page_ref read(uint32_t number) const override { return store_page(store_, number); }

 private:
  const page_store& store_;
};
