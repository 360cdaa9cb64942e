#include "batch/inventory.h"

#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// RFC 4180: a field with a comma, a quote or a line break is quoted.
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string csv_line(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + csv_field(fields[i]);
  return line + "\r\n";
}

// Splits the CSV text into records of fields.
std::vector<std::vector<std::string>> parse_csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += text[++i];
      else if (c == '"') quoted = false;
      else field += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(std::move(field));
      field.clear();
    } else if (c == '\n') {
      rows.back().push_back(std::move(field));
      field.clear();
      rows.emplace_back();
    } else if (c != '\r') {
      field += c;
    }
  }
  if (!rows.back().empty() || !field.empty()) rows.back().push_back(field);
  else rows.pop_back();
  return rows;
}

bool write_csv(const std::string& path, const std::vector<inventory_record>& records) {
  FILE* out = fopen(path.c_str(), "wx");
  if (!out) return false;
  std::string text = csv_line(inventory_columns());
  for (const inventory_record& r : records) text += csv_line(record_fields(r));
  const bool ok = fwrite(text.data(), 1, text.size(), out) == text.size();
  return fclose(out) == 0 && ok;
}

bool write_sqlite(const std::string& path, const std::vector<inventory_record>& records) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  std::string create = "CREATE TABLE files(", insert = "INSERT INTO files VALUES(";
  const std::vector<std::string>& columns = inventory_columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    create += (i ? ", " : "") + columns[i] + (i == 0 ? " TEXT PRIMARY KEY" : "");
    insert += i ? ", ?" : "?";
  }
  bool ok = sqlite3_exec(db, (create + ");BEGIN").c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_stmt* stmt = nullptr;
  ok = ok && sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &stmt, nullptr) == SQLITE_OK;
  for (size_t r = 0; ok && r < records.size(); ++r) {
    const std::vector<std::string> fields = record_fields(records[r]);
    for (size_t i = 0; i < fields.size(); ++i) {
      // Numbers as integers, empty fields as NULL, the rest as text.
      const std::string& f = fields[i];
      const bool number = i != 0 && !f.empty() && f.size() < 19 && f.find_first_not_of("0123456789") == std::string::npos;
      if (f.empty()) sqlite3_bind_null(stmt, static_cast<int>(i + 1));
      else if (number) sqlite3_bind_int64(stmt, static_cast<int>(i + 1), std::stoll(f));
      else sqlite3_bind_text(stmt, static_cast<int>(i + 1), f.c_str(), static_cast<int>(f.size()), SQLITE_TRANSIENT);
    }
    ok = sqlite3_step(stmt) == SQLITE_DONE && sqlite3_reset(stmt) == SQLITE_OK;
  }
  sqlite3_finalize(stmt);
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  return sqlite3_close(db) == SQLITE_OK && ok;
}

}  // namespace

const std::vector<std::string>& inventory_columns() {
  static const std::vector<std::string> columns = {
      "path", "size", "mtime", "sha256", "kind", "paired", "page_size", "encoding", "tables",
      "live", "deleted", "superseded", "uncommitted", "notes", "error", "output"};
  return columns;
}

std::vector<std::string> record_fields(const inventory_record& r) {
  return {r.path, r.size, r.mtime, r.sha256, r.kind, r.paired, r.page_size, r.encoding, r.tables,
          r.live, r.deleted, r.superseded, r.uncommitted, r.notes, r.error, r.output};
}

inventory_record record_from_fields(const std::vector<std::string>& f) {
  inventory_record r;
  std::string* fields[] = {&r.path, &r.size, &r.mtime, &r.sha256, &r.kind, &r.paired, &r.page_size,
                           &r.encoding, &r.tables, &r.live, &r.deleted, &r.superseded, &r.uncommitted,
                           &r.notes, &r.error, &r.output};
  for (size_t i = 0; i < f.size() && i < std::size(fields); ++i) *fields[i] = f[i];
  return r;
}

bool write_inventory(const std::string& dir, const std::vector<inventory_record>& records) {
  if (!write_csv(dir + "/inventory.csv", records)) {
    fprintf(stderr, "ERROR: Cannot write '%s/inventory.csv'\n", dir.c_str());
    return false;
  }
  if (!write_sqlite(dir + "/inventory.sqlite", records)) {
    fprintf(stderr, "ERROR: Cannot write '%s/inventory.sqlite'\n", dir.c_str());
    return false;
  }
  return true;
}

bool read_inventory(const std::string& dir, std::vector<inventory_record>* records) {
  std::ifstream in(dir + "/inventory.csv", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    fprintf(stderr, "ERROR: Cannot read '%s/inventory.csv'\n", dir.c_str());
    return false;
  }
  std::vector<std::vector<std::string>> rows = parse_csv(text.str());
  if (rows.empty() || rows[0] != inventory_columns()) {
    fprintf(stderr, "ERROR: '%s/inventory.csv' is not an inventory of sarvek\n", dir.c_str());
    return false;
  }
  for (size_t i = 1; i < rows.size(); ++i) records->push_back(record_from_fields(rows[i]));
  return true;
}
