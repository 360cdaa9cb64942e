#include "sink/time_columns.h"

#include <array>
#include <cmath>
#include <cstring>

namespace {

constexpr double year_1990 = 631152000, year_2006 = 1136073600, year_2040 = 2208988800;
constexpr int64_t cocoa_offset = 978307200;     // 2001-01-01 in Unix seconds
constexpr int64_t windows_offset = -11644473600;  // 1601-01-01 in Unix seconds
constexpr int64_t julian_ms_at_unix_zero = 210866760000000;  // 1970-01-01 in Julian-day milliseconds

// An epoch as a unit (per second) and the Unix time of its zero.
struct epoch_unit {
  time_epoch epoch;
  int64_t per_second;
  int64_t zero;       // Unix seconds
  int digits;         // fraction digits of an integer value
  double from;        // Unix seconds where values begin to count
};

constexpr std::array<epoch_unit, 8> units{{
    {time_epoch::unix_seconds, 1, 0, 0, year_1990},
    {time_epoch::unix_milliseconds, 1000, 0, 3, year_1990},
    {time_epoch::unix_microseconds, 1000000, 0, 6, year_1990},
    {time_epoch::unix_nanoseconds, 1000000000, 0, 9, year_1990},
    {time_epoch::cocoa_seconds, 1, cocoa_offset, 0, year_2006},
    {time_epoch::cocoa_nanoseconds, 1000000000, cocoa_offset, 9, year_2006},
    {time_epoch::webkit, 1000000, windows_offset, 6, year_1990},
    {time_epoch::filetime, 10000000, windows_offset, 7, year_1990},
}};

const epoch_unit* unit_of(time_epoch epoch) {
  for (const epoch_unit& u : units)
    if (u.epoch == epoch) return &u;
  return nullptr;
}

double julian_of(double unix_seconds) { return unix_seconds / 86400.0 + 2440587.5; }

bool fits(time_epoch epoch, double low, double high) {
  if (epoch == time_epoch::julian_day) return low >= julian_of(year_1990) && high < julian_of(year_2040);
  const epoch_unit& u = *unit_of(epoch);
  const double scale = static_cast<double>(u.per_second);
  return low >= (u.from - static_cast<double>(u.zero)) * scale && high < (year_2040 - static_cast<double>(u.zero)) * scale;
}

// The decimal pairs 00 to 99.
constexpr std::array<char, 200> digit_pairs() {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}
constexpr std::array<char, 200> pairs = digit_pairs();

char* put_two(char* out, int64_t value) {
  std::memcpy(out, &pairs[2 * value], 2);
  return out + 2;
}

// `value` as exactly `digits` decimal digits (0 <= value < 10^digits).
char* put_digits(char* out, int64_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
  return out + digits;
}

// "YYYY-MM-DDTHH:MM:SS" of Unix seconds, or null outside years 1 to 9999.
// The date is the proleptic Gregorian calendar's, counted in eras of 400
// years that begin on March 1st (so that the leap day ends a year).
char* put_civil(char* out, int64_t seconds) {
  const int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  const int64_t rest = seconds - days * 86400;
  const int64_t z = days + 719468;  // days since 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t of_era = z - era * 146097;
  const int64_t year_of_era = (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
  const int64_t of_year = of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * of_year + 2) / 153;  // 0 is March
  const int64_t day = of_year - (153 * shifted_month + 2) / 5 + 1;
  const int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const int64_t year = year_of_era + era * 400 + (month <= 2);
  if (year < 1 || year > 9999) return nullptr;
  out = put_two(put_two(out, year / 100), year % 100);
  *out++ = '-';
  out = put_two(out, month);
  *out++ = '-';
  out = put_two(out, day);
  *out++ = 'T';
  out = put_two(out, rest / 3600);
  *out++ = ':';
  out = put_two(out, rest / 60 % 60);
  *out++ = ':';
  return put_two(out, rest % 60);
}

// Unix milliseconds to "...SS.mmmZ", rounded as the library's strftime %f.
char* put_milliseconds(char* out, int64_t ms) {
  const int64_t seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
  out = put_civil(out, seconds);
  if (!out) return nullptr;
  *out++ = '.';
  out = put_digits(out, ms - seconds * 1000, 3);
  *out++ = 'Z';
  return out;
}

}  // namespace

const char* epoch_name(time_epoch epoch) {
  switch (epoch) {
    case time_epoch::unix_seconds: return "unix seconds";
    case time_epoch::unix_milliseconds: return "unix milliseconds";
    case time_epoch::unix_microseconds: return "unix microseconds";
    case time_epoch::unix_nanoseconds: return "unix nanoseconds";
    case time_epoch::cocoa_seconds: return "seconds since 2001";
    case time_epoch::cocoa_nanoseconds: return "nanoseconds since 2001";
    case time_epoch::webkit: return "webkit microseconds";
    case time_epoch::filetime: return "windows filetime";
    case time_epoch::julian_day: return "julian day";
    case time_epoch::none: break;
  }
  return "none";
}

