#include "logs/log_state.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "deep/deep_state.h"
#include "shared/progress.h"
#include "format/log_fit.h"

namespace {

// The pages as they were when frame `frame` was written: each page's newest
// valid frame up to it, else the database file's own page.
class frame_time : public page_reader {
 public:
  frame_time(const log_state* logs, uint32_t frame) : logs_(logs), frame_(frame) {}
  page_ref read(uint32_t number) const override {
    const auto& list = logs_->frames_by_page;
    auto it = std::upper_bound(list.begin(), list.end(), std::pair<uint32_t, uint32_t>{number, frame_});
    if (it != list.begin() && std::prev(it)->first == number) {
      const wal_frame& f = logs_->wal.frames[std::prev(it)->second - 1];
      return {f.image, page_origin::wal, f.offset + wal_frame_header_size};
    }
    return store_page(logs_->base, number);
  }

 private:
  const log_state* logs_;
  uint32_t frame_;
};

// The pages before the journal's transaction: the first image of each page
// in the journal, else the database file's own.
class journal_time : public page_reader {
 public:
  explicit journal_time(const log_state* logs) : logs_(logs) {}
  page_ref read(uint32_t number) const override {
    for (const journal_record& r : logs_->journal.records)
      if (r.page == number) return {r.image, page_origin::journal, r.offset};
    return store_page(logs_->base, number);
  }

 private:
  const log_state* logs_;
};

// A frame of this generation after the last commit belongs to a
// transaction left open, even where its checksum fails: the library
// rewrites a page spilled twice in place and mends the chain only when it
// commits.
bool this_generation(const wal_log& wal, const wal_frame& f) {
  return f.fault == wal_frame_fault::none ||
         ((f.fault == wal_frame_fault::checksum || f.fault == wal_frame_fault::after_break) &&
          f.salt1 == wal.header.salt1 && f.salt2 == wal.header.salt2);
}

void note_wal(deep_state* s) {
  const wal_log& wal = s->logs.wal;
  if (wal.conditions & (wal_bad_magic | wal_bad_version | wal_bad_header_checksum))
    note(&s->notes, "write-ahead log: its header is damaged; its frames are searched as free space");
  if (wal.conditions & wal_page_size_differs)
    note(&s->notes, "write-ahead log: its page size %u is not the database's; it is not applied",
         wal.header.page_size);
  if (wal.conditions & wal_chain_broken)
    note(&s->notes, "write-ahead log: the checksum chain breaks after frame %u; later frames are left-overs",
         wal.valid_frames);
  if (wal.conditions & wal_truncated_frame)
    note(&s->notes, "write-ahead log: the file ends inside a frame");
  if (wal.conditions & wal_page_out_of_range)
    note(&s->notes, "write-ahead log: a committed frame names a page past any sane size; left out");
  const auto unknown = std::count_if(wal.frames.begin(), wal.frames.end(),
                                     [](const wal_frame& f) { return !f.page_known; });
  if (unknown != 0)
    note(&s->notes, "write-ahead log: %zu frame(s) name page 0 or a page past any sane size; their images are searched as free space of no page",
         static_cast<size_t>(unknown));
}

// Rolls a hot journal back over the store, as the library does on opening:
// the records of its synced segments, each page's first image, and the
// database size before the transaction.
bool roll_back(deep_state* s) {
  const journal_file& journal = s->logs.journal;
  if (journal.segments.empty() || journal.segments[0].state != journal_header_state::synced ||
      journal.page_size != s->store.page_size)
    return false;
  page_store& store = s->store;
  const uint32_t limit = wal_page_limit(store.db, journal.file);
  const uint32_t pages = journal.segments[0].original_pages;
  if (pages == 0 || pages > limit) return false;
  std::vector<uint8_t> restored(pages, 0);
  if (store.overlay.size() < pages) store.overlay.resize(pages, page_ref{});
  for (const journal_segment& segment : journal.segments) {
    if (segment.state != journal_header_state::synced) break;
    for (uint32_t i = 0; i < segment.record_count; ++i) {
      const journal_record& r = journal.records[segment.first_record + i];
      if (!r.checksum_ok) break;
      if (!r.page_known || r.page == 0 || r.page > pages || restored[r.page - 1]) continue;
      restored[r.page - 1] = 1;
      store.overlay[r.page - 1] = {r.image, page_origin::journal, r.offset};
    }
  }
  store.overlay.resize(pages);
  store.page_count = pages;
  return true;
}

// Says why a log is not this database's. Such a log, beside the database
// or named by option, is never applied: its pages are read as free space.
bool foreign(deep_state* s, const char* what, const std::string& why) {
  note(&s->notes, "%s: it does not belong to this database: %s; it is not applied, and its pages are searched as free space of no page",
       what, why.c_str());
  return true;
}

void open_wal(deep_state* s) {
  log_state& logs = s->logs;
  logs.wal = read_wal(logs.wal_side.bytes(), s->store, s->opt->as_of);
  note_wal(s);
  std::string why;
  logs.wal_foreign = !wal_fits(logs.base.db, logs.wal, &why) && foreign(s, "write-ahead log", why);
  if (logs.wal_foreign) return;
  logs.wal_applied = apply_wal(logs.wal, &s->store);
  for (uint32_t i = 0; i < logs.wal.valid_frames; ++i)
    if (logs.wal.frames[i].page_known)
      logs.frames_by_page.push_back({logs.wal.frames[i].page, logs.wal.frames[i].index});
  std::sort(logs.frames_by_page.begin(), logs.frames_by_page.end());
}

void open_journal(deep_state* s) {
  log_state& logs = s->logs;
  logs.journal = read_journal(logs.journal_side.bytes(), s->store.page_size,
                              wal_page_limit(s->store.db, logs.journal_side.bytes()));
  if (logs.journal.conditions & journal_page_out_of_range)
    note(&s->notes, "rollback journal: a record names a page past any sane size; its image is searched as free space of no page");
  const bool hot = !logs.journal.segments.empty() &&
                   logs.journal.segments[0].state == journal_header_state::synced;
  std::string why;
  logs.journal_foreign = !journal_fits(logs.base.db, logs.journal, hot, &why) &&
                         foreign(s, "rollback journal", why);
  if (logs.journal_foreign) return;
  logs.journal_rolled_back = roll_back(s);
  if (logs.journal_rolled_back)
    note(&s->notes, "rollback journal: a transaction was interrupted; its changes are read as uncommitted");
}

// --as-of=N names a commit the log holds (0: the database file alone).
bool as_of_exists(deep_state* s) {
  const log_state& logs = s->logs;
  const uint64_t commits = logs.wal_foreign ? 0 : logs.wal.commit_frames.size();
  if (s->opt->as_of < 0 || static_cast<uint64_t>(s->opt->as_of) <= commits) return true;
  if (s->notes.out) progress_erase(s->notes.out);
  fprintf(stderr, "ERROR: --as-of=%lld: the write-ahead log holds %llu commits (0 is the database file alone)\n",
          static_cast<long long>(s->opt->as_of), static_cast<unsigned long long>(commits));
  return false;
}

}  // namespace

