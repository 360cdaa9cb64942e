#include "schema/create_table.h"

#include <string>
#include <unordered_map>
#include <utility>

#include "schema/column_type.h"
#include "schema/sql_lexer.h"

namespace {

class create_table_parser {
 public:
  explicit create_table_parser(std::string_view sql) : sql_(sql), lex_(sql) { advance(); }

  bool parse(table_def* t, table_clauses* c) {
    t_ = t;
    c_ = c;
    while (take(token_kind::semi)) {}  // empty statements before it
    if (!take(kw::create)) return false;
    if (tok_.is(kw::temp) || tok_.is(kw::temporary)) advance();
    if (take(kw::virtual_)) return parse_virtual_table();
    if (!take(kw::table) || !parse_table_name()) return false;
    if (!take(token_kind::lp)) return false;  // AS SELECT is stored rewritten
    if (!parse_column()) return false;
    while (take(token_kind::comma)) {
      if (starts_table_constraint()) {
        if (!parse_table_constraints()) return false;
        break;
      }
      if (!parse_column()) return false;
    }
    return take(token_kind::rp) && parse_table_options() && at_statement_end();
  }

 private:
  std::string_view sql_;
  sql_lexer lex_;
  token tok_;
  table_def* t_ = nullptr;
  table_clauses* c_ = nullptr;
  std::unordered_map<std::string, uint32_t> column_index_;  // lower-case name -> column
  size_t indexed_columns_ = 0;

  void advance() { tok_ = lex_.next(); }
  token peek() const {
    sql_lexer copy = lex_;
    return copy.next();
  }
  template <typename K>
  bool take(K k) {
    if (!tok_.is(k)) return false;
    advance();
    return true;
  }
  bool at_statement_end() const { return tok_.is(token_kind::end) || tok_.is(token_kind::semi); }

  // The tokens of a parenthesised group, the closing parenthesis included.
  bool skip_group() {
    if (!take(token_kind::lp)) return false;
    for (size_t depth = 1; depth > 0; advance()) {
      if (tok_.is(token_kind::end) || tok_.is(token_kind::illegal)) return false;
      if (tok_.is(token_kind::lp)) ++depth;
      if (tok_.is(token_kind::rp)) --depth;
    }
    return true;
  }

  bool take_name(std::string* out) {
    if (!tok_.is_name()) return false;
    if (out) *out = sql_dequote(tok_.text);
    advance();
    return true;
  }

  // [IF NOT EXISTS] [schema.]name
  bool parse_table_name() {
    if (tok_.is(kw::if_) && peek().is(kw::not_)) {
      advance();
      advance();
      if (!take(kw::exists)) return false;
    }
    if (!take_name(&t_->name)) return false;
    if (take(token_kind::dot) && !take_name(&t_->name)) return false;
    return true;
  }

  bool parse_virtual_table() {
    if (!take(kw::table) || !parse_table_name()) return false;
    if (!take(kw::using_) || !take_name(&t_->module)) return false;
    if (tok_.is(token_kind::lp) && !skip_group()) return false;
    t_->virtual_table = true;
    return at_statement_end();
  }

  bool starts_table_constraint() const {
    return tok_.is(kw::constraint) || tok_.is(kw::primary) || tok_.is(kw::unique) ||
           tok_.is(kw::check) || tok_.is(kw::foreign);
  }

  // [+|-] number
  bool take_signed_number() {
    if (tok_.is(token_kind::plus) || tok_.is(token_kind::minus)) advance();
    return take(token_kind::integer) || take(token_kind::real);
  }

  bool parse_column() {
    column_def col;
    if (!take_name(&col.name)) return false;
    // The type: every word the grammar can take as one, then (n) or (n, m).
    size_t type_start = 0, type_end = 0;
    bool typed = false;
    while (tok_.is_type_word()) {
      if (!typed) type_start = tok_.offset;
      typed = true;
      type_end = tok_.offset + tok_.text.size();
      advance();
    }
    if (typed && tok_.is(token_kind::lp)) {
      advance();
      if (!take_signed_number()) return false;
      if (take(token_kind::comma) && !take_signed_number()) return false;
      if (!tok_.is(token_kind::rp)) return false;
      type_end = tok_.offset + 1;
      advance();
    }
    column_type type = read_column_type(sql_.substr(type_start, type_end - type_start));
    col.declared_type = std::move(type.declared);
    col.column_affinity = type.type_affinity;
    t_->columns.push_back(std::move(col));
    c_->standard_types.push_back(type.standard);
    c_->collations.emplace_back("BINARY");
    c_->defaults.emplace_back();
    while (!tok_.is(token_kind::comma) && !tok_.is(token_kind::rp)) {
      if (!parse_column_constraint()) return false;
    }
    return true;
  }

