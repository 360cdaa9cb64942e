#include "live/schema_load.h"

#include <string_view>

#include "live/table_rows.h"
#include "format/text.h"

namespace {

std::string text_of(const value_view& v) {
  std::string out;
  if (v.kind == value_kind::text) append_utf8(&out, v.bytes, v.encoding);
  return out;
}

object_type type_named(std::string_view type) {
  if (type == "table") return object_type::table;
  if (type == "index") return object_type::index;
  if (type == "view") return object_type::view;
  if (type == "trigger") return object_type::trigger;
  return object_type::other;
}

class master_rows : public cell_visitor {
 public:
  master_rows(walk_context* walk, row_emitter* emitter, row_memory* memory, schema* db_schema)
      : walk_(walk), emitter_(emitter), memory_(memory), schema_(db_schema) {}

  void visit(const record_cell& c) override {
    if (!decode_payload(emitter_, c.payload.bytes, c.cell->payload_size)) {
      note(walk_->notes, "sqlite_master: page %u: the record at offset %u is malformed; skipped",
           c.page->number, c.cell->offset);
      return;
    }
    if (memory_->remember)
      remember_live(memory_, 0, true, c.cell->rowid, payload_hash(0, c.payload.bytes),
                    emitter_->record.size());
    emit_row(emitter_, &schema_->tables[0],
             {row_status::live, live_source(*c.page), c.page->number,
              c.page->file_offset + c.cell->offset, true, c.cell->rowid});
    schema_->objects.push_back(schema_object_from(emitter_->record));
  }

 private:
  walk_context* walk_;
  row_emitter* emitter_;
  row_memory* memory_;
  schema* schema_;
};

}  // namespace

schema_object schema_object_from(std::span<const value_view> values) {
  schema_object object;
  if (values.size() > 0) object.type = type_named(text_of(values[0]));
  if (values.size() > 1) object.name = text_of(values[1]);
  if (values.size() > 2) object.table_name = text_of(values[2]);
  if (values.size() > 3 && values[3].kind == value_kind::integer && values[3].integer > 0 &&
      values[3].integer <= UINT32_MAX)
    object.root_page = static_cast<uint32_t>(values[3].integer);
  if (values.size() > 4) object.sql = text_of(values[4]);
  return object;
}

void add_table(schema* db_schema, schema_object* object, note_log* notes) {
  table_def table;
  if (!parse_create_table(object->sql, &table)) {
    note(notes, "table \"%s\": its CREATE statement cannot be parsed; columns are named c1, c2, ...",
         object->name.c_str());
    table = unparsed_table(object->name, 0);
  }
  table.name = object->name;
  object->table = static_cast<int>(db_schema->tables.size());
  db_schema->tables.push_back(std::move(table));
}

void load_schema(walk_context* walk, row_emitter* emitter, row_memory* memory, schema* db_schema) {
  master_rows visitor(walk, emitter, memory, db_schema);
  walk_btree(walk, 1, false, 0, "sqlite_master", &visitor);
  for (schema_object& object : db_schema->objects)
    if (object.type == object_type::table) add_table(db_schema, &object, walk->notes);
}
