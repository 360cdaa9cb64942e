// The database's schema: the rows of sqlite_master and the tables they define.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "schema/table_def.h"

enum class object_type : uint8_t { table, index, view, trigger, other };

struct schema_object {
  object_type type = object_type::other;
  std::string name;
  std::string table_name;  // tbl_name
  uint32_t root_page = 0;  // 0 for views, triggers and virtual tables
  std::string sql;         // UTF-8
  bool sql_cut = false;    // a later write overwrote the statement's end: sql holds what survives
  int table = -1;          // index into schema::tables for tables, else -1
};

struct schema {
  std::vector<schema_object> objects;
  // Tables by index, sqlite_master first; a deque, so that references stay
  // valid as tables are added (tables recovered from deleted schema rows
  // come later).
  std::deque<table_def> tables;
};

// The definition of sqlite_master itself: type, name, tbl_name, rootpage, sql.
const table_def& sqlite_master_table();