  bool parse_column_constraint() {
    column_def& col = t_->columns.back();
    if (take(kw::constraint)) return take_name(nullptr);
    if (take(kw::default_)) {
      col.has_default = true;
      return parse_default(&c_->defaults.back());
    }
    if (take(kw::null)) return parse_on_conflict();
    if (tok_.is(kw::not_) && peek().is(kw::null)) {
      advance();
      advance();
      col.not_null = true;
      return parse_on_conflict();
    }
    if (take(kw::primary)) {
      if (!take(kw::key)) return false;
      c_->key_clauses++;
      c_->key = {key_term{static_cast<uint32_t>(t_->columns.size() - 1), {}}};
      c_->key_in_column = true;
      c_->key_desc = tok_.is(kw::desc);
      if (tok_.is(kw::asc) || tok_.is(kw::desc)) advance();
      if (!parse_on_conflict()) return false;
      if (take(kw::autoincrement)) c_->autoincrement = true;
      return true;
    }
    if (take(kw::unique)) return parse_on_conflict();
    if (take(kw::check)) return skip_group();
    if (take(kw::references)) return parse_references();
    if (tok_.is(kw::deferrable) || tok_.is(kw::not_)) return parse_deferrable();
    if (take(kw::collate)) {
      if (!tok_.is_type_word()) return false;
      c_->collations.back() = sql_dequote(tok_.text);
      advance();
      return true;
    }
    if (take(kw::generated)) {
      if (!take(kw::always) || !tok_.is(kw::as)) return false;
    }
    if (take(kw::as)) return parse_generated(&col);
    return false;
  }

  // (expr) [STORED|VIRTUAL]
  bool parse_generated(column_def* col) {
    if (!skip_group()) return false;
    col->generated = true;
    if (tok_.is_id()) {
      if (sql_iequal(tok_.text, "stored")) {
        col->stored = true;
      } else if (!sql_iequal(tok_.text, "virtual")) {
        return false;
      }
      advance();
    }
    return true;
  }

  static bool is_term(const token& t) {
    return t.is(kw::null) || t.is(token_kind::integer) || t.is(token_kind::real) ||
           t.is(token_kind::string) || t.is(token_kind::blob) || t.is(kw::current_time) ||
           t.is(kw::current_date) || t.is(kw::current_timestamp);
  }

  // DEFAULT term | +term | -term | name | (expr)
  bool parse_default(default_expr* e) {
    *e = default_expr{};
    if (tok_.is(token_kind::lp)) return parse_default_expression(e);
    e->simple = true;
    if (tok_.is(token_kind::plus) || tok_.is(token_kind::minus)) {
      if (tok_.is(token_kind::minus)) e->signs.push_back('-');
      advance();
      if (!is_term(tok_)) return false;
    } else if (!is_term(tok_)) {
      if (!tok_.is_id()) return false;
      e->name_is_text = true;
    }
    e->literal = tok_;
    advance();
    return true;
  }

  // A parenthesised default: simple when it is a literal under signs and
  // parentheses, skipped (balanced) otherwise.
  bool parse_default_expression(default_expr* e) {
    e->simple = true;
    bool literal_seen = false;
    size_t depth = 0;
    do {
      if (tok_.is(token_kind::end) || tok_.is(token_kind::illegal)) return false;
      if (tok_.is(token_kind::lp)) {
        ++depth;
        if (literal_seen) e->simple = false;
      } else if (tok_.is(token_kind::rp)) {
        --depth;
      } else if (literal_seen) {
        e->simple = false;
      } else if (tok_.is(token_kind::plus) || tok_.is(token_kind::minus)) {
        e->signs += tok_.is(token_kind::plus) ? '+' : '-';
      } else {
        e->literal = tok_;
        literal_seen = true;
      }
      advance();
    } while (depth > 0);
    if (!literal_seen) e->simple = false;
    return true;
  }

  // [ON CONFLICT ROLLBACK|ABORT|FAIL|IGNORE|REPLACE]
  bool parse_on_conflict() {
    if (!take(kw::on)) return true;
    if (!take(kw::conflict)) return false;
    return take(kw::rollback) || take(kw::abort_) || take(kw::fail) || take(kw::ignore) ||
           take(kw::replace);
  }

