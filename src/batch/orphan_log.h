// A log read without its database: a stand-in database file is made for
// the deep run, holding the log's own image of page 1 when it has one (the
// log is then read as the database's current state), else an empty page 1
// of the log's page size (the log's pages are then searched as free space).
#pragma once
#include <string>

// Writes the stand-in to `out`; false with *why when the log gives no page
// size. *how says which stand-in was made.
bool make_stand_in(const std::string& log_path, bool wal, const std::string& out, std::string* how,
                   std::string* why);
