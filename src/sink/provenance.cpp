#include "sink/provenance.h"

provenance_values provenance_of(const deep_row& row) {
  provenance_values fields;
  fields[0].text = status_name(row.status);
  fields[1].text = source_name(row.source);
  fields[2].text = reading_name(row.reading);
  fields[3].number = row.page;
  fields[4].number = static_cast<int64_t>(row.offset);
  fields[5].number = row.rowid;
  fields[5].present = row.has_rowid;
  return fields;
}