  // REFERENCES has been read: name [(columns)] {MATCH name | ON event action}
  bool parse_references() {
    if (!take_name(nullptr)) return false;
    if (tok_.is(token_kind::lp) && !skip_group()) return false;
    for (;;) {
      if (take(kw::match)) {
        if (!take_name(nullptr)) return false;
      } else if (take(kw::on)) {
        if (!take(kw::delete_) && !take(kw::update) && !take(kw::insert)) return false;
        if (!parse_reference_action()) return false;
      } else {
        return true;
      }
    }
  }

  bool parse_reference_action() {
    if (take(kw::set)) return take(kw::null) || take(kw::default_);
    if (take(kw::no)) return take(kw::action);
    return take(kw::cascade) || take(kw::restrict);
  }

  // [NOT] DEFERRABLE [INITIALLY DEFERRED|IMMEDIATE]
  bool parse_deferrable() {
    take(kw::not_);
    if (!take(kw::deferrable)) return false;
    if (take(kw::initially)) return take(kw::deferred) || take(kw::immediate);
    return true;
  }

  // Table constraints up to the closing parenthesis, commas between them
  // optional as the grammar has it.
  bool parse_table_constraints() {
    for (;;) {
      if (!parse_table_constraint()) return false;
      if (!take(token_kind::comma) && tok_.is(token_kind::rp)) return true;
    }
  }

  bool parse_table_constraint() {
    if (take(kw::constraint)) return take_name(nullptr);
    if (take(kw::primary)) {
      if (!take(kw::key) || !parse_key_columns()) return false;
      return parse_on_conflict();
    }
    if (take(kw::unique)) return skip_group() && parse_on_conflict();
    if (take(kw::check)) return skip_group() && parse_on_conflict();
    if (take(kw::foreign)) {
      if (!take(kw::key) || !skip_group() || !take(kw::references)) return false;
      if (!parse_references()) return false;
      if (tok_.is(kw::deferrable) || (tok_.is(kw::not_) && peek().is(kw::deferrable)))
        return parse_deferrable();
      return true;
    }
    return false;
  }

  // (term [, term]... [AUTOINCREMENT]), each term a column name, possibly in
  // parentheses, with COLLATE and ASC or DESC.
  bool parse_key_columns() {
    if (!take(token_kind::lp)) return false;
    c_->key_clauses++;
    c_->key.clear();
    c_->key_in_column = false;
    c_->key_desc = false;
    do {
      key_term term;
      if (!parse_key_term(&term)) return false;
      c_->key.push_back(std::move(term));
    } while (take(token_kind::comma));
    if (take(kw::autoincrement)) c_->autoincrement = true;
    return take(token_kind::rp);
  }

  bool parse_key_term(key_term* term) {
    size_t open = 0;
    while (take(token_kind::lp)) ++open;
    std::string name;
    if (!take_name(&name) || !find_column(name, &term->column)) return false;
    for (;;) {
      if (take(kw::collate)) {
        if (!tok_.is_type_word()) return false;
        term->collation = sql_dequote(tok_.text);
        advance();
      } else if (open > 0 && take(token_kind::rp)) {
        --open;
      } else {
        break;
      }
    }
    if (open > 0) return false;
    if (tok_.is(kw::asc) || tok_.is(kw::desc)) advance();
    return true;
  }

  bool find_column(std::string_view name, uint32_t* index) {
    // Key terms come after every column: the index is built once.
    for (; indexed_columns_ < t_->columns.size(); ++indexed_columns_)
      column_index_.emplace(sql_lower(t_->columns[indexed_columns_].name),
                            static_cast<uint32_t>(indexed_columns_));
    auto it = column_index_.find(sql_lower(name));
    if (it == column_index_.end()) return false;
    *index = it->second;
    return true;
  }

  // Options after the closing parenthesis: WITHOUT ROWID, STRICT, by commas.
  // The grammar lets a comma come before the first one too.
  bool parse_table_options() {
    if (at_statement_end()) return true;
    take(token_kind::comma);
    do {
      if (take(kw::without)) {
        if (!tok_.is_name() || !sql_iequal(tok_.text, "rowid")) return false;
        t_->without_rowid = true;
      } else if (tok_.is_name() && sql_iequal(tok_.text, "strict")) {
        t_->strict = true;
      } else {
        return false;
      }
      advance();
    } while (take(token_kind::comma));
    return true;
  }
};

}  // namespace

bool parse_create_table(std::string_view sql, table_def* out) {
  table_def t;
  table_clauses clauses;
  create_table_parser parser(sql);
  if (!parser.parse(&t, &clauses) || !finish_table(&clauses, &t)) {
    *out = table_def{};
    return false;
  }
  t.parsed = true;
  *out = std::move(t);
  return true;
}
