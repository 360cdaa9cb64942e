#include "batch/batch_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "batch/child_run.h"
#include "batch/orphan_log.h"
#include "batch/out_folder.h"
#include "batch/plan.h"
#include "batch/workers.h"

namespace {

// Names at the top of OUT that a database's output folder may not take.
bool reserved_name(const std::string& rel) {
  return rel == "inventory.csv" || rel == "inventory.sqlite" || rel == ".sarvek-work";
}

unsigned worker_count(const run_options& opt) {
  if (opt.jobs > 0) return static_cast<unsigned>(opt.jobs);
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<unsigned>(n) : 1;
}

// The walk's facts of every file, before anything is read.
void fill_file_facts(planned_file* f) {
  inventory_record& r = f->record;
  r.path = f->entry.rel;
  if (f->entry.type == entry_type::unreadable_dir) return;
  r.size = std::to_string(f->entry.size);
  r.mtime = utc_time_text(f->entry.mtime_sec, f->entry.mtime_nsec);
}

// Copies the child's figures and notes into the database's record and its
// logs' records.
void record_child(const child_result& result, std::vector<planned_file>* files, planned_file* db) {
  inventory_record& r = db->record;
  auto fact = [&](const char* key) {
    const auto at = result.facts.find(key);
    return at == result.facts.end() ? std::string() : at->second;
  };
  r.page_size = fact("page_size");
  r.encoding = fact("encoding");
  r.tables = fact("tables");
  r.live = fact("live");
  r.deleted = fact("deleted");
  r.superseded = fact("superseded");
  r.uncommitted = fact("uncommitted");
  for (const std::string& note : result.notes) r.notes += (r.notes.empty() ? "" : "; ") + note;
  if (!result.ok) {
    r.kind = "failed";
    r.error = result.error;
  }
  for (const auto& [key, index] : {std::pair<const char*, int32_t>{"wal", db->wal}, {"journal", db->journal}}) {
    if (index < 0 || fact(key) != "foreign") continue;
    inventory_record& log = (*files)[index].record;
    log.notes += (log.notes.empty() ? "" : "; ") +
                 std::string("does not belong to the database; its pages are searched as its free space");
  }
}

// An orphan log is read as the log of a stand-in database made in the
// work folder; false (the file failed) when none can be made.
bool stand_in(const std::string& work, size_t i, planned_file* f, child_job* job) {
  const bool wal = f->scan.content == content_kind::wal;
  const std::string log = job->input;
  job->input = work + "/" + std::to_string(i) + ".base";
  std::string how, why;
  if (!make_stand_in(log, wal, job->input, &how, &why)) {
    f->record.error = why;
    return false;
  }
  (wal ? job->wal : job->journal) = log;
  f->record.notes += "; " + how;
  return true;
}

// The deep run of one database with its logs, then the check that none of
// them changed meanwhile.
void run_database(const run_options& opt, const std::string& work, size_t i, std::vector<planned_file>* files) {
  planned_file& f = (*files)[i];
  const std::string root = opt.input_file;
  const std::string out = opt.out_dir;
  if (reserved_name(f.entry.rel) || !make_parents(out, f.entry.rel)) {
    f.record.kind = "failed";
    f.record.error = "its output folder cannot be made under the output folder";
    return;
  }
  child_job job;
  job.input = root + "/" + f.entry.rel;
  job.wal = f.wal >= 0 ? root + "/" + (*files)[f.wal].entry.rel : "none";
  job.journal = f.journal >= 0 ? root + "/" + (*files)[f.journal].entry.rel : "none";
  if (f.orphan && !stand_in(work, i, &f, &job)) return;
  job.out_dir = out + "/" + f.entry.rel;
  job.facts = work + "/" + std::to_string(i) + ".facts";
  job.errors = work + "/" + std::to_string(i) + ".err";
  record_child(run_child(opt, job), files, &f);
  f.record.output = f.entry.rel;
  for (int32_t index : {static_cast<int32_t>(i), f.wal, f.journal}) {
    if (index < 0) continue;
    planned_file& read = (*files)[index];
    if (read.scan.changed || file_changed(root + "/" + read.entry.rel, read.entry))
      read.record.error = "the file changed while it was read: its outputs and SHA-256 may not agree";
  }
}

uint64_t total_bytes(const std::vector<planned_file>& files, bool databases_only) {
  uint64_t bytes = 0;
  for (const planned_file& f : files)
    if (!databases_only || f.run) bytes += f.entry.size;
  return bytes;
}

// Reads every regular file once: its hash and what its content is.
void scan_all(const run_options& opt, unsigned jobs, std::vector<planned_file>* files) {
  batch_progress progress("hashing", files->size(), total_bytes(*files, false), isatty(2) && !opt.quiet);
  parallel_for(files->size(), jobs, [&](size_t i) {
    planned_file& f = (*files)[i];
    fill_file_facts(&f);
    if (f.entry.type == entry_type::regular) {
      f.scan = scan_file(opt.input_file, f.entry);
      f.record.sha256 = f.scan.sha256;
    }
    progress.done(f.entry.size);
  });
  progress.end();
}

void run_all(const run_options& opt, unsigned jobs, const std::string& work, std::vector<planned_file>* files) {
  std::vector<size_t> runs;
  for (size_t i = 0; i < files->size(); ++i)
    if ((*files)[i].run) runs.push_back(i);
  batch_progress progress("reading", runs.size(), total_bytes(*files, true), isatty(2) && !opt.quiet);
  parallel_for(runs.size(), jobs, [&](size_t k) {
    run_database(opt, work, runs[k], files);
    progress.done((*files)[runs[k]].entry.size);
  });
  progress.end();
}

}  // namespace

