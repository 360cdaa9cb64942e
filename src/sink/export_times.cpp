#include "sink/export_times.h"

#include <sqlite3.h>

#include "sink/export_names.h"
#include "sink/export_table.h"

namespace {

struct unit_sql {
  time_epoch epoch;
  const char* per_second;
  const char* zero;
  int digits;
};

constexpr unit_sql units[] = {
    {time_epoch::unix_seconds, "1", "0", 0},
    {time_epoch::unix_milliseconds, "1000", "0", 3},
    {time_epoch::unix_microseconds, "1000000", "0", 6},
    {time_epoch::unix_nanoseconds, "1000000000", "0", 9},
    {time_epoch::cocoa_seconds, "1", "978307200", 0},
    {time_epoch::cocoa_nanoseconds, "1000000000", "978307200", 9},
    {time_epoch::webkit, "1000000", "-11644473600", 6},
    {time_epoch::filetime, "10000000", "-11644473600", 7},
};

std::vector<std::string> column_names(sqlite3* db, const std::string& table) {
  std::vector<std::string> names;
  statement_ptr info = prepare_kept(db, "SELECT name FROM pragma_table_info(?)");
  if (!info) return names;
  sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(info.get()) == SQLITE_ROW)
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0)));
  return names;
}

}  // namespace

std::string time_sql(const std::string& c, time_epoch epoch) {
  if (epoch == time_epoch::julian_day)
    return "CASE WHEN typeof(" + c + ") IN ('integer','real') THEN strftime('%Y-%m-%dT%H:%M:%fZ'," + c + ") END";
  for (const unit_sql& u : units) {
    if (u.epoch != epoch) continue;
    const std::string d = u.per_second, part = "((" + c + " % " + d + ") + " + d + ") % " + d;
    std::string whole = "strftime('%Y-%m-%dT%H:%M:%S',(" + c + " - " + part + ") / " + d + " + " + u.zero +
                        ",'unixepoch')";
    if (u.digits > 0) whole += " || printf('.%0" + std::to_string(u.digits) + "d'," + part + ")";
    return "CASE typeof(" + c + ") WHEN 'integer' THEN " + whole + " || 'Z' WHEN 'real' THEN strftime('%Y-%m-%dT%H:%M:%fZ'," +
           c + " / " + d + ".0 + " + u.zero + ",'unixepoch') END";
  }
  return "NULL";
}

bool create_time_view(sqlite3* db, const std::string& table, const std::string& view, size_t fixed,
                      const std::vector<time_epoch>& epochs) {
  const std::vector<std::string> names = column_names(db, table);
  name_set taken;
  for (const std::string& name : names) taken.claim(name);
  std::string select;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string column = quote_identifier(names[i]);
    select += (i ? "," : "") + column;
    const size_t value = i - fixed;
    if (i < fixed || value >= epochs.size() || epochs[value] == time_epoch::none) continue;
    select += "," + time_sql(column, epochs[value]) + " AS " + quote_identifier(taken.claim(names[i] + "_utc"));
  }
  return exec_sql(db, "CREATE VIEW " + quote_identifier(view) + " AS SELECT " + select + " FROM " +
                          quote_identifier(table));
}
