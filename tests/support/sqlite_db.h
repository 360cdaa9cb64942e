// Test databases made by the real SQLite library, and scratch folders.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A fresh empty folder under the system's temporary folder, removed with the
// object.
struct scratch_dir {
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  std::string path;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

// Creates (or replaces) the database at path and runs the SQL script on it.
// Secure delete is switched off first, so deleted records stay in the file;
// a page size and bytes reserved at the end of every page, given here, are
// set before the first table. Fails the current test (ADD_FAILURE) on any
// SQLite error.
void make_db(const std::string& path, const std::string& sql,
             int page_size = 4096, int reserved_bytes = 0);

// Runs more SQL on an existing database (secure delete off).
void exec_db(const std::string& path, const std::string& sql);

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
void write_file(const std::string& path, const std::string& bytes);
