#include "sink/csv_format.h"

#include "sink/provenance.h"

void csv_format::header(std::string* out, const table_def* table, size_t fields) {
  bool first = true;
  for (std::string_view name : provenance_names) {
    if (!first) out->push_back(',');
    first = false;
    out->append(name);
  }
  if (table) {
    for (const column_def& column : table->columns) {
      out->push_back(',');
      append_csv_name(out, column.name);
    }
  } else {
    for (size_t i = 0; i < fields; ++i) out->append(",c" + std::to_string(i));
  }
  out->push_back('\n');
}
