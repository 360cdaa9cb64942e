#include "schema/sql_lexer.h"

#include "schema/sql_keywords.h"

namespace {

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
bool is_xdigit(uint8_t c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_alpha(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// The tokenizer's whitespace: \v is not among it.
bool is_token_space(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
bool is_id_start(uint8_t c) { return is_alpha(c) || c == '_' || c >= 0x80; }

}  // namespace

bool sql_is_space(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool sql_is_id_char(uint8_t c) {
  return is_alpha(c) || is_digit(c) || c == '_' || c == '$' || c >= 0x80;
}
bool sql_is_quote(uint8_t c) { return c == '"' || c == '\'' || c == '`' || c == '['; }

bool sql_iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    uint8_t x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<uint8_t>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<uint8_t>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string sql_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string sql_dequote(std::string_view text) {
  if (text.empty() || !sql_is_quote(static_cast<uint8_t>(text[0]))) return std::string(text);
  char quote = text[0] == '[' ? ']' : text[0];
  std::string out;
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] != quote) {
      out += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == quote) {
      out += quote;
      ++i;
    } else {
      break;
    }
  }
  return out;
}

bool sql_lexer::skip_space_and_comments() {
  for (;;) {
    uint8_t c = at(pos_);
    if (is_token_space(c)) {
      ++pos_;
    } else if (c == '-' && at(pos_ + 1) == '-') {
      while (pos_ < sql_.size() && sql_[pos_] != '\n' && sql_[pos_] != '\0') ++pos_;
    } else if (c == '/' && at(pos_ + 1) == '*' && at(pos_ + 2) != 0) {
      // A comment runs to its */ or, unterminated, to the end of the text.
      size_t i = pos_ + 3;
      while (i < sql_.size() && sql_[i] != '\0' && !(sql_[i - 1] == '*' && sql_[i] == '/')) ++i;
      pos_ = (i < sql_.size() && sql_[i] == '/') ? i + 1 : i;
    } else {
      return true;
    }
  }
}

token sql_lexer::next() {
  skip_space_and_comments();
  token t;
  t.offset = pos_;
  size_t length = scan(&t);
  t.text = sql_.substr(pos_, length);
  pos_ += length;
  if (t.kind == token_kind::id && !t.text.empty() && !sql_is_quote(static_cast<uint8_t>(t.text[0])))
    sql_lookup_keyword(t.text, &t);
  return t;
}

// The length of the token at pos_; sets its kind.
size_t sql_lexer::scan(token* t) {
  uint8_t c = at(pos_);
  uint8_t c1 = at(pos_ + 1);
  auto op = [t](token_kind k, size_t n) {
    t->kind = k;
    return n;
  };
  switch (c) {
    case 0: return op(token_kind::end, 0);
    case '(': return op(token_kind::lp, 1);
    case ')': return op(token_kind::rp, 1);
    case ',': return op(token_kind::comma, 1);
    case ';': return op(token_kind::semi, 1);
    case '+': return op(token_kind::plus, 1);
    case '-':
      if (c1 == '>') return op(token_kind::op, at(pos_ + 2) == '>' ? 3 : 2);
      return op(token_kind::minus, 1);
    case '*': case '%': case '~': case '&': case '/':
      return op(token_kind::op, 1);
    case '=': return op(token_kind::op, c1 == '=' ? 2 : 1);
    case '<': return op(token_kind::op, (c1 == '=' || c1 == '>' || c1 == '<') ? 2 : 1);
    case '>': return op(token_kind::op, (c1 == '=' || c1 == '>') ? 2 : 1);
    case '!': return op(c1 == '=' ? token_kind::op : token_kind::illegal, c1 == '=' ? 2 : 1);
    case '|': return op(token_kind::op, c1 == '|' ? 2 : 1);
    case '.':
      if (!is_digit(c1)) return op(token_kind::dot, 1);
      return scan_number(pos_, t);
    case '\'': return scan_quoted(pos_, '\'', t);
    case '"': return scan_quoted(pos_, '"', t);
    case '`': return scan_quoted(pos_, '`', t);
    case '[': return scan_quoted(pos_, ']', t);
    case '?': {
      size_t i = pos_ + 1;
      while (is_digit(at(i))) ++i;
      return op(token_kind::variable, i - pos_);
    }
    case '$': case '@': case ':': case '#':
      return scan_variable(pos_, t);
    default: break;
  }
  if (is_digit(c)) return scan_number(pos_, t);
  if ((c == 'x' || c == 'X') && c1 == '\'') {
    size_t i = pos_ + 2;
    while (is_xdigit(at(i))) ++i;
    t->kind = token_kind::blob;
    if (at(i) != '\'' || (i - pos_) % 2 != 0) {
      t->kind = token_kind::illegal;
      while (at(i) != 0 && at(i) != '\'') ++i;
    }
    if (at(i) != 0) ++i;
    return i - pos_;
  }
  if (is_id_start(c)) {
    size_t i = pos_ + 1;
    while (sql_is_id_char(at(i))) ++i;
    return op(token_kind::id, i - pos_);
  }
  return op(token_kind::illegal, 1);
}

size_t sql_lexer::scan_number(size_t start, token* t) const {
  size_t i = start;
  t->kind = token_kind::integer;
  if (at(i) == '0' && (at(i + 1) == 'x' || at(i + 1) == 'X') && is_xdigit(at(i + 2))) {
    i += 3;
    while (is_xdigit(at(i))) ++i;
    return i - start;
  }
  while (is_digit(at(i))) ++i;
  if (at(i) == '.') {
    ++i;
    while (is_digit(at(i))) ++i;
    t->kind = token_kind::real;
  }
  if ((at(i) == 'e' || at(i) == 'E') &&
      (is_digit(at(i + 1)) || ((at(i + 1) == '+' || at(i + 1) == '-') && is_digit(at(i + 2))))) {
    i += 2;
    while (is_digit(at(i))) ++i;
    t->kind = token_kind::real;
  }
  // A number that runs into a name is no number.
  while (sql_is_id_char(at(i))) {
    t->kind = token_kind::illegal;
    ++i;
  }
  return i - start;
}

size_t sql_lexer::scan_quoted(size_t start, char close, token* t) const {
  size_t i = start + 1;
  for (;;) {
    uint8_t c = at(i);
    if (c == 0) {
      t->kind = token_kind::illegal;
      return i - start;
    }
    ++i;
    if (c == static_cast<uint8_t>(close)) {
      // A doubled quote stands for one; brackets have no escape.
      if (close != ']' && at(i) == static_cast<uint8_t>(close)) {
        ++i;
        continue;
      }
      break;
    }
  }
  t->kind = close == '\'' ? token_kind::string : token_kind::id;
  return i - start;
}

// $name, @name, :name, #name; $name may carry ::parts and a (suffix).
size_t sql_lexer::scan_variable(size_t start, token* t) const {
  size_t i = start + 1;
  size_t letters = 0;
  t->kind = token_kind::variable;
  for (;;) {
    uint8_t c = at(i);
    if (c == 0) break;
    if (sql_is_id_char(c)) {
      ++letters;
    } else if (c == '(' && letters > 0) {
      do {
        ++i;
        c = at(i);
      } while (c != 0 && !sql_is_space(c) && c != ')');
      if (c == ')') {
        ++i;
      } else {
        t->kind = token_kind::illegal;
      }
      break;
    } else if (c == ':' && at(i + 1) == ':') {
      ++i;
    } else {
      break;
    }
    ++i;
  }
  if (letters == 0) t->kind = token_kind::illegal;
  return i - start;
}
