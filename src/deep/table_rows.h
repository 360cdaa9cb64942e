// The live rows of one table: the visitor that the b-tree walk hands each
// record cell of the table's tree.
#pragma once
#include "deep/btree_walk.h"
#include "deep/row_emitter.h"
#include "deep/row_memory.h"
#include "schema/table_def.h"

// `btree` for a page of the database file, `wal` for a page image from the log.
inline row_source live_source(const btree_page& page) {
  return page.origin == page_origin::wal ? row_source::wal : row_source::btree;
}

class table_rows : public cell_visitor {
 public:
  table_rows(table_def* table, int32_t index, row_emitter* emitter, note_log* notes,
             row_memory* memory)
      : table_(table), index_(index), emitter_(emitter), notes_(notes), memory_(memory) {}
  void visit(const record_cell& cell) override;

 private:
  table_def* table_;
  int32_t index_;
  row_emitter* emitter_;
  note_log* notes_;
  row_memory* memory_;
};

// Widens a table whose statement could not be parsed to n columns (c1..cn).
void widen_unparsed(table_def* table, size_t n);
