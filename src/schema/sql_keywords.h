// The library's keywords.
#pragma once
#include <cstddef>
#include <string_view>

#include "schema/sql_lexer.h"

// When word (any case) is a keyword, fills t's kind, keyword and flags and
// returns true.
bool sql_lookup_keyword(std::string_view word, token* t);
size_t sql_keyword_count();
