#include "sink/sqlite_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "sink/export_bind.h"
#include "sink/export_times.h"
#include "sink/publish.h"

namespace {

constexpr std::array<std::string_view, 10> row_columns{
    "sarvek_status", "sarvek_source",      "sarvek_reading", "sarvek_reading_note", "sarvek_page",
    "sarvek_offset", "sarvek_rowid",       "sarvek_unrecovered", "sarvek_commit",   "sarvek_pending"};
constexpr std::array<std::string_view, 11> lost_columns{
    "sarvek_status", "sarvek_source", "sarvek_reading",     "sarvek_reading_note", "sarvek_page", "sarvek_offset",
    "sarvek_rowid",  "sarvek_fields", "sarvek_unrecovered", "sarvek_commit",       "sarvek_pending"};

const char* pending_name(row_pending pending) {
  switch (pending) {
    case row_pending::deleted: return "delete";
    case row_pending::updated: return "update";
    default: return nullptr;
  }
}

// The names of the values that could not be recovered, each in double
// quotes (an inner quote doubled), separated by commas; empty when none.
void unrecovered_names(const deep_row& row, std::string* out) {
  out->clear();
  for (size_t i = 0; i < row.values.size(); ++i) {
    if (row.values[i].kind != value_kind::unknown) continue;
    const std::string name = row.table && i < row.table->columns.size() ? row.table->columns[i].name
                                                                          : "c" + std::to_string(i);
    if (!out->empty()) *out += ',';
    *out += '"';
    for (char c : name) *out += c == '"' ? std::string("\"\"") : std::string(1, c);
    *out += '"';
  }
}

// A fresh file that nothing reads before the end: a rollback journal in
// memory (the one transaction can still roll back), one sync at the
// commit, no locking between statements. Everything after BEGIN is one
// transaction, the export's own tables included.
constexpr char setup_sql[] =
    "PRAGMA journal_mode=MEMORY; PRAGMA synchronous=NORMAL; PRAGMA locking_mode=EXCLUSIVE;"
    "PRAGMA cache_size=-8192; PRAGMA auto_vacuum=NONE; PRAGMA encoding='UTF-8'; BEGIN;"
    "CREATE TABLE sarvek_pages(page, role, owner, free_bytes, rows_recovered);"
    "CREATE TABLE sarvek_summary(\"table\", status, source, rows);"
    "CREATE TABLE sarvek_notes(note);"
    "CREATE TABLE sarvek_blobs(\"table\", key, \"column\", file, size, sha256, media_type);"
    "CREATE TABLE sarvek_run(version, database_path, database_size, database_sha256, encoding,"
    " page_size, options, started, finished, wal_path, wal_size, wal_sha256, journal_path,"
    " journal_size, journal_sha256);";

bool step_done(sqlite3_stmt* statement) {
  const int rc = sqlite3_step(statement);
  sqlite3_reset(statement);
  return rc == SQLITE_DONE;
}

}  // namespace

std::unique_ptr<sqlite_sink> sqlite_sink::open(const std::string& path) {
  // An existing name, a symbolic link included, is refused at once; the
  // final no-replace rename refuses one that appears during the run. The
  // rows are written to a new file beside it, created exclusively with mode
  // 0600 under a name no other run uses, and renamed to the export's name
  // only once complete: a run that fails or is killed leaves no export.
  std::string partial, error;
  if (!create_partial(path, &partial, &error)) {
    fprintf(stderr, "ERROR: Cannot create export file '%s' ( %s )\n", path.c_str(), error.c_str());
    return nullptr;
  }
  std::unique_ptr<sqlite_sink> sink(new sqlite_sink(path, partial));
  if (!sink->start()) {
    fprintf(stderr, "ERROR: Cannot open export file '%s' ( %s )\n", path.c_str(),
            sink->error_.c_str());
    return nullptr;
  }
  return sink;
}

