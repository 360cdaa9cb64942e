#include "deep/facts_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* encoding_word(text_encoding encoding) {
  switch (encoding) {
    case text_encoding::utf16le: return "UTF-16le";
    case text_encoding::utf16be: return "UTF-16be";
    default: return "UTF-8";
  }
}

// How a log was read: not at all, applied, or searched as another's.
const char* log_word(const side_file& side, bool foreign) {
  if (!side.used()) return "none";
  return foreign ? "foreign" : "used";
}

// A note on one line: tabs and line feeds made spaces.
std::string one_line(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return text;
}

}  // namespace

bool write_facts_file(const deep_state& s, const row_counter& counter, const char* path) {
  FILE* out = fopen(path, "wx");
  if (!out) {
    fprintf(stderr, "ERROR: Cannot create '%s' ( %s )\n", path, strerror(errno));
    return false;
  }
  size_t tables = 0;
  for (size_t i = 1; i < s.db_schema.tables.size(); ++i) tables += !s.db_schema.tables[i].virtual_table;
  const std::array<uint64_t, 4> rows = counter.by_status();
  fprintf(out, "page_size\t%u\nencoding\t%s\ntables\t%zu\n", s.header.page_size,
          encoding_word(s.header.encoding), tables);
  fprintf(out, "live\t%llu\ndeleted\t%llu\nsuperseded\t%llu\nuncommitted\t%llu\n",
          static_cast<unsigned long long>(rows[0]), static_cast<unsigned long long>(rows[1]),
          static_cast<unsigned long long>(rows[2]), static_cast<unsigned long long>(rows[3]));
  fprintf(out, "wal\t%s\njournal\t%s\n", log_word(s.logs.wal_side, s.logs.wal_foreign),
          log_word(s.logs.journal_side, s.logs.journal_foreign));
  for (const std::string& text : s.notes.kept) fprintf(out, "note\t%s\n", one_line(text).c_str());
  if (s.notes.suppressed) fprintf(out, "note\t%llu more notes\n", static_cast<unsigned long long>(s.notes.suppressed));
  const bool ok = fflush(out) == 0 && !ferror(out);
  return fclose(out) == 0 && ok;
}
