// The log files of a run: the write-ahead log, laid over the database as its
// current state, and the rollback journal (a hot journal is rolled back, as
// the library would on opening: its images are the current state of their
// pages). Every page image the current state does not use is an older one:
// its cells are the rows of its time.
#pragma once
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "logs/pending.h"
#include "logs/side_files.h"
#include "format/journal.h"
#include "format/payload.h"
#include "format/wal.h"
#include "sink/row_sink.h"

// An image of a page that the current state does not read.
struct older_image {
  uint32_t page;            // its page number
  page_ref ref;             // its bytes, file and offset
  bool rows;                // its cells are rows of their time (else only carved)
  row_status status;        // of those rows: superseded or uncommitted
  row_source source;        // wal, journal or btree (a database page)
  const page_reader* time;  // the pages as they were then, for overflow chains
};

struct log_state {
  side_file wal_side, journal_side;
  wal_log wal;
  journal_file journal;
  page_store base;           // the database file alone
  bool wal_applied = false;
  bool journal_rolled_back = false;
  // The log is another database's: not applied, its images searched as
  // free space of no page.
  bool wal_foreign = false;
  bool journal_foreign = false;
  // (page, frame index) of every valid frame, sorted: the pages of a time.
  std::vector<std::pair<uint32_t, uint32_t>> frames_by_page;
  std::vector<std::unique_ptr<page_reader>> readers;
  std::vector<older_image> older;
};

struct deep_state;

// Reads the logs the options name or that lie beside the database and lays
// them over the store; a non-null view is read instead of its file. False
// after an "ERROR: " line when a named file cannot be read.
bool open_logs(deep_state* s, byte_view wal_image = {}, byte_view journal_image = {});

// Lists the older images, in the order they are searched: log frames in
// file order, journal records in file order, database pages the current
// state replaced.
void list_older_images(deep_state* s);

// The pages a transaction that never committed wrote, each with its newest
// image: the frames of this generation after the last commit, or the
// database pages whose old images a hot journal holds, as they lie in the
// file. None when the state is read as of an earlier commit.
void find_pending_writes(const deep_state& s, pending_writes* out);

void close_logs(log_state* logs);
