#include "recover/recover_deleted.h"

#include <algorithm>

#include "recover/dropped_tables.h"
#include "recover/page_chunks.h"
#include "recover/page_recovery.h"
#include "shared/progress.h"

namespace {

void show_progress(deep_state* s, uint32_t number) {
  if (s->out) progress_advance(s->out, number);
}

}  // namespace

void recover_deleted(deep_state* s) {
  seal_live(&s->memory);
  carve_settings settings{};
  settings.limits.usable = s->store.usable;
  settings.limits.max_fields = 1;
  for (const table_def& table : s->db_schema.tables)
    settings.limits.max_fields = std::max<uint32_t>(settings.limits.max_fields,
                                                    static_cast<uint32_t>(table.columns.size()));
  settings.encoding = s->header.encoding;
  settings.schema_format = s->header.schema_format;
  // An index entry holds up to every column and the rowid.
  settings.limits.max_fields += 1;
  carve_tables tables;
  build_carve_tables(s->db_schema, s->memory.fewest_fields, &tables);
  add_carve_indexes(s->indexes.defs, &tables);
  index_tables(&s->indexes, s->db_schema.tables.size());
  recovery pass(s, &tables, &settings);
  recovery helper_pass(s, &tables, &settings);
  list_older_images(s);
  const auto schema_page = [&](uint32_t n) {
    const page_entry* e = map_entry(s->map, n);
    return e && e->owner == 0 && !e->index_entries &&
           (e->role == page_role::table_leaf || e->role == page_role::table_interior);
  };
  // The schema's own free space and older images first: a dropped table's
  // schema row gives the columns of its rows elsewhere.
  for (const older_image& image : s->logs.older)
    if (schema_page(image.page)) pass.recover_image(image);
  // Free pages that were leaves of sqlite_master hold schema rows too.
  std::vector<uint8_t> early(s->map.size(), 0);
  for (uint32_t n = 1; n <= s->map.size(); ++n) {
    early[n - 1] = schema_page(n) || pass.old_schema_leaf(n);
    if (early[n - 1]) pass.recover_page(n);
  }
  add_dropped_tables(s, pass.deleted_schema_rows(), &tables);
  for (const table_def& table : s->db_schema.tables)
    settings.limits.max_fields = std::max<uint32_t>(settings.limits.max_fields,
                                                    static_cast<uint32_t>(table.columns.size()) + 1);
  // Older images before free space: a row they hold whole, with its rowid,
  // is printed with its status before a carved copy could stand for it.
  for (const older_image& image : s->logs.older)
    if (!schema_page(image.page)) pass.recover_image(image);
  search_pages(static_cast<uint32_t>(s->map.size()), &pass, &helper_pass,
               [&](uint32_t n) { return !early[n - 1]; }, [&](uint32_t n) { show_progress(s, n); });
  pass.print_index_entries();
}