bool sqlite_sink::start() {
  // The library may read a name beginning with "file:" as a URI naming
  // another file; a relative path read from "./" names the file created.
  const std::string open_name = partial_.starts_with('/') ? partial_ : "./" + partial_;
  const int rc = sqlite3_open_v2(open_name.c_str(), &db_,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (rc != SQLITE_OK) {
    error_ = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  column_limit_ = static_cast<uint32_t>(sqlite3_limit(db_, SQLITE_LIMIT_COLUMN, -1));
  if (!exec_sql(db_, setup_sql)) return fail();
  for (const char* name : {"sarvek_pages", "sarvek_run", "sarvek_frames", "sarvek_commits", "sarvek_extra_values",
                           "sarvek_summary", "sarvek_notes", "sarvek_blobs"})
    table_names_.claim(name);
  pages_ = prepare_kept(db_, "INSERT INTO sarvek_pages VALUES(?,?,?,?,?)");
  counts_ = prepare_kept(db_, "INSERT INTO sarvek_summary VALUES(?,?,?,?)");
  notes_ = prepare_kept(db_, "INSERT INTO sarvek_notes VALUES(?)");
  blobs_ = prepare_kept(db_, "INSERT INTO sarvek_blobs VALUES(?,?,?,?,?,?,?)");
  if (!pages_ || !counts_ || !notes_ || !blobs_) return fail();
  lost_ = &tables_.emplace_back();
  lost_->name = table_names_.claim("lost_and_found");
  lost_->first_number = 0;
  if (!create_export_table(db_, lost_, lost_columns, {}, column_limit_)) return fail();
  return true;
}

bool sqlite_sink::fail() {
  if (error_.empty()) error_ = db_ ? sqlite3_errmsg(db_) : "out of memory";
  return false;
}

sqlite_sink::~sqlite_sink() {
  close_db();
  discard_partial();
}

void sqlite_sink::discard_partial() {
  if (!partial_.empty()) unlink(partial_.c_str());
  partial_.clear();
}

// Gives the complete file the export's name, never replacing a file that
// took that name meanwhile.
bool sqlite_sink::publish() {
  if (!publish_file(partial_, path_, &error_)) return false;
  partial_.clear();
  return true;
}

void sqlite_sink::close_db() {
  // Statements first: the connection closes only when none is left. An
  // open transaction is rolled back.
  last_def_ = nullptr;
  last_table_ = lost_ = nullptr;
  by_def_.clear();
  in_order_.clear();
  tables_.clear();
  pages_.reset();
  counts_.reset();
  notes_.reset();
  blobs_.reset();
  frames_.reset();
  commits_.reset();
  extra_values_.reset();
  if (db_ && sqlite3_close(db_) != SQLITE_OK) {
    fail();
    sqlite3_close_v2(db_);
  }
  db_ = nullptr;
}

export_table* sqlite_sink::table_for(const table_def& def) {
  if (&def == last_def_) return last_table_;
  auto found = by_def_.find(&def);
  if (found == by_def_.end()) {
    export_table* table = &tables_.emplace_back();
    table->name = table_names_.claim(source_table_name(def.name));
    std::vector<std::string> names;
    names.reserve(def.columns.size());
    for (const column_def& column : def.columns) names.push_back(column.name);
    if (!create_export_table(db_, table, row_columns, names, column_limit_)) {
      fail();
      return nullptr;
    }
    found = by_def_.emplace(&def, table).first;
    in_order_.emplace_back(&def, table);
  }
  last_def_ = &def;
  last_table_ = found->second;
  return last_table_;
}

void sqlite_sink::table(const table_def& def) {
  if (!failed() && !finished_) table_for(def);
}

void sqlite_sink::row(const deep_row& row) {
  if (failed() || finished_) return;
  export_table* table = row.table ? table_for(*row.table) : lost_;
  if (!table) return;
  const size_t count = row.values.size();
  if (count > table->values && table->fixed + table->values < column_limit_) {
    const size_t room = column_limit_ - table->fixed;
    if (!widen_export_table(db_, table, static_cast<uint32_t>(std::min(count, room)))) {
      fail();
      return;
    }
  }
  sqlite3_stmt* insert = table->insert.get();
  bind_fixed(insert, row, table == lost_);
  if (scratch_.size() < table->values) scratch_.resize(table->values);
  for (uint32_t i = 0; i < table->values; ++i) {
    const int index = static_cast<int>(table->fixed + i + 1);
    int rc = i < count ? bind_value(insert, index, row.values[i], &scratch_[i])
                       : sqlite3_bind_null(insert, index);
    if ((rc & 0xFF) == SQLITE_TOOBIG) {
      fprintf(stderr,
              "sarvek: export: value %u of the row at offset %llu is longer than the export"
              " database allows; stored as NULL\n",
              i, static_cast<unsigned long long>(row.offset));
      rc = sqlite3_bind_null(insert, index);
    }
    if (rc != SQLITE_OK) {
      fail();
      return;
    }
  }
  const int rc = sqlite3_step(insert);
  sqlite3_reset(insert);
  if ((rc & 0xFF) == SQLITE_TOOBIG) {
    fprintf(stderr,
            "sarvek: export: the row at offset %llu is longer than the export database allows;"
            " not exported\n",
            static_cast<unsigned long long>(row.offset));
    return;
  }
  if (rc != SQLITE_DONE || (count > table->values && !store_extra_values(*table, row))) fail();
}

// The sarvek_ columns before the values.
void sqlite_sink::bind_fixed(sqlite3_stmt* insert, const deep_row& row, bool lost) {
  sqlite3_bind_text(insert, 1, status_name(row.status), -1, SQLITE_STATIC);
  sqlite3_bind_text(insert, 2, source_name(row.source), -1, SQLITE_STATIC);
  sqlite3_bind_text(insert, 3, reading_name(row.reading), -1, SQLITE_STATIC);
  if (row.reading_note)
    sqlite3_bind_text(insert, 4, row.reading_note, -1, SQLITE_STATIC);
  else
    sqlite3_bind_null(insert, 4);
  sqlite3_bind_int64(insert, 5, row.page);
  sqlite3_bind_int64(insert, 6, static_cast<sqlite3_int64>(row.offset));
  if (row.has_rowid)
    sqlite3_bind_int64(insert, 7, row.rowid);
  else
    sqlite3_bind_null(insert, 7);
  int at = 8;
  if (lost) sqlite3_bind_int64(insert, at++, static_cast<sqlite3_int64>(row.values.size()));
  unrecovered_names(row, &unrecovered_);
  sqlite3_bind_text64(insert, at++, unrecovered_.data(), unrecovered_.size(), SQLITE_STATIC, SQLITE_UTF8);
  if (row.commit >= 0)
    sqlite3_bind_int64(insert, at++, row.commit);
  else
    sqlite3_bind_null(insert, at++);
  if (const char* pending = pending_name(row.pending))
    sqlite3_bind_text(insert, at, pending, -1, SQLITE_STATIC);
  else
    sqlite3_bind_null(insert, at);
}

bool sqlite_sink::store_extra_values(const export_table& table, const deep_row& row) {
  const sqlite3_int64 rowid = sqlite3_last_insert_rowid(db_);
  if (!extra_values_) {
    if (!exec_sql(db_, "CREATE TABLE sarvek_extra_values(table_name, table_rowid, field, value)"))
      return false;
    extra_values_ = prepare_kept(db_, "INSERT INTO sarvek_extra_values VALUES(?,?,?,?)");
    if (!extra_values_) return false;
  }
  sqlite3_stmt* insert = extra_values_.get();
  if (scratch_.empty()) scratch_.resize(1);
  for (size_t i = table.values; i < row.values.size(); ++i) {
    if (sqlite3_bind_text64(insert, 1, table.name.data(), table.name.size(), SQLITE_STATIC,
                            SQLITE_UTF8) != SQLITE_OK ||
        sqlite3_bind_int64(insert, 2, rowid) != SQLITE_OK ||
        sqlite3_bind_int64(insert, 3, static_cast<sqlite3_int64>(i)) != SQLITE_OK ||
        bind_value(insert, 4, row.values[i], &scratch_[0]) != SQLITE_OK || !step_done(insert))
      return false;
  }
  return true;
}

void sqlite_sink::page(const page_summary& page) {
  if (failed() || finished_) return;
  sqlite3_stmt* insert = pages_.get();
  if (scratch_.empty()) scratch_.resize(1);
  sqlite3_bind_int64(insert, 1, page.page);
  if (page.role)
    sqlite3_bind_text(insert, 2, page.role, -1, SQLITE_STATIC);
  else
    sqlite3_bind_null(insert, 2);
  if (page.owner.empty())
    sqlite3_bind_null(insert, 3);
  else
    bind_utf8(insert, 3, page.owner, &scratch_[0]);
  sqlite3_bind_int64(insert, 4, page.free_bytes);
  sqlite3_bind_int64(insert, 5, page.rows_recovered);
  if (!step_done(insert)) fail();
}

void sqlite_sink::frame(const frame_summary& frame) {
  if (failed() || finished_) return;
  if (!frames_) {
    if (!exec_sql(db_,
                  "CREATE TABLE sarvek_frames(frame, offset, page, commit_size, salt1,"
                  " salt2, valid, used, commit_number)")) {
      fail();
      return;
    }
    frames_ = prepare_kept(db_, "INSERT INTO sarvek_frames VALUES(?,?,?,?,?,?,?,?,?)");
    if (!frames_) {
      fail();
      return;
    }
  }
  sqlite3_stmt* insert = frames_.get();
  sqlite3_bind_int64(insert, 1, frame.frame);
  sqlite3_bind_int64(insert, 2, static_cast<sqlite3_int64>(frame.offset));
  sqlite3_bind_int64(insert, 3, frame.page);
  sqlite3_bind_int64(insert, 4, frame.commit_size);
  sqlite3_bind_int64(insert, 5, frame.salt1);
  sqlite3_bind_int64(insert, 6, frame.salt2);
  sqlite3_bind_int(insert, 7, frame.valid);
  sqlite3_bind_int(insert, 8, frame.used);
  if (frame.no_commit)
    sqlite3_bind_text(insert, 9, frame.no_commit, -1, SQLITE_STATIC);
  else
    sqlite3_bind_int64(insert, 9, frame.commit);
  if (!step_done(insert)) fail();
}

void sqlite_sink::commit(const commit_summary& commit) {
  if (failed() || finished_) return;
  if (!commits_) {
    if (!exec_sql(db_, "CREATE TABLE sarvek_commits(commit_number, first_frame, last_frame, salt1, salt2, pages)") ||
        !(commits_ = prepare_kept(db_, "INSERT INTO sarvek_commits VALUES(?,?,?,?,?,?)"))) {
      fail();
      return;
    }
  }
  sqlite3_stmt* insert = commits_.get();
  sqlite3_bind_int64(insert, 1, commit.commit);
  for (int i = 2; i <= 5; ++i) sqlite3_bind_null(insert, i);
  if (commit.commit != 0) {
    sqlite3_bind_int64(insert, 2, commit.first_frame);
    sqlite3_bind_int64(insert, 3, commit.last_frame);
    sqlite3_bind_int64(insert, 4, commit.salt1);
    sqlite3_bind_int64(insert, 5, commit.salt2);
  }
  sqlite3_bind_int64(insert, 6, commit.pages);
  if (!step_done(insert)) fail();
}

void sqlite_sink::count(const table_count& count) {
  if (failed() || finished_) return;
  if (scratch_.empty()) scratch_.resize(1);
  sqlite3_stmt* insert = counts_.get();
  if (count.table)
    bind_utf8(insert, 1, count.table->name, &scratch_[0]);
  else
    sqlite3_bind_null(insert, 1);
  sqlite3_bind_text(insert, 2, status_name(count.status), -1, SQLITE_STATIC);
  sqlite3_bind_text(insert, 3, source_name(count.source), -1, SQLITE_STATIC);
  sqlite3_bind_int64(insert, 4, static_cast<sqlite3_int64>(count.rows));
  if (!step_done(insert)) fail();
}

void sqlite_sink::blob(const blob_summary& blob) {
  if (failed() || finished_) return;
  if (scratch_.size() < 3) scratch_.resize(3);
  sqlite3_stmt* insert = blobs_.get();
  if (blob.table)
    bind_utf8(insert, 1, blob.table->name, &scratch_[0]);
  else
    sqlite3_bind_null(insert, 1);
  bind_utf8(insert, 2, blob.key, &scratch_[1]);
  bind_utf8(insert, 3, blob.column, &scratch_[2]);
  if (blob.file.empty())
    sqlite3_bind_null(insert, 4);
  else
    sqlite3_bind_text64(insert, 4, blob.file.data(), blob.file.size(), SQLITE_STATIC, SQLITE_UTF8);
  sqlite3_bind_int64(insert, 5, static_cast<sqlite3_int64>(blob.size));
  sqlite3_bind_text64(insert, 6, blob.sha256.data(), blob.sha256.size(), SQLITE_STATIC, SQLITE_UTF8);
  sqlite3_bind_text64(insert, 7, blob.media_type.data(), blob.media_type.size(), SQLITE_STATIC, SQLITE_UTF8);
  if (!step_done(insert)) fail();
}

void sqlite_sink::note(std::string_view text) {
  if (failed() || finished_) return;
  if (scratch_.empty()) scratch_.resize(1);
  bind_utf8(notes_.get(), 1, text, &scratch_[0]);
  if (!step_done(notes_.get())) fail();
}

bool sqlite_sink::write_run(const run_facts& facts) {
  statement_ptr insert =
      prepare_kept(db_, "INSERT INTO sarvek_run VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  if (!insert) return fail();
  sqlite3_stmt* s = insert.get();
  int rc = bind_exact(s, 1, facts.version) | bind_exact(s, 5, facts.encoding) |
           sqlite3_bind_int64(s, 6, facts.page_size) | bind_exact(s, 7, facts.options) |
           bind_exact(s, 8, facts.started) | bind_exact(s, 9, facts.finished);
  // path, size, sha256 of each role; the parameters not bound stay NULL.
  constexpr std::array<std::pair<std::string_view, int>, 3> roles{
      {{"database", 2}, {"wal", 10}, {"journal", 13}}};
  std::array<bool, roles.size()> seen{};
  for (const input_file_facts& file : facts.files) {
    size_t r = 0;
    while (r < roles.size() && roles[r].first != file.role) ++r;
    if (r == roles.size() || seen[r]) {
      error_ = "no place in sarvek_run for an input file of role '" + file.role + "'";
      return false;
    }
    seen[r] = true;
    const int at = roles[r].second;
    rc |= bind_exact(s, at, file.path) |
          sqlite3_bind_int64(s, at + 1, static_cast<sqlite3_int64>(file.size));
    if (!file.sha256.empty()) rc |= bind_exact(s, at + 2, file.sha256);
  }
  if (rc != SQLITE_OK) return fail();
  return step_done(s) || fail();
}

bool sqlite_sink::write_time_views() {
  if (!times_) return true;
  for (const auto& [def, table] : in_order_) {
    const std::vector<time_epoch>* epochs = times_->of(def);
    if (epochs && !create_time_view(db_, table->name, table_names_.claim(table->name + "_times"), table->fixed, *epochs))
      return fail();
  }
  return true;
}

int sqlite_sink::finish(const run_facts& facts) {
  if (finished_) return 1;
  finished_ = true;
  if (!failed() && write_time_views() && write_run(facts) && !exec_sql(db_, "COMMIT")) fail();
  close_db();
  if (!failed()) publish();
  discard_partial();
  if (failed()) {
    fprintf(stderr, "ERROR: Cannot write export file '%s' ( %s )\n", path_.c_str(), error_.c_str());
    return 1;
  }
  return 0;
}
