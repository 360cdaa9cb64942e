#include "recover/attribution.h"

#include <algorithm>
#include <string>
#include <strings.h>

#include "format/record.h"
#include "format/serial_type.h"
#include "format/text.h"

namespace {

void add_table(const table_def& table, uint32_t fewest, carve_tables* out) {
  table_rules rules = rules_for(table);
  if (fewest != 0 && fewest < rules.min_fields) rules.min_fields = fewest;
  const bool searchable = table.parsed && !table.virtual_table && !rules.fields.empty();
  const cell_format format = table.without_rowid ? cell_format::index : cell_format::table;
  const int32_t index = static_cast<int32_t>(out->rules.size());
  out->rules.push_back(std::move(rules));
  out->formats.push_back(format);
  out->searchable.push_back(searchable);
  bool untyped = !out->rules.back().fields.empty();
  for (const field_rule& f : out->rules.back().fields)
    untyped = untyped && f.column_affinity == affinity::blob && f.strict == strict_type::none && !f.rowid_alias;
  out->untyped.push_back(untyped || table.columns_inferred);
  out->names.push_back(table.name);
  if (searchable) out->by_format[static_cast<int>(format)].push_back(index);
}

// How well a value's storage class fits its column: +1 for the class the
// column's affinity gives its ordinary values (NULL in a rowid alias, a blob
// in a column declared BLOB), -1 for another class in a column declared
// BLOB, 0 otherwise (untyped columns take any class alike).
int class_points(const field_rule& rule, uint64_t serial) {
  const bool integer = (serial >= 1 && serial <= 6) || serial == 8 || serial == 9;
  if (rule.rowid_alias) return serial == 0 ? 1 : 0;
  switch (rule.column_affinity) {
    case affinity::integer:
    case affinity::numeric: return integer ? 1 : 0;
    case affinity::real: return serial == 7 || integer ? 1 : 0;
    case affinity::text: return serial_is_text(serial) ? 1 : 0;
    case affinity::blob:
      if (!rule.declared_blob || serial == 0) return 0;
      return serial_is_blob(serial) ? 1 : -1;
  }
  return 0;
}

}  // namespace

void build_carve_tables(const schema& db_schema, const std::vector<uint32_t>& fewest_fields,
                        carve_tables* out) {
  *out = carve_tables{};
  for (size_t i = 0; i < db_schema.tables.size(); ++i) {
    add_table(db_schema.tables[i], i < fewest_fields.size() ? fewest_fields[i] : 0, out);
    if (strcasecmp(db_schema.tables[i].name.c_str(), "sqlite_sequence") == 0) out->sequence = static_cast<int32_t>(i);
  }
  // Table 0 is sqlite_master: its first column holds one of four words.
  if (!out->rules.empty() && !out->rules[0].fields.empty()) out->rules[0].fields[0].schema_type = true;
}

void add_carve_table(const table_def& table, carve_tables* out) { add_table(table, 0, out); }

void add_carve_indexes(std::span<const index_def> indexes, carve_tables* out) {
  for (const index_def& index : indexes) {
    table_rules rules = rules_for(index.def);
    if (index.rowid_suffix && !rules.fields.empty()) {
      field_rule rowid;
      rowid.column_affinity = affinity::integer;
      rowid.strict = strict_type::integer;
      rowid.not_null = true;
      rules.fields.push_back(rowid);
    }
    rules.min_fields = static_cast<uint32_t>(rules.fields.size());
    const int32_t id = index_base + static_cast<int32_t>(out->index_rules.size());
    if (!index.loose && !rules.fields.empty()) out->known_indexes.push_back(id);
    out->index_rules.push_back(std::move(rules));
  }
}

bool record_fits(const carve_settings& settings, const table_rules& rules, const carved_record& rec,
                 byte_view page, int* score) {
  const size_t n = rec.fields.size();
  if (n < rules.min_fields || n > rules.fields.size()) return false;
  int points = n == rules.fields.size() ? 1000 : 0;
  uint64_t at = rec.header_size;
  for (size_t i = 0; i < n; ++i) {
    const carved_field& f = rec.fields[i];
    const bool local = at + f.size <= rec.local_size &&
                       (rec.cut_at == 0 || rec.record_start + at + f.size <= rec.cut_at);
    if (f.type_known) {
      const byte_view data = local ? page.subspan(rec.record_start + at, f.size) : byte_view{};
      if (!value_fits(rules.fields[i], f.serial, data, local, settings.encoding, settings.schema_format))
        return false;
      points += class_points(rules.fields[i], f.serial);
    }
    at += f.size;
  }
  *score = points;
  return true;
}

bool schema_row_plausible(std::span<const value_view> values) {
  if (values.size() != 5 || values[0].kind != value_kind::text) return false;
  std::string type;
  append_utf8(&type, values[0].bytes, values[0].encoding);
  if (type != "table" && type != "index" && type != "view" && type != "trigger") return false;
  if (values[4].kind == value_kind::null) return type == "index";
  // A statement a later cell overwrote: the type and the name still tell.
  if (values[4].kind == value_kind::unknown) return values[1].kind == value_kind::text;
  if (values[4].kind != value_kind::text) return false;
  std::string sql;
  append_utf8(&sql, values[4].bytes.first(std::min<size_t>(values[4].bytes.size(), 16)), values[4].encoding);
  return strncasecmp(sql.c_str(), "CREATE ", 7) == 0;
}

