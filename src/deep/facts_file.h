// The figures of one deep run written for the batch of a folder (the hidden
// --facts=FILE): "key<TAB>value" lines, one "note" line per note.
#pragma once
#include "deep/deep_state.h"
#include "sink/row_counter.h"

// Writes the facts; false after an "ERROR: " line when the file cannot be
// written.
bool write_facts_file(const deep_state& s, const row_counter& counter, const char* path);
