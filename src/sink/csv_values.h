// The CSV form of a row, shared by standard output and --out-dir's files:
//   [table,]status,source,reading,page,offset,rowid,value1,value2,...
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "shared/run_options.h"
#include "sink/row_sink.h"

void append_integer(std::string* out, int64_t value);

// s in double quotes, an inner quote doubled.
void append_quoted(std::string* out, std::string_view s);

// The shortest decimal form that reads back to the same double, always with
// a '.' or an exponent; "Inf" and "-Inf" for the infinities.
void append_real(std::string* out, double value);

class csv_values {
 public:
  // opt supplies the blob settings (--no-blobs, --blob-size-limit=).
  explicit csv_values(const run_options* opt) : opt_(opt) {}
  // The row's line, with the table's name first when with_table.
  void append_row(std::string* out, const deep_row& row, bool with_table);

 private:
  void value(std::string* out, const value_view& v, std::string_view file);
  void blob(std::string* out, byte_view bytes, std::string_view file);

  const run_options* opt_;
  std::string scratch_;
};
