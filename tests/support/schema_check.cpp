#include "support/schema_check.h"

#include <cstdio>
#include <sstream>

memory_db::memory_db() { sqlite3_open(":memory:", &db); }
memory_db::~memory_db() { sqlite3_close(db); }

bool memory_db::run_first(const std::string& sql, std::string* error) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
  if (rc == SQLITE_OK && stmt) {
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK && error) *error = sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  return rc == SQLITE_OK && stmt != nullptr;
}

bool memory_db::exec(const std::string& sql, std::string* error) {
  char* message = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  if (message) {
    if (error) *error = message;
    sqlite3_free(message);
  }
  return rc == SQLITE_OK;
}

std::vector<std::vector<std::string>> memory_db::rows(const std::string& sql) {
  std::vector<std::vector<std::string>> out;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return out;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      row.emplace_back(text ? std::string(reinterpret_cast<const char*>(text),
                                          static_cast<size_t>(sqlite3_column_bytes(stmt, i)))
                            : "NULL");
    }
    out.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  return out;
}

std::vector<stored_table> stored_tables(memory_db& db) {
  std::vector<stored_table> out;
  for (auto& row : db.rows("SELECT name, sql FROM sqlite_master WHERE type = 'table' UNION ALL "
                           "SELECT name, sql FROM sqlite_temp_master WHERE type = 'table'"))
    out.push_back({row[0], row[1]});
  return out;
}

namespace {

std::string quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// The 1-based position of column i in the primary key, as table_info's pk.
int key_position(const table_def& t, uint32_t i) {
  for (size_t k = 0; k < t.primary_key.size(); ++k)
    if (t.primary_key[k] == i) return static_cast<int>(k + 1);
  return 0;
}

}  // namespace

std::string compare_with_library(memory_db& db, const std::string& name, const table_def& t) {
  std::ostringstream diff;
  std::string n = quoted(name);
  auto columns = db.rows("SELECT name, type, \"notnull\", pk, hidden FROM pragma_table_xinfo(" + n + ")");
  auto flags = db.rows("SELECT wr, strict FROM pragma_table_list(" + n + ")");
  auto key_index = db.rows("SELECT name FROM pragma_index_list(" + n + ") WHERE origin = 'pk'");
  if (flags.size() != 1) return "the library has no table " + name + "\n";
  bool without_rowid = flags[0][0] == "1";
  if (t.name != name) diff << "name " << t.name << " vs " << name << "\n";
  if (t.without_rowid != without_rowid) diff << "without_rowid differs\n";
  if (t.strict != (flags[0][1] == "1")) diff << "strict differs\n";
  if (t.columns.size() != columns.size()) {
    diff << t.columns.size() << " columns vs " << columns.size() << "\n";
    return diff.str();
  }
  int alias = -1;
  std::vector<uint32_t> order;
  for (uint32_t i = 0; i < columns.size(); ++i) {
    const column_def& c = t.columns[i];
    const auto& lib = columns[i];
    std::string hidden = c.generated ? (c.stored ? "3" : "2") : "0";
    if (c.name != lib[0]) diff << "column " << i << " name [" << c.name << "] vs [" << lib[0] << "]\n";
    if (c.declared_type != lib[1])
      diff << "column " << i << " type [" << c.declared_type << "] vs [" << lib[1] << "]\n";
    if (c.not_null != (lib[2] != "0")) diff << "column " << i << " notnull differs\n";
    if (std::to_string(key_position(t, i)) != lib[3])
      diff << "column " << i << " pk " << key_position(t, i) << " vs " << lib[3] << "\n";
    if (hidden != lib[4]) diff << "column " << i << " hidden " << hidden << " vs " << lib[4] << "\n";
    if (!without_rowid && lib[3] == "1" && key_index.empty()) alias = static_cast<int>(i);
    if (!without_rowid && lib[4] != "2") order.push_back(i);
  }
  if (without_rowid && key_index.size() == 1)
    for (auto& row : db.rows("SELECT cid FROM pragma_index_xinfo(" + quoted(key_index[0][0]) +
                             ") ORDER BY seqno"))
      order.push_back(static_cast<uint32_t>(std::stoul(row[0])));
  if (t.rowid_column != alias) diff << "rowid column " << t.rowid_column << " vs " << alias << "\n";
  if (t.storage_order != order) diff << "record order differs\n";
  return diff.str();
}

std::string describe(const table_def& t) {
  std::ostringstream out;
  out << (t.parsed ? "" : "unparsed ") << "[" << t.name << "]" << (t.without_rowid ? " wr" : "")
      << (t.strict ? " strict" : "") << (t.virtual_table ? " virtual " + t.module : "")
      << " alias=" << t.rowid_column << " (";
  for (const column_def& c : t.columns) {
    out << "[" << c.name << "] [" << c.declared_type << "] aff" << static_cast<int>(c.column_affinity)
        << (c.not_null ? " nn" : "") << (c.primary_key ? " pk" : "")
        << (c.generated ? (c.stored ? " stored" : " virtual") : "")
        << " dflt" << static_cast<int>(c.default_value.kind) << ":" << c.default_value.integer << ":"
        << c.default_value.real << ":" << c.default_value.bytes << ", ";
  }
  out << ") order";
  for (uint32_t i : t.storage_order) out << " " << i;
  out << " key";
  for (uint32_t i : t.primary_key) out << " " << i;
  return out.str();
}
