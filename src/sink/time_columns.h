// Columns that hold times, and their values as ISO 8601 UTC.
//
// A column is decoded when its name suggests a time (see
// time_name_suggests) and every live value of it is an integer or a real
// (NULLs aside, at least one value) that falls, in exactly one of the
// epochs below, between 1990-01-01 and 2040-01-01 (UTC). The epochs counted
// from 2001 are taken from 2006 on only: before that their values are those
// of the other units (a count of Unix seconds is a few seconds after 2001
// in nanoseconds), and no column would ever fit exactly one epoch.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <condition_variable>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "format/value.h"
#include "schema/table_def.h"

enum class time_epoch : uint8_t {
  none,
  unix_seconds,
  unix_milliseconds,
  unix_microseconds,
  unix_nanoseconds,
  cocoa_seconds,      // seconds since 2001-01-01 (Apple)
  cocoa_nanoseconds,  // nanoseconds since 2001-01-01 (Apple)
  webkit,             // microseconds since 1601-01-01 (WebKit, Chrome)
  filetime,           // 100-nanosecond units since 1601-01-01 (Windows)
  julian_day,         // days since noon of 4714-11-24 BC (proleptic Gregorian)
};

const char* epoch_name(time_epoch epoch);

// True for a column name that suggests a time. The name is split into
// words (at every character that is not an ASCII letter or digit, and where
// an upper-case letter follows a lower-case one: createdAt is created, at),
// compared without regard to case. A word that holds date, time, stamp,
// created, modified, updated, changed, deleted, seen, visit, accessed or
// expir, a word that is ts, sent, received, start, end or when, or a last
// word at or on after another (posted_at, paid_on) suggests a time.
bool time_name_suggests(std::string_view name);

// The live values of one column so far.
struct time_probe {
  bool numeric = true;   // no text or blob seen
  bool any = false;      // at least one number seen
  double low = 0, high = 0;
  void add(const value_view& v);
  // The one epoch that fits every value, or none.
  time_epoch epoch() const;
  // True once no epoch can fit whatever values follow: a value that is not
  // a number was seen, or no epoch fits the range so far (it only widens).
  bool hopeless() const;

 private:
  // How many epochs fit every value so far; *found is one of them.
  int fitting(time_epoch* found) const;
};

// ISO 8601 UTC ("2021-03-04T05:06:07Z", with the fraction the value holds:
// up to 9 digits) of a number in the epoch; false for a value that is not
// a number or falls outside years 1 to 9999.
bool format_time(const value_view& v, time_epoch epoch, std::string* out);
// The same text written at `out`, which has room for time_text_max bytes;
// returns its end, or null.
constexpr size_t time_text_max = 32;
char* format_time(const value_view& v, time_epoch epoch, char* out);

// The decoded columns of every table, by table. They are found on a thread
// of their own (deep/time_probe.h) while the rows of other tables are
// printed: a table announced with expect() is waited for by of() until
// set() or done().
class time_columns {
 public:
  // The epoch of each column (none for most), or null when the table has
  // no time column.
  const std::vector<time_epoch>* of(const table_def* table) const;
  void expect(const table_def* table);
  void set(const table_def* table, std::vector<time_epoch> epochs);
  // Ends every wait: the tables still expected have no time column.
  void done();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::unordered_set<const table_def*> expected_;
  std::unordered_map<const table_def*, std::vector<time_epoch>> tables_;
};
