// Everything one deep-mode run shares between its stages: the file read as
// pages, the page map, the schema, the sinks and what is remembered of rows.
#pragma once
#include <vector>

#include "live/btree_walk.h"
#include "recover/free_pages.h"
#include "recover/index_entries.h"
#include "logs/log_state.h"
#include "deep/notes.h"
#include "deep/page_map.h"
#include "live/row_emitter.h"
#include "deep/row_memory.h"
#include "format/bytes.h"
#include "format/db_header.h"
#include "format/page_store.h"
#include "schema/schema.h"
#include "shared/run_options.h"
#include "shared/run_output.h"
#include "sink/fanout_sink.h"

struct deep_state {
  const run_options* opt = nullptr;
  run_output* out = nullptr;
  byte_view image;  // the database file
  db_header header{};
  page_store store{};
  page_map map;
  schema db_schema;
  note_log notes;
  walk_context walk{};
  row_emitter emitter;
  fanout_sink sinks;
  freelist_pages freelist;
  row_memory memory;
  index_state indexes;
  log_state logs;
  std::vector<uint32_t> table_roots;  // by table index (row_status.h)
};
