#include "schema/cut_statement.h"

#include <vector>

#include "schema/column_type.h"
#include "schema/sql_lexer.h"

namespace {

// Whether `word` is a non-empty prefix of `whole`, ASCII case aside.
bool word_prefix(std::string_view word, std::string_view whole) {
  return !word.empty() && word.size() <= whole.size() && sql_iequal(word, whole.substr(0, word.size()));
}

// The tokens of the column list: where it opens, the top-level commas, and
// the tokens after the last of them. False when no list is begun.
bool column_tokens(std::string_view prefix, size_t* last_comma, std::vector<token>* tail) {
  sql_lexer lexer(prefix);
  int depth = 0;
  bool opened = false;
  for (token t = lexer.next(); !t.is(token_kind::end); t = lexer.next()) {
    if (t.is(token_kind::lp) && ++depth == 1 && !opened) {
      opened = true;
      *last_comma = t.offset;
      tail->clear();
      continue;
    }
    if (!opened) continue;
    if (t.is(token_kind::rp) && --depth == 0) return false;  // the statement is whole
    if (t.is(token_kind::comma) && depth == 1) {
      *last_comma = t.offset;
      tail->clear();
      continue;
    }
    tail->push_back(t);
  }
  return opened;
}

// Reads the cut column's name, type and what follows from its tokens; a
// token that reaches the end of the text may itself be cut.
void read_cut_column(std::string_view prefix, const std::vector<token>& tail, cut_statement* out) {
  const auto whole = [&](const token& t) { return t.offset + t.text.size() < prefix.size(); };
  if (tail.empty() || !tail[0].is_name() || !whole(tail[0])) return;
  out->cut_name = sql_dequote(tail[0].text);
  size_t i = 1;
  while (i < tail.size() && tail[i].is_type_word() && whole(tail[i]) && !word_prefix(tail[i].text, "PRIMARY")) ++i;
  // The type's size, "(10)" or "(10, 2)", when its closing parenthesis survives.
  if (i > 1 && i < tail.size() && tail[i].is(token_kind::lp)) {
    size_t close = i + 1;
    while (close < tail.size() && !tail[close].is(token_kind::rp)) ++close;
    if (close < tail.size() && whole(tail[close])) i = close + 1;
  }
  if (i > 1) {
    const token& last = tail[i - 1];
    out->cut_type = read_column_type(prefix.substr(tail[1].offset, last.offset + last.text.size() - tail[1].offset)).declared;
  }
  if (i == tail.size()) return;
  const token& word = tail[i];
  if (i + 1 == tail.size()) {
    out->cut_key_prefix = word_prefix(word.text, whole(word) ? "PRIMARY" : "PRIMARY KEY");
    return;
  }
  out->cut_key_prefix = word.is(kw::primary) && i + 2 == tail.size() &&
                        word_prefix(tail[i + 1].text, "KEY");
}

}  // namespace

bool parse_cut_statement(std::string_view prefix, cut_statement* out) {
  *out = cut_statement{};
  size_t last_comma = 0;
  std::vector<token> tail;
  if (!column_tokens(prefix, &last_comma, &tail)) return false;
  if (prefix[last_comma] == ',') {
    const std::string head = std::string(prefix.substr(0, last_comma)) + ")";
    if (!parse_create_table(head, &out->table)) return false;
  }
  read_cut_column(prefix, tail, out);
  return true;
}