bool open_logs(deep_state* s, byte_view wal_image, byte_view journal_image) {
  log_state& logs = s->logs;
  const run_options* opt = s->opt;
  logs.base = s->store;
  if (wal_image.data()) {
    attach_side_file(wal_image, std::string(opt->input_file) + "-wal", &logs.wal_side);
  } else if (!open_side_file(opt->wal_file, opt->input_file, "-wal", "write-ahead log", &s->notes, &logs.wal_side)) {
    return false;
  }
  if (journal_image.data()) {
    attach_side_file(journal_image, std::string(opt->input_file) + "-journal", &logs.journal_side);
  } else if (!open_side_file(opt->journal_file, opt->input_file, "-journal", "rollback journal", &s->notes,
                             &logs.journal_side)) {
    return false;
  }
  if (logs.wal_side.used() && logs.wal_side.size != 0) open_wal(s);
  if (logs.journal_side.used() && logs.journal_side.size != 0) open_journal(s);
  return as_of_exists(s);
}

void list_older_images(deep_state* s) {
  log_state& logs = s->logs;
  for (const wal_frame& f : logs.wal.frames) {
    if ((f.used && logs.wal_applied) || f.future) continue;
    logs.readers.push_back(std::make_unique<frame_time>(&logs, f.index));
    // Frames of an older generation are only searched.
    const bool this_generation = ::this_generation(logs.wal, f);
    // A frame of no known page, or of a log that is not this database's,
    // is searched as free space only, as page 0.
    const bool known = f.page_known && !logs.wal_foreign;
    const bool rows = this_generation && known;
    const row_status status = f.committed ? row_status::superseded : row_status::uncommitted;
    logs.older.push_back({known ? f.page : 0, {f.image, page_origin::wal, f.offset + wal_frame_header_size},
                          rows, rows ? status : row_status::deleted, row_source::wal,
                          logs.readers.back().get()});
  }
  const page_store& current = s->store;
  if (!logs.journal_rolled_back && !logs.journal.records.empty()) {
    logs.readers.push_back(std::make_unique<journal_time>(&logs));
    for (const journal_record& r : logs.journal.records) {
      const bool known = r.page_known && !logs.journal_foreign;
      const bool rows = r.checksum_ok && known;
      logs.older.push_back({known ? r.page : 0, {r.image, page_origin::journal, r.offset}, rows,
                            rows ? row_status::superseded : row_status::deleted,
                            row_source::journal, logs.readers.back().get()});
    }
  }
  // Pages of the database file the current state reads from a log, or no
  // longer has: the log's images replaced them (superseded), or the rolled
  // back transaction wrote them (uncommitted).
  logs.readers.push_back(std::make_unique<store_reader>(logs.base));
  const row_status status = logs.journal_rolled_back ? row_status::uncommitted : row_status::superseded;
  for (uint32_t n = 1; n <= logs.base.page_count; ++n) {
    const bool replaced = n <= current.overlay.size() && !current.overlay[n - 1].bytes.empty();
    if (!replaced && n <= current.page_count) continue;
    logs.older.push_back({n, store_page(logs.base, n), true, status, row_source::btree,
                          logs.readers.back().get()});
  }
}

void find_pending_writes(const deep_state& s, pending_writes* out) {
  const log_state& logs = s.logs;
  std::map<uint32_t, byte_view> newest;
  if (logs.journal_rolled_back) {
    for (const journal_record& r : logs.journal.records)
      if (r.checksum_ok && r.page_known) newest[r.page] = store_page(logs.base, r.page).bytes;
  } else if (logs.wal_applied) {
    const wal_log& wal = logs.wal;
    for (uint32_t i = wal.committed_frames; i < wal.frames.size(); ++i) {
      const wal_frame& f = wal.frames[i];
      if (!f.future && f.page_known && this_generation(wal, f)) newest[f.page] = f.image;
    }
  }
  out->pages.assign(newest.begin(), newest.end());
  std::erase_if(out->pages, [](const auto& p) { return p.second.empty(); });
  index_pending_writes(out, s.store.usable);
}

void close_logs(log_state* logs) {
  close_side_file(&logs->wal_side);
  close_side_file(&logs->journal_side);
}
