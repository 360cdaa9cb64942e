#include "format/page_store.h"

page_store make_page_store(byte_view db, const db_header& header) {
  page_store store{};
  store.db = db;
  store.page_size = header.page_size;
  store.usable = header.usable;
  if (header.page_size != 0) {
    const uint64_t pages = (db.size() + header.page_size - 1) / header.page_size;
    store.page_count = pages > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(pages);
  }
  return store;
}
