// The library's 147 keywords, with the ones that fall back to a name.
#include "schema/sql_keywords.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

enum : uint8_t { plain = 0, fallback = 1, join = 2, indexed = 4 };

struct keyword_entry {
  const char* word;  // upper case; the table is sorted by it
  kw id;
  uint8_t flags;
};

// WINDOW, OVER and FILTER are names unless an expression's context makes them
// keywords, so they are marked as falling back like the others.
constexpr std::array<keyword_entry, 147> keywords{{
    {"ABORT", kw::abort_, fallback},
    {"ACTION", kw::action, fallback},
    {"ADD", kw::other, plain},
    {"AFTER", kw::other, fallback},
    {"ALL", kw::other, plain},
    {"ALTER", kw::other, plain},
    {"ALWAYS", kw::always, fallback},
    {"ANALYZE", kw::other, fallback},
    {"AND", kw::other, plain},
    {"AS", kw::as, plain},
    {"ASC", kw::asc, fallback},
    {"ATTACH", kw::other, fallback},
    {"AUTOINCREMENT", kw::autoincrement, plain},
    {"BEFORE", kw::other, fallback},
    {"BEGIN", kw::other, fallback},
    {"BETWEEN", kw::other, plain},
    {"BY", kw::other, fallback},
    {"CASCADE", kw::cascade, fallback},
    {"CASE", kw::other, plain},
    {"CAST", kw::other, fallback},
    {"CHECK", kw::check, plain},
    {"COLLATE", kw::collate, plain},
    {"COLUMN", kw::other, fallback},
    {"COMMIT", kw::other, plain},
    {"CONFLICT", kw::conflict, fallback},
    {"CONSTRAINT", kw::constraint, plain},
    {"CREATE", kw::create, plain},
    {"CROSS", kw::other, join},
    {"CURRENT", kw::other, fallback},
    {"CURRENT_DATE", kw::current_date, fallback},
    {"CURRENT_TIME", kw::current_time, fallback},
    {"CURRENT_TIMESTAMP", kw::current_timestamp, fallback},
    {"DATABASE", kw::other, fallback},
    {"DEFAULT", kw::default_, plain},
    {"DEFERRABLE", kw::deferrable, plain},
    {"DEFERRED", kw::deferred, fallback},
    {"DELETE", kw::delete_, plain},
    {"DESC", kw::desc, fallback},
    {"DETACH", kw::other, fallback},
    {"DISTINCT", kw::other, plain},
    {"DO", kw::other, fallback},
    {"DROP", kw::other, plain},
    {"EACH", kw::other, fallback},
    {"ELSE", kw::other, plain},
    {"END", kw::other, fallback},
    {"ESCAPE", kw::other, plain},
    {"EXCEPT", kw::other, plain},
    {"EXCLUDE", kw::other, fallback},
    {"EXCLUSIVE", kw::other, fallback},
    {"EXISTS", kw::exists, plain},
    {"EXPLAIN", kw::other, fallback},
    {"FAIL", kw::fail, fallback},
    {"FILTER", kw::other, fallback},
    {"FIRST", kw::other, fallback},
    {"FOLLOWING", kw::other, fallback},
    {"FOR", kw::other, fallback},
    {"FOREIGN", kw::foreign, plain},
    {"FROM", kw::other, plain},
    {"FULL", kw::other, join},
    {"GENERATED", kw::generated, fallback},
    {"GLOB", kw::other, fallback},
    {"GROUP", kw::other, plain},
    {"GROUPS", kw::other, fallback},
    {"HAVING", kw::other, plain},
    {"IF", kw::if_, fallback},
    {"IGNORE", kw::ignore, fallback},
    {"IMMEDIATE", kw::immediate, fallback},
    {"IN", kw::other, plain},
    {"INDEX", kw::other, plain},
    {"INDEXED", kw::other, indexed},
    {"INITIALLY", kw::initially, fallback},
    {"INNER", kw::other, join},
    {"INSERT", kw::insert, plain},
    {"INSTEAD", kw::other, fallback},
    {"INTERSECT", kw::other, plain},
    {"INTO", kw::other, plain},
    {"IS", kw::other, plain},
    {"ISNULL", kw::other, plain},
    {"JOIN", kw::other, plain},
    {"KEY", kw::key, fallback},
    {"LAST", kw::other, fallback},
    {"LEFT", kw::other, join},
    {"LIKE", kw::other, fallback},
    {"LIMIT", kw::other, plain},
    {"MATCH", kw::match, fallback},
    {"MATERIALIZED", kw::other, fallback},
    {"NATURAL", kw::other, join},
    {"NO", kw::no, fallback},
    {"NOT", kw::not_, plain},
    {"NOTHING", kw::other, plain},
    {"NOTNULL", kw::other, plain},
    {"NULL", kw::null, plain},
    {"NULLS", kw::other, fallback},
    {"OF", kw::other, fallback},
    {"OFFSET", kw::other, fallback},
    {"ON", kw::on, plain},
    {"OR", kw::other, plain},
    {"ORDER", kw::other, plain},
    {"OTHERS", kw::other, fallback},
    {"OUTER", kw::other, join},
    {"OVER", kw::other, fallback},
    {"PARTITION", kw::other, fallback},
    {"PLAN", kw::other, fallback},
    {"PRAGMA", kw::other, fallback},
    {"PRECEDING", kw::other, fallback},
    {"PRIMARY", kw::primary, plain},
    {"QUERY", kw::other, fallback},
    {"RAISE", kw::other, fallback},
    {"RANGE", kw::other, fallback},
    {"RECURSIVE", kw::other, fallback},
    {"REFERENCES", kw::references, plain},
    {"REGEXP", kw::other, fallback},
    {"REINDEX", kw::other, fallback},
    {"RELEASE", kw::other, fallback},
    {"RENAME", kw::other, fallback},
    {"REPLACE", kw::replace, fallback},
    {"RESTRICT", kw::restrict, fallback},
    {"RETURNING", kw::other, plain},
    {"RIGHT", kw::other, join},
    {"ROLLBACK", kw::rollback, fallback},
    {"ROW", kw::other, fallback},
    {"ROWS", kw::other, fallback},
    {"SAVEPOINT", kw::other, fallback},
    {"SELECT", kw::other, plain},
    {"SET", kw::set, plain},
    {"TABLE", kw::table, plain},
    {"TEMP", kw::temp, fallback},
    {"TEMPORARY", kw::temporary, fallback},
    {"THEN", kw::other, plain},
    {"TIES", kw::other, fallback},
    {"TO", kw::other, plain},
    {"TRANSACTION", kw::other, plain},
    {"TRIGGER", kw::other, fallback},
    {"UNBOUNDED", kw::other, fallback},
    {"UNION", kw::other, plain},
    {"UNIQUE", kw::unique, plain},
    {"UPDATE", kw::update, plain},
    {"USING", kw::using_, plain},
    {"VACUUM", kw::other, fallback},
    {"VALUES", kw::other, plain},
    {"VIEW", kw::other, fallback},
    {"VIRTUAL", kw::virtual_, fallback},
    {"WHEN", kw::other, plain},
    {"WHERE", kw::other, plain},
    {"WINDOW", kw::other, fallback},
    {"WITH", kw::other, fallback},
    {"WITHOUT", kw::without, fallback},
}};

constexpr size_t longest_keyword = 17;  // CURRENT_TIMESTAMP

}  // namespace

bool sql_lookup_keyword(std::string_view word, token* t) {
  if (word.empty() || word.size() > longest_keyword) return false;
  char upper[longest_keyword];
  for (size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  std::string_view key(upper, word.size());
  auto it = std::lower_bound(
      keywords.begin(), keywords.end(), key,
      [](const keyword_entry& e, std::string_view k) { return std::string_view(e.word) < k; });
  if (it == keywords.end() || std::string_view(it->word) != key) return false;
  t->kind = token_kind::keyword;
  t->keyword = it->id;
  t->fallback = (it->flags & fallback) != 0;
  t->join_kw = (it->flags & join) != 0;
  t->indexed = (it->flags & indexed) != 0;
  return true;
}

size_t sql_keyword_count() { return keywords.size(); }