bool record_has_substance(std::span<const value_view> values) {
  for (const value_view& v : values) {
    switch (v.kind) {
      case value_kind::integer:
        if (v.integer != 0) return true;
        break;
      case value_kind::real:
        if (v.real != 0) return true;
        break;
      case value_kind::text:
      case value_kind::blob:
        for (const uint8_t b : v.bytes)
          if (b != 0) return true;
        break;
      default: break;
    }
  }
  return false;
}

namespace {

// Decodes a record's values from the page, for checks that read them.
void page_values(const carve_settings& settings, const carved_record& rec, byte_view page,
                 std::vector<value_view>* out) {
  out->clear();
  uint64_t at = rec.header_size;
  for (const carved_field& f : rec.fields) {
    const bool cut = rec.cut_at != 0 && rec.record_start + at + f.size > rec.cut_at;
    if (f.type_known && !cut && at + f.size <= rec.local_size)
      out->push_back(decode_value(f.serial, page.data() + rec.record_start + at, settings.encoding));
    else
      out->push_back(unknown_value());
    at += f.size;
  }
}

}  // namespace

bool plausible_without_table(const carve_settings& settings, const carved_record& rec, byte_view page) {
  if (rec.fields.size() < 2 || rec.rebuilt) return false;
  table_rules loose;
  loose.fields.assign(rec.fields.size(), field_rule{});
  loose.min_fields = 1;
  int score = 0;
  return record_fits(settings, loose, rec, page, &score);
}

void table_judge::set_owner(int32_t owner) {
  owner_ = owner;
  rebuild_.clear();
  if (owner >= index_base) {
    if (!tables_->index_rules[owner - index_base].fields.empty()) rebuild_.push_back(owner);
    return;
  }
  if (owner >= 0 && static_cast<size_t>(owner) < tables_->searchable.size() &&
      tables_->searchable[owner]) {
    rebuild_.push_back(owner);
    return;
  }
  if (owner >= 0) return;  // a table the search cannot read (a virtual table)
  for (const auto& list : tables_->by_format)
    for (const int32_t t : list)
      if (!tables_->untyped[t]) rebuild_.push_back(t);
}

namespace {

// A row of sqlite_sequence: the name of a table of the schema, an integer.
bool sequence_row(std::span<const value_view> values, const std::vector<std::string>& names) {
  if (values.size() != 2 || values[0].kind != value_kind::text || values[1].kind != value_kind::integer)
    return false;
  std::string name;
  append_utf8(&name, values[0].bytes, values[0].encoding);
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return strcasecmp(n.c_str(), name.c_str()) == 0; });
}

}  // namespace

// Whether the record fits table (or index) t. Untyped tables fit anything
// of their width: they take records only from their own pages, or, for
// sqlite_sequence, records that read as its rows.
bool table_judge::fits(int32_t t, const carved_record& rec, byte_view page, int* score) {
  if (t >= index_base) return record_fits(*settings_, tables_->index_rules[t - index_base], rec, page, score);
  if (!record_fits(*settings_, tables_->rules[t], rec, page, score)) return false;
  if (t != 0 && (!tables_->untyped[t] || t == owner_)) return true;
  // sqlite_sequence's rows read as its rows; another untyped table is a
  // candidate only while a free page's one tree is looked for.
  if (t != 0 && t != tables_->sequence) return tallying_;
  page_values(*settings_, rec, page, &values_);
  return t == 0 ? schema_row_plausible(values_) : sequence_row(values_, tables_->names);
}

int32_t table_judge::judge(const carved_record& rec, byte_view page) {
  int score = 0;
  if (owner_ >= index_base)
    return rec.format == cell_format::index && fits(owner_, rec, page, &score) ? owner_ : -2;
  if (owner_ >= 0 && static_cast<size_t>(owner_) < tables_->searchable.size() &&
      tables_->searchable[owner_] && tables_->formats[owner_] == rec.format && fits(owner_, rec, page, &score))
    return owner_;
  int32_t best = -1;
  int best_score = -1;
  bool tie = false;
  const auto consider = [&](int32_t t) {
    if (t == owner_ || !fits(t, rec, page, &score)) return;
    if (score > best_score) {
      best = t;
      best_score = score;
      tie = false;
    } else if (score == best_score) {
      tie = true;
    }
  };
  for (const int32_t t : tables_->by_format[static_cast<int>(rec.format)]) consider(t);
  // On a page of no known tree, an index cell may be an entry of any index.
  if (rec.format == cell_format::index && owner_ < 0)
    for (const int32_t t : tables_->known_indexes) consider(t);
  if (best >= 0 && !tie) return best;
  // A record in index cell format that fits nothing is no row of a table.
  if (rec.format == cell_format::index) return -2;
  return plausible_without_table(*settings_, rec, page) ? -1 : -2;
}

void owner_tally::found(const carved_record&, int32_t table, region_kind) {
  if (table < 0 || table_ == -2) return;
  if (table_ >= 0 && table_ != table) {
    table_ = -2;
    return;
  }
  table_ = table;
  ++count_;
}
