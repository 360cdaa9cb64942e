#include "support/provenance.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "support/sqlite_db.h"

namespace {

bool varint_at(const std::vector<uint8_t>& b, uint64_t at, uint64_t* value, uint64_t* next) {
  uint64_t v = 0;
  for (int i = 0; i < 9; ++i) {
    if (at + i >= b.size()) return false;
    const uint8_t c = b[at + i];
    if (i == 8) {
      v = v << 8 | c;
      *value = v;
      *next = at + 9;
      return true;
    }
    v = v << 7 | (c & 0x7F);
    if (!(c & 0x80)) {
      *value = v;
      *next = at + i + 1;
      return true;
    }
  }
  return false;
}

// The bytes of a printed text ("...") or blob (x'..'), or empty.
std::string value_bytes(const std::string& field, bool utf8, bool* is_value) {
  *is_value = false;
  if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
    *is_value = true;
    if (!utf8) return {};
    std::string s;
    for (size_t i = 1; i + 1 < field.size(); ++i) {
      s += field[i];
      if (field[i] == '"') ++i;
    }
    return s;
  }
  if (field.size() >= 3 && field.rfind("x'", 0) == 0 && field.back() == '\'') {
    *is_value = true;
    std::string s;
    for (size_t i = 2; i + 2 < field.size(); i += 2) s += static_cast<char>(std::stoi(field.substr(i, 2), nullptr, 16));
    return s;
  }
  return {};
}

std::string check_row(const deep_csv_row& row, const std::vector<uint8_t>& file, uint32_t page_size,
                      bool utf8, bool index_entry) {
  if (row.offset >= file.size()) return "offset past the end of its file";
  if (!row.rowid.empty() && !index_entry) {
    uint64_t payload = 0, rowid = 0, at = 0;
    if (!varint_at(file, row.offset, &payload, &at) || !varint_at(file, at, &rowid, &at) ||
        static_cast<int64_t>(rowid) != std::stoll(row.rowid))
      return "no cell of rowid " + row.rowid + " at its offset";
  }
  for (const std::string& field : row.values) {
    bool is_value = false;
    const std::string bytes = value_bytes(field, utf8, &is_value);
    if (!is_value) continue;
    if (bytes.size() < 4) break;
    const std::string_view head(bytes.data(), std::min<size_t>(bytes.size(), 8));
    const uint64_t end = std::min<uint64_t>(file.size(), row.offset + page_size);
    const std::string_view window(reinterpret_cast<const char*>(file.data()) + row.offset, end - row.offset);
    if (window.find(head) == std::string_view::npos) return "its first text or blob is not within a page of its offset";
    break;
  }
  return {};
}

}  // namespace

std::vector<std::string> misplaced_rows(const std::vector<deep_csv_row>& rows, const std::string& db,
                                        uint32_t page_size, bool utf8, const std::set<std::string>& indexes) {
  const std::vector<uint8_t> files[3] = {read_file(db), read_file(db + "-wal"), read_file(db + "-journal")};
  std::vector<std::string> bad;
  for (const deep_csv_row& row : rows) {
    const std::vector<uint8_t>& file = files[row.source == "wal" ? 1 : row.source == "journal" ? 2 : 0];
    const std::string why = check_row(row, file, page_size, utf8, indexes.count(row.table) != 0);
    if (!why.empty())
      bad.push_back(row.table + " " + row.status + " " + row.source + " page " + std::to_string(row.page) +
                    " offset " + std::to_string(row.offset) + " rowid " + row.rowid + ": " + why);
  }
  return bad;
}
