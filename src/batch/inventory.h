// The inventory of a folder's run: one record per file seen, written as
// OUT/inventory.csv and as the table `files` of OUT/inventory.sqlite.
#pragma once
#include <string>
#include <vector>

struct inventory_record {
  std::string path;      // relative to the input folder
  std::string size;
  std::string mtime;
  std::string sha256;
  std::string kind;      // database, wal, journal, orphan log, skipped, failed
  std::string paired;    // the files read with it, ';' between them
  std::string page_size;
  std::string encoding;
  std::string tables;
  std::string live, deleted, superseded, uncommitted;
  std::string notes;     // '; ' between notes
  std::string error;
  std::string output;    // the output folder, relative to OUT
};

// The column names, in the order of the record's fields.
const std::vector<std::string>& inventory_columns();
std::vector<std::string> record_fields(const inventory_record& r);
inventory_record record_from_fields(const std::vector<std::string>& fields);

// Writes dir/inventory.csv (a header line, then the records as given) and
// dir/inventory.sqlite; false after an "ERROR: " line.
bool write_inventory(const std::string& dir, const std::vector<inventory_record>& records);

// Reads dir/inventory.csv back; false after an "ERROR: " line.
bool read_inventory(const std::string& dir, std::vector<inventory_record>* records);
