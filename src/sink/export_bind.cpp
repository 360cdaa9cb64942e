#include "sink/export_bind.h"

#include <sqlite3.h>

#include "format/text.h"

namespace {

byte_view as_bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// An empty text bound from a null pointer would be NULL.
int bind_text_view(sqlite3_stmt* statement, int index, const char* data, size_t size,
                   sqlite3_destructor_type lifetime) {
  return sqlite3_bind_text64(statement, index, size ? data : "", size, lifetime, SQLITE_UTF8);
}

}  // namespace

int bind_value(sqlite3_stmt* statement, int index, const value_view& value, std::string* scratch) {
  switch (value.kind) {
    case value_kind::integer:
      return sqlite3_bind_int64(statement, index, value.integer);
    case value_kind::real:
      return sqlite3_bind_double(statement, index, value.real);
    case value_kind::text: {
      const byte_view bytes = value.bytes;
      if (value.encoding == text_encoding::utf8 && valid_utf8_prefix(bytes) == bytes.size())
        return bind_text_view(statement, index, reinterpret_cast<const char*>(bytes.data()),
                              bytes.size(), SQLITE_STATIC);
      scratch->clear();
      append_utf8(scratch, bytes, value.encoding);
      return bind_text_view(statement, index, scratch->data(), scratch->size(), SQLITE_STATIC);
    }
    case value_kind::blob:
      // An empty blob bound from a null pointer would be NULL.
      if (value.bytes.empty()) return sqlite3_bind_zeroblob(statement, index, 0);
      return sqlite3_bind_blob64(statement, index, value.bytes.data(), value.bytes.size(),
                                 SQLITE_STATIC);
    case value_kind::null:
    case value_kind::unknown:
      break;
  }
  return sqlite3_bind_null(statement, index);
}

int bind_utf8(sqlite3_stmt* statement, int index, std::string_view text, std::string* scratch) {
  if (valid_utf8_prefix(as_bytes(text)) == text.size())
    return bind_text_view(statement, index, text.data(), text.size(), SQLITE_STATIC);
  scratch->clear();
  append_utf8(scratch, as_bytes(text), text_encoding::utf8);
  return bind_text_view(statement, index, scratch->data(), scratch->size(), SQLITE_STATIC);
}

int bind_exact(sqlite3_stmt* statement, int index, std::string_view bytes) {
  if (valid_utf8_prefix(as_bytes(bytes)) == bytes.size())
    return bind_text_view(statement, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  return sqlite3_bind_blob64(statement, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}
