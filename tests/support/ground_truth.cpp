#include "support/ground_truth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <cctype>
#include <sstream>

namespace {

std::vector<std::string> split_line(const std::string& line) {
  std::vector<std::string> parts;
  size_t start = 0;
  // Texts may hold '|': fields are split at "|X:" and "|NULL" boundaries.
  for (size_t i = 0; i <= line.size(); ++i) {
    const bool boundary =
        i == line.size() ||
        (line[i] == '|' && (line.compare(i + 1, 4, "NULL") == 0 ||
                            (i + 2 < line.size() && line[i + 2] == ':' &&
                             std::strchr("IRTBU", line[i + 1]) != nullptr)));
    if (!boundary) continue;
    parts.push_back(line.substr(start, i - start));
    start = i + 1;
  }
  return parts;
}

std::string utf16(const std::string& utf8, bool big) {
  std::string out;
  const auto unit = [&](uint32_t u) {
    out += static_cast<char>(big ? u >> 8 : u & 0xFF);
    out += static_cast<char>(big ? u & 0xFF : u >> 8);
  };
  for (size_t i = 0; i < utf8.size();) {
    const uint8_t b = static_cast<uint8_t>(utf8[i]);
    uint32_t cp = b;
    size_t n = 1;
    if (b >= 0xF0) cp = b & 7, n = 4;
    else if (b >= 0xE0) cp = b & 15, n = 3;
    else if (b >= 0xC0) cp = b & 31, n = 2;
    for (size_t k = 1; k < n && i + k < utf8.size(); ++k) cp = cp << 6 | (utf8[i + k] & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

uint32_t varint_size(uint64_t v) {
  uint32_t n = 1;
  while (v > 0x7F && n < 9) v >>= 7, ++n;
  return n;
}

// The record's serial types and body as the library wrote them.
void encode_version(const std::vector<std::string>& fields, size_t first, const std::string& table,
                    const survival_layout& layout, std::vector<uint64_t>* serials, std::string* body) {
  const auto alias = layout.rowid_alias.find(table);
  const auto reals = layout.real_columns.find(table);
  for (size_t i = first; i < fields.size(); ++i) {
    const int column = static_cast<int>(i - first);
    const std::string& f = fields[i];
    if (f == "NULL" || (alias != layout.rowid_alias.end() && alias->second == column)) {
      serials->push_back(0);
      continue;
    }
    const std::string v = f.substr(2);
    const bool real_column = reals != layout.real_columns.end() && reals->second.count(column);
    if (f[0] == 'R') {
      const double d = std::strtod(v.c_str(), nullptr);
      if (!(real_column && d == std::floor(d) && std::fabs(d) < 9.2e18)) {
        uint64_t bits;
        memcpy(&bits, &d, 8);
        for (int k = 7; k >= 0; --k) *body += static_cast<char>(bits >> (8 * k));
        serials->push_back(7);
        continue;
      }
    }
    if (f[0] == 'I' || f[0] == 'R') {
      const int64_t x = f[0] == 'I' ? std::stoll(v) : static_cast<int64_t>(std::strtod(v.c_str(), nullptr));
      if (x == 0 || x == 1) {
        serials->push_back(8 + static_cast<uint64_t>(x));
        continue;
      }
      static const int sizes[] = {1, 2, 3, 4, 6, 8};
      int type = 0;
      while (type < 5 && !(x >= -(int64_t{1} << (8 * sizes[type] - 1)) && x < (int64_t{1} << (8 * sizes[type] - 1)))) ++type;
      for (int k = sizes[type] - 1; k >= 0; --k) *body += static_cast<char>(static_cast<uint64_t>(x) >> (8 * k));
      serials->push_back(static_cast<uint64_t>(type + 1));
      continue;
    }
    std::string bytes;
    if (f[0] == 'T') {
      bytes = layout.encoding == "UTF-8" ? v : utf16(v, layout.encoding == "UTF-16be");
      serials->push_back(13 + 2 * bytes.size());
    } else {
      for (size_t k = 0; k + 1 < v.size(); k += 2) bytes += static_cast<char>(std::stoi(v.substr(k, 2), nullptr, 16));
      serials->push_back(12 + 2 * bytes.size());
    }
    *body += bytes;
  }
}

// Whether every byte of the version's record (past the bytes a freeblock
// header may cover) still lies in the file, piece by piece across overflow pages.
bool survives(const std::string& table, const std::string& line, const std::string& file,
              const survival_layout& layout) {
  const std::vector<std::string> fields = split_line(line);
  const size_t first = layout.without_rowid.count(table) ? 1 : 1;  // the rowid part (may be empty)
  std::vector<uint64_t> serials;
  std::string body;
  encode_version(fields, first, table, layout, &serials, &body);
  uint64_t header = 0;
  for (uint64_t s : serials) header += varint_size(s);
  header += varint_size(header + 1);
  const uint64_t payload = header + body.size();
  const bool index = layout.without_rowid.count(table) != 0;
  const int u = layout.usable;
  const uint64_t x = index ? static_cast<uint64_t>((u - 12) * 64 / 255 - 23) : static_cast<uint64_t>(u - 35);
  const uint64_t m = static_cast<uint64_t>((u - 12) * 32 / 255 - 23);
  uint64_t local = payload;
  if (payload > x) {
    const uint64_t k = m + (payload - m) % static_cast<uint64_t>(u - 4);
    local = k <= x ? k : m;
  }
  std::vector<std::string> pieces;
  const uint64_t first_piece = local > header ? std::min<uint64_t>(local - header, body.size()) : 0;
  pieces.push_back(body.substr(0, first_piece));
  for (uint64_t at = first_piece; at < body.size(); at += static_cast<uint64_t>(u - 4))
    pieces.push_back(body.substr(at, static_cast<size_t>(u - 4)));
  for (const std::string& piece : pieces) {
    if (piece.empty()) continue;
    if (std::search(file.begin(), file.end(), std::boyer_moore_horspool_searcher(piece.begin(), piece.end())) == file.end())
      return false;
  }
  return true;
}

bool matches(const deep_csv_row& row, const std::vector<std::string>& version) {
  if (version.size() != row.values.size() + 1) return false;
  if (!row.rowid.empty() && row.rowid != version[0]) return false;
  for (size_t i = 0; i < row.values.size(); ++i) {
    const std::string v = canonical_field(row.values[i]);
    if (v != "U:" && v != version[i + 1]) return false;
  }
  return true;
}

// Every value recovered; the rowid alias is the rowid, which a freeblock
// header overwrites, so it may be empty.
bool whole(const deep_csv_row& row, int alias) {
  for (size_t i = 0; i < row.values.size(); ++i)
    if (row.values[i].empty() && static_cast<int>(i) != alias) return false;
  return true;
}

}  // namespace

namespace {

// The one table a simple INSERT, UPDATE or DELETE changes, or "" when the
// statement may change any (then every table is read).
std::string target_table(const std::string& sql) {
  std::istringstream in(sql);
  std::string first, second, name;
  in >> first;
  for (char& c : first) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (first == "UPDATE") {
    in >> name;
  } else if (first == "INSERT" || first == "DELETE") {
    in >> second >> name;
  }
  name = name.substr(0, name.find_first_of("( "));
  const bool simple = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
  return simple ? name : std::string();
}

}  // namespace

void run_recorded(sqlite3* db, const std::vector<std::string>& statements, ground_truth* truth) {
  for (const std::string& sql : statements) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      ADD_FAILURE() << "SQLite: " << (message ? message : "?") << " in " << sql.substr(0, 200);
      sqlite3_free(message);
    }
    std::vector<std::string> tables{"sqlite_master"};
    const std::string target = target_table(sql);
    if (!target.empty()) {
      tables = {target};
      // AUTOINCREMENT keeps its counters in sqlite_sequence.
      sqlite3_stmt* probe = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_sequence", -1, &probe, nullptr) == SQLITE_OK)
        tables.push_back("sqlite_sequence");
      sqlite3_finalize(probe);
    } else {
      for (const std::string& line : handle_lines(db, "sqlite_master")) {
        const std::vector<std::string> f = split_line(line);
        if (f.size() > 4 && f[1] == "T:table" && f[4] != "I:0") tables.push_back(f[2].substr(2));
      }
    }
    for (const std::string& table : tables)
      for (std::string& line : handle_lines(db, table)) truth->versions[table].insert(std::move(line));
  }
}

namespace {

// A printed index entry: its values are the indexed columns of a version of
// its table with its rowid. False when no version held them, or when the
// row is live with them (the live entry explains it).
bool entry_true(const deep_csv_row& row, const std::vector<int>& columns,
                const std::vector<std::vector<std::string>>& versions, const std::vector<std::string>& live) {
  if (row.values.size() != columns.size()) return false;
  bool held = false;
  for (const std::vector<std::string>& version : versions) {
    if (version[0] != row.rowid) continue;
    bool same = true;
    for (size_t i = 0; i < columns.size() && same; ++i) {
      const std::string v = canonical_field(row.values[i]);
      same = static_cast<size_t>(columns[i]) + 1 < version.size() && (v == "U:" || v == version[columns[i] + 1]);
    }
    if (!same) continue;
    std::string line = version[0];
    for (size_t k = 1; k < version.size(); ++k) line += "|" + version[k];
    if (std::binary_search(live.begin(), live.end(), line)) return false;
    held = true;
  }
  return held;
}

}  // namespace

recovery_score score_recovery(const ground_truth& truth,
                              const std::map<std::string, std::vector<std::string>>& live,
                              const std::vector<deep_csv_row>& rows, const std::string& file,
                              const survival_layout& layout) {
  recovery_score score;
  std::map<std::string, std::vector<std::vector<std::string>>> split;
  for (const auto& [table, lines] : truth.versions)
    for (const std::string& line : lines) split[table].push_back(split_line(line));
  std::set<std::pair<std::string, size_t>> full_hits, any_hits;
  for (const deep_csv_row& row : rows) {
    if (row.status == "live") continue;
    const auto index = layout.indexes.find(row.table);
    if (index != layout.indexes.end()) {
      ++score.index_entries;
      const auto now = live.find(index->second.first);
      if (!entry_true(row, index->second.second, split[index->second.first],
                      now == live.end() ? std::vector<std::string>{} : now->second)) {
        ++score.false_entries;
        std::string text = "entry " + row.table + " " + row.reading + " " + row.rowid;
        for (const std::string& v : row.values) text += "|" + canonical_field(v);
        score.false_lines.push_back(text);
      }
      continue;
    }
    if (!row.has_table) {
      ++score.without_table;
      // A record of no table holds a version's values in record order (the
      // rowid alias as NULL): anything else is an index entry or a fragment.
      bool known = false;
      for (const auto& [table, versions] : split) {
        const auto alias_of = layout.rowid_alias.find(table);
        const int alias = alias_of == layout.rowid_alias.end() ? -1 : alias_of->second;
        for (const std::vector<std::string>& version : versions) {
          if (version.size() != row.values.size() + 1) continue;
          bool same = true;
          for (size_t i = 0; i < row.values.size() && same; ++i) {
            const std::string v = canonical_field(row.values[i]);
            same = v == "U:" || v == version[i + 1] || (static_cast<int>(i) == alias && v == "NULL");
          }
          known = known || same;
        }
      }
      if (!known) {
        ++score.false_without_table;
        score.false_lines.push_back("record of no table at page " + std::to_string(row.page));
      }
      continue;
    }
    const auto& versions = split[row.table];
    const auto alias_of = layout.rowid_alias.find(row.table);
    const int alias = alias_of == layout.rowid_alias.end() ? -1 : alias_of->second;
    bool matched = false, old = false;
    const auto now = live.find(row.table);
    for (size_t i = 0; i < versions.size(); ++i) {
      if (!matches(row, versions[i])) continue;
      matched = true;
      any_hits.insert({row.table, i});
      std::string line = versions[i][0];
      for (size_t k = 1; k < versions[i].size(); ++k) line += "|" + versions[i][k];
      old = old || now == live.end() || !std::binary_search(now->second.begin(), now->second.end(), line);
      if (!whole(row, alias)) continue;
      if (!full_hits.insert({row.table, i}).second) {
        ++score.duplicates;
        score.false_lines.push_back("duplicate: " + row.table + " " + row.source + " p" + std::to_string(row.page));
      }
    }
    // A row cut short that only a live row matches is a stale copy of it.
    if (matched && !old && !whole(row, alias)) {
      ++score.duplicates;
      score.false_lines.push_back("part of a live row: " + row.table + " " + row.source + " p" + std::to_string(row.page));
    }
    const bool guess = row.reading == "inferred";
    score.inferred += guess;
    if (!matched) {
      // A wrong row read on an assumption is what the assumption risks;
      // a wrong cell or rebuilt row is a fault.
      if (guess) {
        ++score.false_inferred;
        continue;
      }
      ++score.false_records;
      std::string text = row.table + " " + row.source + " " + row.reading + " p" + std::to_string(row.page) + " " + row.rowid;
      for (const std::string& v : row.values) text += "|" + canonical_field(v);
      score.false_lines.push_back(text);
    }
  }
  for (const auto& [table, versions] : split) {
    const auto now = live.find(table);
    for (size_t i = 0; i < versions.size(); ++i) {
      std::string line = versions[i][0];
      for (size_t k = 1; k < versions[i].size(); ++k) line += "|" + versions[i][k];
      const bool is_live = now != live.end() && std::binary_search(now->second.begin(), now->second.end(), line);
      if (is_live) {
        if (full_hits.count({table, i})) {
          ++score.duplicates;
          score.false_lines.push_back("printed as deleted though live: " + table + " " + line.substr(0, 80));
        }
        continue;
      }
      if (layout.partial_by_design.count(table)) continue;
      ++score.old_versions;
      const bool full = full_hits.count({table, i}) != 0;
      score.full += full;
      score.partial += !full && any_hits.count({table, i});
      if (!survives(table, line, file, layout)) continue;
      ++score.surviving;
      score.full_of_surviving += full;
      if (!full) score.missed_lines.push_back(table + " " + line.substr(0, 120));
    }
  }
  return score;
}
