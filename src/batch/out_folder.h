// The batch's output folder: new or empty, never inside the evidence.
#pragma once
#include <string>

// Creates `out` (or takes an empty one); refuses a folder inside `input`
// (or `input` itself). False after an "ERROR: " line.
bool prepare_out_folder(const std::string& input, const std::string& out);

// Creates the folders above OUT/rel (rel's own folder is the child's).
bool make_parents(const std::string& out, const std::string& rel);