bool input_is_folder(const run_options& opt) {
  struct stat st{};
  return opt.input_file && stat(opt.input_file, &st) == 0 && S_ISDIR(st.st_mode);
}

bool check_single_file_options(const run_options& opt) {
  if (opt.jobs == 0 && !opt.shard_text) return true;
  fprintf(stderr, "ERROR: %s needs a folder as input\n", opt.jobs != 0 ? "-j" : "--shard=");
  return false;
}

int batch_main(const run_options* opt) {
  if (!opt->out_dir) {
    fputs("ERROR: A folder as input needs --out-dir=\n", stderr);
    return 1;
  }
  if (opt->xlsx_file || opt->as_of_text || opt->wal_file || opt->journal_file) {
    fputs("ERROR: A folder as input does not combine with --xlsx=, --as-of=, --wal= or --journal=\n", stderr);
    return 1;
  }
  std::vector<tree_entry> entries;
  if (!walk_tree(opt->input_file, &entries)) {
    fprintf(stderr, "ERROR: Cannot read the folder '%s' ( %s )\n", opt->input_file, strerror(errno));
    return 1;
  }
  if (!prepare_out_folder(opt->input_file, opt->out_dir)) return 1;
  const std::string work = std::string(opt->out_dir) + "/.sarvek-work";
  if (mkdir(work.c_str(), 0700) != 0) {
    fprintf(stderr, "ERROR: Cannot create '%s' ( %s )\n", work.c_str(), strerror(errno));
    return 1;
  }
  std::vector<planned_file> files;
  for (tree_entry& e : shard_entries(std::move(entries), opt->shard_index, opt->shard_count))
    files.push_back({std::move(e), {}, {}});
  const unsigned jobs = worker_count(*opt);
  scan_all(*opt, jobs, &files);
  plan_files(&files);
  run_all(*opt, jobs, work, &files);
  std::error_code ec;
  std::filesystem::remove_all(work, ec);
  std::vector<inventory_record> records;
  bool failed = false;
  for (const planned_file& f : files) {
    records.push_back(f.record);
    failed = failed || !f.record.error.empty();
  }
  if (!write_inventory(opt->out_dir, records)) return 1;
  if (!opt->quiet)
    fprintf(stderr, "sarvek: %zu files listed in '%s/inventory.csv'%s\n", records.size(), opt->out_dir,
            failed ? "; some could not be read (see its error column)" : "");
  return failed ? 2 : 0;
}
