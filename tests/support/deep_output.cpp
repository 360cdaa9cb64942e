#include "support/deep_output.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Splits one CSV record starting at *at; moves *at past its line feed.
bool next_record(const std::string& out, size_t* at, std::vector<std::string>* fields) {
  fields->clear();
  std::string field;
  bool quoted = false, was_quoted = false;
  size_t i = *at;
  for (; i < out.size(); ++i) {
    const char c = out[i];
    if (quoted) {
      if (c == '"' && i + 1 < out.size() && out[i + 1] == '"') {
        field += "\"\"";
        ++i;
      } else if (c == '"') {
        quoted = false;
        field += '"';
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty()) {
      quoted = was_quoted = true;
      field += '"';
    } else if (c == ',') {
      fields->push_back(field);
      field.clear();
      was_quoted = false;
    } else if (c == '\n') {
      break;
    } else {
      field += c;
    }
  }
  (void)was_quoted;
  fields->push_back(field);
  *at = i + 1;
  return !quoted;
}

std::string unquote(const std::string& field) {
  std::string s;
  for (size_t i = 1; i + 1 < field.size(); ++i) {
    s += field[i];
    if (field[i] == '"') ++i;
  }
  return s;
}

std::string real_text(double d) {
  if (std::isinf(d)) return d < 0 ? "R:-inf" : "R:inf";
  char text[40];
  snprintf(text, sizeof text, "R:%.17g", d);
  return text;
}

std::string hex_text(const unsigned char* p, int n) {
  static const char hex[] = "0123456789ABCDEF";
  std::string s = "B:";
  for (int i = 0; i < n; ++i) {
    s += hex[p[i] >> 4];
    s += hex[p[i] & 15];
  }
  return s;
}

std::string quote_name(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + "\"";
}

}  // namespace

std::vector<deep_csv_row> parse_deep_csv(const std::string& out) {
  std::vector<deep_csv_row> rows;
  std::vector<std::string> fields;
  for (size_t at = 0; at < out.size();) {
    if (!next_record(out, &at, &fields) || fields.size() < 7) {
      ADD_FAILURE() << "malformed line near byte " << at;
      break;
    }
    deep_csv_row row;
    row.has_table = !fields[0].empty();
    row.table = row.has_table ? unquote(fields[0]) : "";
    row.status = fields[1];
    row.source = fields[2];
    row.reading = fields[3];
    if (row.reading != "cell" && row.reading != "rebuilt" && row.reading != "inferred")
      ADD_FAILURE() << "reading '" << row.reading << "' near byte " << at;
    row.page = std::strtoull(fields[4].c_str(), nullptr, 10);
    row.offset = std::strtoull(fields[5].c_str(), nullptr, 10);
    row.rowid = fields[6];
    row.values.assign(fields.begin() + 7, fields.end());
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string canonical_field(const std::string& field) {
  if (field.empty()) return "U:";
  if (field == "NULL") return "NULL";
  if (field[0] == '"') return "T:" + unquote(field);
  if (field.rfind("x'", 0) == 0) return "B:" + field.substr(2, field.size() - 3);
  if (field == "Inf") return "R:inf";
  if (field == "-Inf") return "R:-inf";
  if (field.find_first_of(".e") != std::string::npos) return real_text(std::strtod(field.c_str(), nullptr));
  return "I:" + field;
}

std::vector<std::string> deep_lines(const std::vector<deep_csv_row>& rows, const std::string& table,
                                    const std::string& status) {
  std::vector<std::string> lines;
  for (const deep_csv_row& row : rows) {
    if (!row.has_table || row.table != table || row.status != status) continue;
    std::string line = row.rowid;
    for (const std::string& v : row.values) line += "|" + canonical_field(v);
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string canonical_column(sqlite3_stmt* stmt, int i) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_NULL: return "NULL";
    case SQLITE_INTEGER: return "I:" + std::to_string(sqlite3_column_int64(stmt, i));
    case SQLITE_FLOAT: return real_text(sqlite3_column_double(stmt, i));
    case SQLITE_TEXT:
      return "T:" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
    default:
      return hex_text(static_cast<const unsigned char*>(sqlite3_column_blob(stmt, i)),
                      sqlite3_column_bytes(stmt, i));
  }
}

std::vector<std::string> handle_lines(sqlite3* db, const std::string& table) {
  std::vector<std::string> lines;
  // A table without a rowid fails to prepare with one.
  sqlite3_stmt* stmt = nullptr;
  bool with_rowid = true;
  if (sqlite3_prepare_v2(db, ("SELECT rowid, * FROM " + quote_name(table)).c_str(), -1, &stmt,
                         nullptr) != SQLITE_OK) {
    with_rowid = false;
    if (sqlite3_prepare_v2(db, ("SELECT * FROM " + quote_name(table)).c_str(), -1, &stmt, nullptr) !=
        SQLITE_OK)
      ADD_FAILURE() << sqlite3_errmsg(db);
  }
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    std::string line = with_rowid ? std::to_string(sqlite3_column_int64(stmt, 0)) : "";
    for (int i = with_rowid ? 1 : 0; i < sqlite3_column_count(stmt); ++i)
      line += "|" + canonical_column(stmt, i);
    lines.push_back(line);
  }
  sqlite3_finalize(stmt);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> sqlite_lines(const std::string& db, const std::string& table) {
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << db;
    sqlite3_close(handle);
    return {};
  }
  std::vector<std::string> lines = handle_lines(handle, table);
  sqlite3_close(handle);
  return lines;
}

std::vector<std::string> sqlite_tables(const std::string& db) {
  std::vector<std::string> names{"sqlite_master"};
  sqlite3* handle = nullptr;
  sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(handle,
                     "SELECT name FROM sqlite_master WHERE type = 'table' AND rootpage > 0 "
                     "ORDER BY rowid",
                     -1, &stmt, nullptr);
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  sqlite3_finalize(stmt);
  sqlite3_close(handle);
  return names;
}

namespace {

// "sarvek: NAME: no rows", or "sarvek: NAME: " then "N status" parts
// separated by ", ".
bool is_summary_line(const std::string& line) {
  const size_t colon = line.rfind(": ");
  if (!line.starts_with("sarvek: ") || colon < 8) return false;
  const std::string counts = line.substr(colon + 2);
  if (counts == "no rows") return true;
  size_t at = 0;
  while (at < counts.size()) {
    size_t end = counts.find(", ", at);
    if (end == std::string::npos) end = counts.size();
    const std::string part = counts.substr(at, end - at);
    const size_t space = part.find(' ');
    if (space == 0 || space == std::string::npos ||
        part.find_first_not_of("0123456789") != space)
      return false;
    const std::string status = part.substr(space + 1);
    if (status != "live" && status != "deleted" && status != "superseded" && status != "uncommitted") return false;
    at = end + 2;
  }
  return true;
}

}  // namespace

std::vector<std::string> note_lines(const std::string& err) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < err.size()) {
    size_t end = err.find('\n', at);
    if (end == std::string::npos) end = err.size();
    const std::string line = err.substr(at, end - at);
    if (!is_summary_line(line)) lines.push_back(line);
    at = end + 1;
  }
  return lines;
}
