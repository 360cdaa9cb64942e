// What the library can have stored in a column: the serial types and values
// that a table's schema allows in each field of its records. Records found
// in free space are accepted as rows of a table only when every value fits.
#pragma once
#include <cstdint>
#include <vector>

#include "format/bytes.h"
#include "format/db_header.h"
#include "schema/table_def.h"

struct field_rule {
  affinity column_affinity = affinity::blob;
  strict_type strict = strict_type::none;
  bool not_null = false;
  bool rowid_alias = false;  // the INTEGER PRIMARY KEY: always stored as NULL
  bool declared_blob = false;  // declared with a type of BLOB affinity: blobs are its values
  bool schema_type = false;  // sqlite_master's type: table, index, view or trigger
};

// The rules of one table, in record order.
struct table_rules {
  std::vector<field_rule> fields;
  uint32_t min_fields = 1;  // records written before ALTER TABLE ADD COLUMN are shorter
};

table_rules rules_for(const table_def& table);

// Whether a value of serial type `serial` fits the field. `data` holds the
// value's bytes when they are all at hand (else empty: only the type is
// judged). A found record is taken only with values of the storage class
// its columns' types give them (natural_class below): the library would
// also store a blob in a TEXT column, but in free space such readings are
// far more often bytes that are not a row. Reals must be normal numbers. Integers must have the smallest serial type the library would
// pick (0 and 1 as types 8 and 9 from schema format 4 on), a real that the
// column's affinity would have turned into an integer cannot be a real, a
// number-like text cannot stand in a numeric column, texts must be valid in
// the encoding and hold no NUL.
bool value_fits(const field_rule& rule, uint64_t serial, byte_view data, bool whole,
                text_encoding encoding, uint32_t schema_format);

// Whether the serial type is of the storage class the column's affinity (or
// STRICT type) gives its values: integers and reals in numeric columns,
// texts in TEXT columns. Columns without an affinity of their own take any.
bool natural_class(const field_rule& rule, uint64_t serial);

// True when the text is one of the types of sqlite_master's rows.
bool schema_type_text(byte_view text, text_encoding encoding);

// True when the text's bytes are a valid string of the encoding.
bool text_valid(byte_view text, text_encoding encoding);

// True when the text holds a NUL character: the library can store one, but
// a found text that does is far more likely bytes that are not a text.
bool text_has_nul(byte_view text, text_encoding encoding);

// True when a text reads as a number to the library (it would have been
// stored as one in a numeric column).
bool text_is_numeric(byte_view text, text_encoding encoding);
