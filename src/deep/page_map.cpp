#include "deep/page_map.h"

const char* page_role_name(page_role role) {
  switch (role) {
    case page_role::unreached: return "unreached";
    case page_role::table_interior: return "table interior";
    case page_role::table_leaf: return "table leaf";
    case page_role::index_interior: return "index interior";
    case page_role::index_leaf: return "index leaf";
    case page_role::overflow: return "overflow";
    case page_role::freelist_trunk: return "freelist trunk";
    case page_role::freelist_leaf: return "freelist leaf";
    case page_role::pointer_map: return "pointer map";
    case page_role::lock_byte: return "lock byte";
  }
  return "";
}
