#include "live/btree_walk.h"

#include <algorithm>

#include "shared/progress.h"
#include "format/cell.h"

namespace {

// Claims overflow pages for the cell's owner as the chain goes.
class overflow_claim : public overflow_gate {
 public:
  overflow_claim(walk_context* walk, int32_t owner) : walk_(walk), owner_(owner) {}
  bool enter(uint32_t page) override { return claim_page(walk_, page, page_role::overflow, owner_); }

 private:
  walk_context* walk_;
  int32_t owner_;
};

page_role role_of(uint8_t type) {
  switch (type) {
    case page_table_interior: return page_role::table_interior;
    case page_table_leaf: return page_role::table_leaf;
    case page_index_interior: return page_role::index_interior;
    default: return page_role::index_leaf;
  }
}

const char* damage_text(payload_damage damage) {
  switch (damage) {
    case payload_damage::page_out_of_range: return "a link out of range";
    case payload_damage::page_refused: return "a page already in use (a loop or a crossed chain)";
    case payload_damage::page_cut_short: return "a page cut short by the end of the file";
    default: return "";
  }
}

// Reads and claims the child page; pushes it, or notes why its branch ends.
void enter_page(walk_context* walk, uint32_t number, bool index_tree, int32_t owner,
                const char* name) {
  const page_ref ref = store_page(*walk->store, number);
  btree_page page{};
  if (ref.bytes.empty()) {
    note(walk->notes, "%s: page %u is out of range; its branch is skipped", name, number);
    return;
  }
  if (!read_btree_page(ref, number, walk->store->usable, &page) ||
      is_table_type(page.type) == index_tree) {
    const uint32_t type_at = number == 1 ? 100 : 0;
    note(walk->notes, "%s: page %u is not a %s b-tree page (type %u); its branch is skipped", name,
         number, index_tree ? "index" : "table",
         type_at < ref.bytes.size() ? ref.bytes[type_at] : 0u);
    return;
  }
  if (!claim_page(walk, number, role_of(page.type), owner)) {
    note(walk->notes, "%s: page %u is reached twice (a loop, or a page of another b-tree); its branch is skipped",
         name, number);
    return;
  }
  walk->stack.push_back({page, 0, false});
  walk->pages_walked += 1;
  if (walk->out) progress_advance(walk->out, static_cast<int64_t>(walk->pages_walked) + 1);
}

// Reads cell i of the page; notes and returns false when it is damaged.
bool read_cell_at(walk_context* walk, const btree_page& page, uint32_t i, const char* name,
                  cell_info* cell) {
  uint32_t offset = 0;
  if (!cell_offset(page, i, &offset)) {
    note(walk->notes, "%s: page %u: cell %u points outside the page; skipped", name, page.number, i);
    return false;
  }
  if (!read_cell(page.bytes, page.type, walk->store->usable, offset, page.usable, cell)) {
    note(walk->notes, "%s: page %u: the cell at offset %u runs past the page; skipped", name,
         page.number, offset);
    return false;
  }
  return true;
}

void visit_record(walk_context* walk, const btree_page& page, const cell_info& cell, int32_t owner,
                  const char* name, cell_visitor* visitor) {
  if (walk->local_payload_only && cell.overflow_page != 0 && cell.local_size < cell.payload_size) {
    payload_view local{};
    local.bytes = page.bytes.subspan(cell.payload_offset, cell.local_size);
    if (visitor) visitor->visit({&page, &cell, local});
    return;
  }
  overflow_claim gate(walk, owner);
  const payload_view payload = gather_payload(*walk->store, page.bytes, cell, &walk->scratch, &gate);
  if (payload.damage != payload_damage::none)
    note(walk->notes, "%s: page %u: the overflow chain of the cell at offset %u ends at page %u: %s",
         name, page.number, cell.offset, payload.damaged_page, damage_text(payload.damage));
  if (payload.last_page != 0 && payload.last_page <= walk->map->size())
    (*walk->map)[payload.last_page - 1].free_bytes =
        overflow_page_capacity(walk->store->usable) - payload.last_page_used;
  if (visitor) visitor->visit({&page, &cell, payload});
}

// The free bytes of a b-tree page: everything after the cell pointer array
// that no cell takes.
void record_free_bytes(walk_context* walk, const btree_page& page, uint64_t cell_bytes) {
  const uint64_t used = cell_array_end(page) + cell_bytes;
  (*walk->map)[page.number - 1].free_bytes =
      used < page.usable ? static_cast<uint32_t>(page.usable - used) : 0u;
}

void walk_leaf(walk_context* walk, const btree_page& page, int32_t owner, const char* name,
               cell_visitor* visitor) {
  uint64_t cell_bytes = 0;
  for (uint32_t i = 0; i < page.cell_count && !walk->stop; ++i) {
    cell_info cell{};
    if (!read_cell_at(walk, page, i, name, &cell)) continue;
    cell_bytes += std::max<uint32_t>(cell.size, 4);
    visit_record(walk, page, cell, owner, name, visitor);
  }
  record_free_bytes(walk, page, cell_bytes);
}

// One step on an interior page: descends into the next child, or visits an
// index cell's record after its left subtree. Returns false when the page
// is done.
bool step_interior(walk_context* walk, bool index_tree, int32_t owner, const char* name,
                   cell_visitor* visitor) {
  walk_frame& frame = walk->stack.back();
  const btree_page page = frame.page;
  if (frame.next_cell > page.cell_count) return false;
  if (frame.next_cell == page.cell_count) {
    frame.next_cell += 1;
    enter_page(walk, page.right_child, index_tree, owner, name);
    return true;
  }
  cell_info cell{};
  if (!read_cell_at(walk, page, frame.next_cell, name, &cell)) {
    frame.next_cell += 1;
    return true;
  }
  if (!frame.child_done) {
    frame.child_done = true;
    enter_page(walk, cell.left_child, index_tree, owner, name);
    return true;
  }
  frame.child_done = false;
  frame.next_cell += 1;
  if (index_tree) visit_record(walk, page, cell, owner, name, visitor);
  return true;
}

// The free bytes of an interior page, from all its cells.
void interior_free_bytes(walk_context* walk, const btree_page& page) {
  uint64_t cell_bytes = 0;
  for (uint32_t i = 0; i < page.cell_count; ++i) {
    uint32_t offset = 0;
    cell_info cell{};
    if (cell_offset(page, i, &offset) &&
        read_cell(page.bytes, page.type, walk->store->usable, offset, page.usable, &cell))
      cell_bytes += cell.size;
  }
  record_free_bytes(walk, page, cell_bytes);
}

}  // namespace

