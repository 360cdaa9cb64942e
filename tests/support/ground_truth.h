// The ground truth of a test database: every version of every row that the
// database ever held, recorded by reading all tables after each statement,
// and how the deep mode's output compares with it.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/deep_output.h"

struct ground_truth {
  // Table name -> canonical lines (rowid|values, as sqlite_lines) ever held.
  std::map<std::string, std::set<std::string>> versions;
};

// Runs the statements one by one on the open database, reading every table
// (sqlite_master included) after each. A test failure on an SQL error.
void run_recorded(sqlite3* db, const std::vector<std::string>& statements, ground_truth* truth);

struct recovery_score {
  size_t old_versions = 0;   // versions no longer live
  size_t surviving = 0;      // of those, whose record bytes are all in the file
  size_t full = 0;           // printed with every value (the rowid may be empty)
  size_t partial = 0;        // printed with some values left empty
  size_t full_of_surviving = 0;
  size_t false_records = 0;  // printed as cell or rebuilt, matching no version ever held
  size_t false_inferred = 0; // printed as inferred, matching no version ever held
  size_t inferred = 0;       // rows printed as inferred
  size_t duplicates = 0;     // a version printed twice, or a live row printed as deleted
  size_t without_table = 0;  // printed with an empty table field
  size_t false_without_table = 0;  // of those, records of no version of any table
  size_t index_entries = 0;  // printed under an index's name
  // Index entries that no version of their table held, or that the live
  // row (or a row printed whole) explains.
  size_t false_entries = 0;
  std::vector<std::string> false_lines;
  std::vector<std::string> missed_lines;  // surviving, not printed whole
};

// What the survival check needs to encode a version as the library stored it.
struct survival_layout {
  int usable = 4096;
  std::string encoding = "UTF-8";
  std::map<std::string, int> rowid_alias;            // table -> alias column (0-based)
  std::map<std::string, std::set<int>> real_columns;  // table -> REAL-affinity columns
  std::set<std::string> without_rowid;                // tables without a rowid column in the lines
  // Tables whose deleted rows may lose a value the schema cannot rebuild
  // (an untyped first column whose serial type a freeblock header
  // overwrote): they count for precision, not for the yield.
  std::set<std::string> partial_by_design;
  // Index name -> its table and the indexed columns (0-based).
  std::map<std::string, std::pair<std::string, std::vector<int>>> indexes;
};

// Scores the deep mode's rows against the truth. `live` holds the
// database's live lines per table; `file` the database's bytes.
recovery_score score_recovery(const ground_truth& truth,
                              const std::map<std::string, std::vector<std::string>>& live,
                              const std::vector<deep_csv_row>& rows, const std::string& file,
                              const survival_layout& layout);
