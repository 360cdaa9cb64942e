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

// Pairs the log at index i with its database by name, when the name and
// both contents agree.
void pair_log(std::vector<planned_file>* files, const std::unordered_map<std::string, size_t>& by_path, size_t i) {
  planned_file& f = (*files)[i];
  const char* suffix = nullptr;
  const std::string base = log_base(f.entry.rel, &suffix);
  const auto at = base.empty() ? by_path.end() : by_path.find(base);
  const bool wal = f.scan.content == content_kind::wal;
  const bool named_right = at != by_path.end() && std::string(suffix) == (wal ? "-wal" : "-journal");
  if (!named_right || (*files)[at->second].scan.content != content_kind::database) {
    f.record.kind = "orphan log";
    add_note(&f.record, std::string(wal ? "write-ahead log" : "rollback journal") + " without its database");
    return;
  }
  planned_file& db = (*files)[at->second];
  f.record.kind = wal ? "wal" : "journal";
  f.record.paired = db.entry.rel;
  f.database = static_cast<int32_t>(at->second);
  (wal ? db.wal : db.journal) = static_cast<int32_t>(i);
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
  for (size_t i = 0; i < files->size(); ++i) {
    planned_file& f = (*files)[i];
    f.record.path = f.entry.rel;
    const bool sqlite = f.entry.type == entry_type::regular && f.scan.read_ok && f.scan.content != content_kind::other;
    if (!sqlite) plan_unread(&f);
    else if (f.scan.content == content_kind::database) {
      f.record.kind = "database";
      f.run = true;
      if (f.scan.damaged_header) add_note(&f.record, "no SQLite header; page 1 reads as a schema page");
    } else {
      pair_log(files, by_path, i);
    }
  }
  for (planned_file& f : *files) {
    if (f.run) {
      for (int32_t log : {f.wal, f.journal})
        if (log >= 0) f.record.paired += (f.record.paired.empty() ? "" : ";") + (*files)[log].entry.rel;
      continue;
    }
    const char* suffix = nullptr;
    const std::string base = log_base(f.entry.rel, &suffix);
    const auto at = base.empty() ? by_path.end() : by_path.find(base);
    if (at == by_path.end() || !(*files)[at->second].run || f.record.kind != "skipped" ||
        f.entry.type != entry_type::regular)
      continue;
    f.record.paired = base;
    add_note(&f.record, std::string(suffix) == "-shm" ? "shared-memory index of the log; holds no rows"
                                                      : "named as a log of the database but is not one");
  }
}