payload_view gather_record(walk_context* walk, const record_cell& record, int32_t owner) {
  overflow_claim gate(walk, owner);
  return gather_payload(*walk->store, record.page->bytes, *record.cell, &walk->scratch, &gate);
}

bool claim_page(walk_context* walk, uint32_t number, page_role role, int32_t owner) {
  if (number == 0 || number > walk->map->size()) return false;
  page_entry& entry = (*walk->map)[number - 1];
  if (entry.role != page_role::unreached) return false;
  entry.role = role;
  entry.owner = owner;
  entry.index_entries = walk->index_entries;
  entry.index = walk->index_entries ? walk->index : -1;
  return true;
}

void walk_btree(walk_context* walk, uint32_t root, bool index_tree, int32_t owner,
                const char* name, cell_visitor* visitor) {
  walk->stack.clear();
  walk->stop = false;
  enter_page(walk, root, index_tree, owner, name);
  while (!walk->stack.empty() && !walk->stop) {
    const btree_page page = walk->stack.back().page;
    if (is_leaf_type(page.type)) {
      walk->stack.pop_back();
      walk_leaf(walk, page, owner, name, visitor);
      continue;
    }
    if (walk->stack.back().next_cell == 0 && !walk->stack.back().child_done)
      interior_free_bytes(walk, page);
    if (!step_interior(walk, index_tree, owner, name, visitor)) walk->stack.pop_back();
  }
}
