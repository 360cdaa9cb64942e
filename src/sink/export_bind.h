// Binding recovered values to the export's statements, each with its
// storage class.
#pragma once
#include <string>
#include <string_view>

#include "format/value.h"

struct sqlite3_stmt;

// Binds the value to parameter `index` (1-based): NULL for null and unknown
// values, a text as UTF-8 (converted from its encoding in *scratch when it
// is not valid UTF-8 already), a blob as is, an empty text or blob as an
// empty one (not NULL). The bytes must stay until the statement has run.
// Returns the library's result code.
int bind_value(sqlite3_stmt* statement, int index, const value_view& value, std::string* scratch);

// Binds UTF-8 text, with invalid sequences made U+FFFD in *scratch.
int bind_utf8(sqlite3_stmt* statement, int index, std::string_view text, std::string* scratch);

// Binds the bytes as text when they are valid UTF-8, else as a blob of the
// same bytes, so that nothing of them is lost. Copied by the library.
int bind_exact(sqlite3_stmt* statement, int index, std::string_view bytes);
