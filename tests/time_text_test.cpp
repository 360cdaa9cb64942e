// The decoded times' text (the JSON Lines' "utc") against the library's own
// strftime of the same stored value, for every epoch, over the whole range
// of years that can be written (1 to 9999, before and after 1970), and no
// text where the instant falls outside it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>
#include <string>

#include "sink/export_times.h"
#include "sink/time_columns.h"

namespace {

// The library's text of v in the epoch (the export's view computes it so),
// or "" for NULL.
std::string library_time(sqlite3* db, const value_view& v, time_epoch epoch) {
  const std::string sql = "WITH t(x) AS (VALUES(?1)) SELECT " + time_sql("x", epoch) + " FROM t";
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  if (v.kind == value_kind::integer) sqlite3_bind_int64(st, 1, v.integer);
  else sqlite3_bind_double(st, 1, v.real);
  std::string text;
  if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL)
    text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  return text;
}

struct epoch_case {
  time_epoch epoch;
  double per_second;  // units per second
  double zero;        // Unix seconds of the epoch's zero
  bool reals;         // also stored as reals
};

constexpr double min_seconds = -62135596800.0;  // 0001-01-01
constexpr double max_seconds = 253402300799.0;  // 9999-12-31T23:59:59

}  // namespace

TEST(TimeText, EveryEpochWritesTheLibrarysTextFromYear1To9999) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  const epoch_case cases[] = {
      {time_epoch::unix_seconds, 1, 0, true},
      {time_epoch::unix_milliseconds, 1e3, 0, true},
      {time_epoch::unix_microseconds, 1e6, 0, false},
      {time_epoch::unix_nanoseconds, 1e9, 0, false},
      {time_epoch::cocoa_seconds, 1, 978307200, true},
      {time_epoch::webkit, 1e6, -11644473600, false},
      {time_epoch::filetime, 1e7, -11644473600, false},
  };
  std::mt19937_64 random(7);
  for (const epoch_case& c : cases) {
    // Values whose instant lies within years 1 to 9999 (nanoseconds only
    // reach 1677 to 2262 in 64 bits), and the edges of that range.
    const double low = std::max(min_seconds, -9.2e18 / c.per_second + c.zero);
    const double high = std::min(max_seconds, 9.2e18 / c.per_second + c.zero);
    std::uniform_real_distribution<double> seconds(low, high);
    std::vector<value_view> values;
    for (int k = 0; k < 400; ++k) {
      const double s = k == 0 ? low : k == 1 ? high : k < 40 ? std::floor(seconds(random) / 86400) * 86400 : seconds(random);
      const int64_t units = static_cast<int64_t>((s - c.zero) * c.per_second) + (k > 1 ? static_cast<int64_t>(random() % 1000) : 0);
      values.push_back(integer_value(units));
      if (c.reals && k > 1 && k < 200) values.push_back(real_value(static_cast<double>(units) + 0.25 * (k % 4)));
    }
    for (const value_view& v : values) {
      char text[time_text_max];
      char* end = format_time(v, c.epoch, text);
      ASSERT_NE(end, nullptr) << epoch_name(c.epoch) << " " << v.integer << " " << v.real;
      EXPECT_EQ(std::string(text, end ? static_cast<size_t>(end - text) : 0), library_time(db, v, c.epoch))
          << epoch_name(c.epoch) << " " << v.integer << " " << v.real;
    }
  }
  sqlite3_close(db);
}

TEST(TimeText, InstantsOutsideYears1To9999AndOtherValuesHaveNoText) {
  struct no_text {
    value_view value;
    time_epoch epoch;
  };
  const no_text cases[] = {
      {integer_value(-62135596801), time_epoch::unix_seconds},  // 0000-12-31T23:59:59
      {integer_value(253402300800), time_epoch::unix_seconds},  // 10000-01-01
      {integer_value(253402300800000), time_epoch::unix_milliseconds},
      {real_value(1e300), time_epoch::unix_seconds},
      {real_value(1721425.0), time_epoch::julian_day},
      {real_value(5373484.5), time_epoch::julian_day},
      {null_value(), time_epoch::unix_seconds},
      {integer_value(1500000000), time_epoch::none},
  };
  for (const no_text& c : cases) {
    char text[time_text_max];
    EXPECT_EQ(format_time(c.value, c.epoch, text), nullptr) << epoch_name(c.epoch) << " " << c.value.integer;
    std::string out = "kept";
    EXPECT_FALSE(format_time(c.value, c.epoch, &out));
    EXPECT_EQ(out, "kept");
  }
}
