// Whether a log belongs to the database beside it, judged from what both
// hold: the journal mode the database's header records, the page size, and
// the log's image of page 1 against the database's header (the fields that
// never change once a database holds a schema, and the change counter,
// which only grows).
#pragma once
#include <string>

#include "format/bytes.h"
#include "format/journal.h"
#include "format/wal.h"

// False, with the reason (a phrase) in *why, when the write-ahead log
// cannot be this database's. `db` is the database file.
bool wal_fits(byte_view db, const wal_log& log, std::string* why);

// The same for a rollback journal; `hot` when its first header is synced
// (its transaction never finished).
bool journal_fits(byte_view db, const journal_file& journal, bool hot, std::string* why);
