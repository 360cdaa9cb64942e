#include "batch/plan.h"

#include <algorithm>
#include <unordered_map>

namespace {

// FNV-1a, 64 bits: the same share on every machine.
uint64_t stable_hash(const std::string& text) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() > tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void add_note(inventory_record* r, const std::string& text) {
  r->notes += (r->notes.empty() ? "" : "; ") + text;
}

// A file that was not read as SQLite: skipped, failed, or a page-less log.
void plan_unread(planned_file* f) {
  inventory_record& r = f->record;
  switch (f->entry.type) {
    case entry_type::symlink:
      r.kind = "skipped";
      add_note(&r, "symbolic link to '" + f->entry.detail + "', not followed");
      return;
    case entry_type::special:
      r.kind = "skipped";
      add_note(&r, f->entry.detail + ", not opened");
      return;
    case entry_type::unreadable_dir:
      r.kind = "failed";
      r.error = f->entry.detail;
      return;
    case entry_type::regular:
      break;
  }
  if (!f->scan.read_ok) {
    r.kind = "failed";
    r.error = f->scan.error;
    return;
  }
  r.kind = "skipped";
  if (f->entry.size == 0) add_note(&r, "empty");
  else add_note(&r, "not an SQLite database, write-ahead log or rollback journal");
}

// A file that can be read as a log: a regular file read whole, not empty.
bool readable_file(const planned_file& f) {
  return f.entry.type == entry_type::regular && f.scan.read_ok && f.entry.size > 0;
}

// Pairs the database at index i with X-wal and X-journal beside it. A file
// so named is read as its log even without the log's magic (a persist-mode
// journal's header is zeroed): the deep run judges whether it belongs.
void pair_database(std::vector<planned_file>* files, const std::unordered_map<std::string, size_t>& by_path,
                   size_t i) {
  planned_file& db = (*files)[i];
  for (const bool wal : {true, false}) {
    const auto at = by_path.find(db.entry.rel + (wal ? "-wal" : "-journal"));
    if (at == by_path.end() || !readable_file((*files)[at->second])) continue;
    planned_file& log = (*files)[at->second];
    const content_kind expected = wal ? content_kind::wal : content_kind::journal;
    if (log.scan.content == content_kind::database) continue;
    log.record.kind = wal ? "wal" : "journal";
    log.record.paired = db.entry.rel;
    log.database = static_cast<int32_t>(i);
    if (log.scan.content != expected)
      add_note(&log.record, wal ? "no write-ahead log header; read as the database's log by its name"
                                : "no journal header (zeroed by persist mode, or damaged); read as the "
                                  "database's journal by its name");
    (wal ? db.wal : db.journal) = static_cast<int32_t>(at->second);
    db.record.paired += (db.record.paired.empty() ? "" : ";") + log.entry.rel;
  }
}

// The shared-memory index beside a database: listed with it, never read
// as rows.
void note_shm(std::vector<planned_file>* files, const std::unordered_map<std::string, size_t>& by_path, size_t i) {
  const auto at = by_path.find((*files)[i].entry.rel + "-shm");
  if (at == by_path.end()) return;
  planned_file& shm = (*files)[at->second];
  if (shm.record.kind != "skipped" || shm.entry.type != entry_type::regular) return;
  shm.record.paired = (*files)[i].entry.rel;
  shm.record.notes = "shared-memory index of the database's log; holds no rows";
}

}  // namespace

std::string log_base(const std::string& rel, const char** suffix) {
  for (const char* tail : {"-wal", "-journal", "-shm"})
    if (ends_with(rel, tail)) {
      if (suffix) *suffix = tail;
      return rel.substr(0, rel.size() - std::char_traits<char>::length(tail));
    }
  return {};
}

std::vector<tree_entry> shard_entries(std::vector<tree_entry> entries, uint32_t index, uint32_t count) {
  if (count <= 1) return entries;
  std::unordered_map<std::string, bool> present;
  for (const tree_entry& e : entries) present[e.rel] = true;
  std::vector<tree_entry> kept;
  for (tree_entry& e : entries) {
    const std::string base = log_base(e.rel);
    const std::string& key = !base.empty() && present.count(base) ? base : e.rel;
    if (stable_hash(key) % count == index) kept.push_back(std::move(e));
  }
  return kept;
}

void plan_files(std::vector<planned_file>* files) {
  std::unordered_map<std::string, size_t> by_path;
  for (size_t i = 0; i < files->size(); ++i) by_path[(*files)[i].entry.rel] = i;
  for (planned_file& f : *files) {
    f.record.path = f.entry.rel;
    const bool sqlite = f.entry.type == entry_type::regular && f.scan.read_ok && f.scan.content != content_kind::other;
    if (!sqlite) {
      plan_unread(&f);
    } else if (f.scan.content == content_kind::database) {
      f.record.kind = "database";
      f.run = true;
      if (f.scan.damaged_header) add_note(&f.record, "no SQLite header; page 1 reads as a schema page");
    }
  }
  for (size_t i = 0; i < files->size(); ++i)
    if ((*files)[i].run) {
      pair_database(files, by_path, i);
      note_shm(files, by_path, i);
    }
  for (planned_file& f : *files) {
    const bool log = f.scan.content == content_kind::wal || f.scan.content == content_kind::journal;
    if (!log || f.database >= 0 || f.entry.type != entry_type::regular || !f.scan.read_ok) continue;
    f.record.kind = "orphan log";
    f.run = f.orphan = true;
    add_note(&f.record, std::string(f.scan.content == content_kind::wal ? "write-ahead log" : "rollback journal") +
                            " without its database");
  }
}
