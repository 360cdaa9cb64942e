// JSON Lines: one JSON object per row, on one line:
//   {"table":"t","status":"live","source":"btree","page":2,"offset":8023,
//    "rowid":1,"values":{"id":1,"name":"Ann","pic":{"type":"blob","base64":"iVBO"}},
//    "unrecovered":["col"],"times":{"created":{"epoch":"unix seconds","utc":"2021-03-04T05:06:07Z"}}}
// Values keep their types: integers and reals as JSON numbers (a real
// always with '.' or an exponent, in the shortest form that reads back
// exactly), integers beyond 2^53 (which a double cannot hold exactly) and
// non-finite reals as strings, texts as strings, NULL as null, blobs as an
// object {"type":"blob","base64":...,"size":N} ({"type":"blob","file":...,
// "size":N} for a blob file, {"type":"blob","size":N} with --no-blobs or
// when its file could not be written). A text that is
// not valid UTF-8 is {"type":"text","base64":...} of its bytes. A value
// that was not recovered is left out of "values" and named in
// "unrecovered". Records of no table have "table":null and values c0, c1, ...
//
// The escaping is written here rather than with a JSON library: a library's
// document per row would allocate for every row and value, and the output
// must keep pace with the CSV stream.
#pragma once
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "shared/run_options.h"
#include "sink/dir_sink.h"
#include "sink/time_columns.h"

// Appends s as a JSON string (valid UTF-8 assumed).
void append_json_string(std::string* out, std::string_view s);

// A line written through a raw pointer: room(n) gives n writable bytes at
// the end, put(end) marks them written. The buffer only grows, so a run
// allocates no more once it holds its longest line.
struct line_writer {
  std::string buffer;  // size(): the room; used: the bytes written
  size_t used = 0;
  char* room(size_t n) {
    if (buffer.size() - used < n) grow(n);
    return buffer.data() + used;
  }
  void put(const char* end) { used = static_cast<size_t>(end - buffer.data()); }
  void text(std::string_view s) {
    char* at = room(s.size());
    if (!s.empty()) std::memcpy(at, s.data(), s.size());
    used += s.size();
  }
  std::string_view view() const { return {buffer.data(), used}; }

 private:
  void grow(size_t n);
};

class json_format final : public table_format {
 public:
  // times: the decoded time columns, or null.
  json_format(const run_options* opt, const time_columns* times) : opt_(opt), times_(times) {}
  std::string_view extension() const override { return "jsonl"; }
  bool has_header() const override { return false; }
  void header(std::string* out, const table_def* table, size_t fields) override {
    (void)out, (void)table, (void)fields;
  }
  void row(std::string* out, const deep_row& row) override;

 private:
  struct table_keys {
    std::string head;                  // {"table":"name"
    std::vector<std::string> columns;  // ,"column": (the comma left out before the first value)
    std::vector<time_epoch> epochs;    // by column; empty when none
    std::vector<std::string> times;    // "column":{"epoch":"...","utc":"
  };
  void value(const value_view& v, std::string_view file);
  void values(const deep_row& row, const table_keys& keys);
  void unrecovered(const deep_row& row, const table_keys& keys);
  void times(const deep_row& row, const table_keys& keys);
  const table_keys& keys_of(const table_def* table);
  std::string_view provenance_head(const deep_row& row);

  const run_options* opt_;
  const time_columns* times_;
  line_writer line_;
  std::string scratch_;
  std::unordered_map<const table_def*, table_keys> keys_;
  const table_def* last_table_ = nullptr;
  const table_keys* last_keys_ = nullptr;
  // ,"status":"...","source":"...","reading":"...","page": by the three
  // names' codes, made when first needed.
  std::vector<std::string> provenance_heads_;
};
