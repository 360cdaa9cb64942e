// Reads the schema from the sqlite_master b-tree on page 1: every row is
// printed under the name sqlite_master, and every CREATE statement becomes
// a schema object; tables get their parsed definitions.
#pragma once
#include "live/btree_walk.h"
#include "live/row_emitter.h"
#include "deep/row_memory.h"
#include "schema/schema.h"

// Object fields from a sqlite_master record's values (type, name, tbl_name,
// rootpage, sql); texts are decoded to UTF-8.
schema_object schema_object_from(std::span<const value_view> values);

// Parses a table object's statement into a new table of the schema and
// links the object to it. A statement that cannot be parsed keeps its
// table, with columns named by count (noted).
void add_table(schema* db_schema, schema_object* object, note_log* notes);

// Walks page 1's b-tree: prints its rows and fills db_schema (whose tables
// start with sqlite_master).
void load_schema(walk_context* walk, row_emitter* emitter, row_memory* memory, schema* db_schema);
