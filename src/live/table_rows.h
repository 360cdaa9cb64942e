// The live rows of one table: the visitor that the b-tree walk hands each
// record cell of the table's tree.
#pragma once
#include "live/btree_walk.h"
#include "logs/pending.h"
#include "live/row_emitter.h"
#include "deep/row_memory.h"
#include "schema/table_def.h"

// The file a live row's bytes lie in: `btree` for a page of the database
// file, `wal` or `journal` for a page image the current state reads from a
// log (a hot journal's images are the rolled-back pages).
inline row_source live_source(const btree_page& page) {
  switch (page.origin) {
    case page_origin::wal: return row_source::wal;
    case page_origin::journal: return row_source::journal;
    default: return row_source::btree;
  }
}

class table_rows : public cell_visitor {
 public:
  table_rows(table_def* table, int32_t index, row_emitter* emitter, note_log* notes,
             row_memory* memory, const pending_writes* pending = nullptr)
      : table_(table), index_(index), emitter_(emitter), notes_(notes), memory_(memory), pending_(pending) {}
  void visit(const record_cell& cell) override;

 private:
  void remember(const record_cell& c, bool has_rowid);
  table_def* table_;
  int32_t index_;
  row_emitter* emitter_;
  note_log* notes_;
  row_memory* memory_;
  const pending_writes* pending_;  // of a transaction that never committed, or null
};

// Widens a table whose statement could not be parsed to n columns (c1..cn).
void widen_unparsed(table_def* table, size_t n);