bool time_name_suggests(std::string_view name) {
  // Words split at every character that is not a letter or digit and
  // before an upper-case letter that follows a lower-case one.
  std::vector<std::string> words(1);
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    const bool upper = c >= 'A' && c <= 'Z';
    if (!alnum || (upper && i > 0 && name[i - 1] >= 'a' && name[i - 1] <= 'z'))
      if (!words.back().empty()) words.emplace_back();
    if (alnum) words.back().push_back(upper ? static_cast<char>(c - 'A' + 'a') : c);
  }
  if (words.back().empty()) words.pop_back();
  constexpr std::array<std::string_view, 12> parts{"date", "time", "stamp", "created", "modified", "updated",
                                                   "changed", "deleted", "seen", "visit", "accessed", "expir"};
  constexpr std::array<std::string_view, 6> whole{"ts", "sent", "received", "start", "end", "when"};
  for (const std::string& word : words) {
    for (std::string_view part : parts)
      if (word.find(part) != std::string::npos) return true;
    for (std::string_view w : whole)
      if (word == w) return true;
  }
  return words.size() > 1 && (words.back() == "at" || words.back() == "on");
}

void time_probe::add(const value_view& v) {
  double x = 0;
  if (v.kind == value_kind::integer) x = static_cast<double>(v.integer);
  else if (v.kind == value_kind::real) x = v.real;
  else if (v.kind == value_kind::null || v.kind == value_kind::unknown) return;
  else {
    numeric = false;
    return;
  }
  if (std::isnan(x)) numeric = false;
  low = any ? std::min(low, x) : x;
  high = any ? std::max(high, x) : x;
  any = true;
}

int time_probe::fitting(time_epoch* found) const {
  if (!numeric || !any) return 0;
  int count = 0;
  for (const epoch_unit& u : units)
    if (fits(u.epoch, low, high)) {
      *found = u.epoch;
      ++count;
    }
  if (fits(time_epoch::julian_day, low, high)) {
    *found = time_epoch::julian_day;
    ++count;
  }
  return count;
}

time_epoch time_probe::epoch() const {
  time_epoch found = time_epoch::none;
  return fitting(&found) == 1 ? found : time_epoch::none;
}

bool time_probe::hopeless() const {
  time_epoch found = time_epoch::none;
  return !numeric || (any && fitting(&found) == 0);
}

char* format_time(const value_view& v, time_epoch epoch, char* out) {
  if (v.kind != value_kind::integer && v.kind != value_kind::real) return nullptr;
  if (epoch == time_epoch::julian_day) {
    const double jd = v.kind == value_kind::real ? v.real : static_cast<double>(v.integer);
    if (!(jd >= 1721425.5 && jd < 5373484.5)) return nullptr;
    return put_milliseconds(out, static_cast<int64_t>(jd * 86400000.0 + 0.5) - julian_ms_at_unix_zero);
  }
  const epoch_unit* u = unit_of(epoch);
  if (!u) return nullptr;
  if (v.kind == value_kind::real) {
    const double seconds = v.real / static_cast<double>(u->per_second) + static_cast<double>(u->zero);
    if (!(std::fabs(seconds) < 3e11)) return nullptr;
    return put_milliseconds(
        out, static_cast<int64_t>(seconds * 1000.0 + static_cast<double>(julian_ms_at_unix_zero) + 0.5) -
                 julian_ms_at_unix_zero);
  }
  // Integers: the whole seconds and the fraction the unit holds, exactly.
  int64_t whole = v.integer / u->per_second, part = v.integer % u->per_second;
  if (part < 0) {
    whole -= 1;
    part += u->per_second;
  }
  if (whole > 300000000000 || whole < -300000000000) return nullptr;
  out = put_civil(out, whole + u->zero);
  if (!out) return nullptr;
  if (u->digits > 0) {
    *out++ = '.';
    out = put_digits(out, part, u->digits);
  }
  *out++ = 'Z';
  return out;
}

bool format_time(const value_view& v, time_epoch epoch, std::string* out) {
  char text[time_text_max];
  const char* end = format_time(v, epoch, text);
  if (end) out->append(text, static_cast<size_t>(end - text));
  return end != nullptr;
}

const std::vector<time_epoch>* time_columns::of(const table_def* table) const {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return expected_.count(table) == 0; });
  auto found = tables_.find(table);
  return found == tables_.end() ? nullptr : &found->second;
}

void time_columns::expect(const table_def* table) {
  std::lock_guard lock(mutex_);
  expected_.insert(table);
}

void time_columns::set(const table_def* table, std::vector<time_epoch> epochs) {
  {
    std::lock_guard lock(mutex_);
    if (!epochs.empty()) tables_[table] = std::move(epochs);
    expected_.erase(table);
  }
  changed_.notify_all();
}

void time_columns::done() {
  {
    std::lock_guard lock(mutex_);
    expected_.clear();
  }
  changed_.notify_all();
}
