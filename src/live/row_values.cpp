#include "live/row_values.h"

value_view schema_value(const sql_value& value) {
  value_view v{};
  v.kind = value.kind;
  v.integer = value.integer;
  v.real = value.real;
  v.bytes = byte_view(reinterpret_cast<const uint8_t*>(value.bytes.data()), value.bytes.size());
  return v;
}

void table_row_values(const table_def& table, std::span<const value_view> record, bool has_rowid,
                      int64_t rowid, std::vector<value_view>* out) {
  out->clear();
  if (!table.parsed) {
    out->assign(record.begin(), record.end());
    return;
  }
  out->assign(table.columns.size(), unknown_value());
  const size_t stored = table.storage_order.size();
  for (size_t j = 0; j < stored; ++j) {
    const uint32_t column = table.storage_order[j];
    if (column >= out->size()) continue;
    const column_def& def = table.columns[column];
    value_view v = j < record.size() ? record[j] : schema_value(def.default_value);
    if (def.column_affinity == affinity::real && v.kind == value_kind::integer)
      v = real_value(static_cast<double>(v.integer));
    (*out)[column] = v;
  }
  if (table.rowid_column >= 0 && static_cast<size_t>(table.rowid_column) < out->size())
    (*out)[table.rowid_column] = has_rowid ? integer_value(rowid) : unknown_value();
}
