// The tokens of the library's SQL, as its tokenizer cuts them: enough of the
// language to read CREATE TABLE statements and to skip expressions.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class token_kind : uint8_t {
  end,       // end of the text (or a NUL byte, where the library stops too)
  illegal,   // an unterminated quote, a bad number, a character SQL has no use for
  id,        // a bare word that is no keyword, or "x", [x], `x`
  keyword,   // a bare word that is a keyword: see token::kw
  string,    // 'x'
  integer,   // 12, 0x1F
  real,      // 1.5, .5, 1e3
  blob,      // x'00FF'
  variable,  // ?1, :a, @a, $a
  lp, rp, comma, semi, dot, plus, minus,
  op,        // any other operator
};

// The keywords the parser of CREATE TABLE looks at; every other keyword is
// `other`. Their flags tell which ones may stand for a name.
enum class kw : uint8_t {
  none, other,
  abort_, action, always, as, asc, autoincrement, cascade, check, collate,
  conflict, constraint, create, current_date, current_time, current_timestamp,
  default_, deferrable, deferred, delete_, desc, exists, fail, foreign,
  generated, if_, ignore, immediate, initially, insert, key, match, no, not_,
  null, on, primary, references, replace, restrict, rollback, set, table,
  temp, temporary, unique, update, using_, virtual_, without,
};

struct token {
  token_kind kind = token_kind::end;
  kw keyword = kw::none;
  // The keyword falls back to a name where the grammar has no use for it.
  bool fallback = false;
  // CROSS, FULL, INNER, LEFT, NATURAL, OUTER, RIGHT: a name, not a type word.
  bool join_kw = false;
  bool indexed = false;   // INDEXED: a name, not a type word
  std::string_view text;  // the token's bytes, quotes included
  size_t offset = 0;      // of text in the statement

  bool is(kw k) const { return kind == token_kind::keyword && keyword == k; }
  bool is(token_kind k) const { return kind == k; }
  // A word the grammar's `id` accepts: a name, a keyword that falls back, INDEXED.
  bool is_id() const {
    return kind == token_kind::id || (kind == token_kind::keyword && (fallback || indexed));
  }
  // What the grammar's `nm` accepts: an id, a 'string' or a join keyword.
  bool is_name() const { return is_id() || kind == token_kind::string || join_kw; }
  // A word of a declared type: a name, a keyword that falls back, a 'string'.
  bool is_type_word() const {
    return kind == token_kind::id || kind == token_kind::string ||
           (kind == token_kind::keyword && fallback);
  }
};

// Cuts a statement into tokens, skipping whitespace (space, \t, \n, \f, \r)
// and comments. A value type: copy it to look ahead.
class sql_lexer {
 public:
  explicit sql_lexer(std::string_view sql) : sql_(sql) {}
  token next();
  size_t position() const { return pos_; }

 private:
  std::string_view sql_;
  size_t pos_ = 0;
  uint8_t at(size_t i) const {
    return i < sql_.size() ? static_cast<uint8_t>(sql_[i]) : 0;
  }
  bool skip_space_and_comments();
  size_t scan(token* t);
  size_t scan_number(size_t start, token* t) const;
  size_t scan_quoted(size_t start, char close, token* t) const;
  size_t scan_variable(size_t start, token* t) const;
};

// Characters as the library classifies them.
bool sql_is_space(uint8_t c);     // \t \n \v \f \r and space (numbers, types)
bool sql_is_id_char(uint8_t c);   // letters, digits, _, $ and bytes >= 0x80
bool sql_is_quote(uint8_t c);     // " ' ` [

// Removes the quotes of a quoted name or string ("a""b" -> a"b, [x] -> x):
// text that does not start with a quote is returned as it is. Stops at the
// closing quote, as the library does (so "a" b reads a).
std::string sql_dequote(std::string_view text);

// ASCII case-insensitive equality, as the library compares names.
bool sql_iequal(std::string_view a, std::string_view b);
// The name with ASCII letters in lower case: a key for such comparisons.
std::string sql_lower(std::string_view s);
