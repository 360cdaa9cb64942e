// Walks a b-tree from its root through its interior pages, in key order,
// claiming every page it reaches in the page map. A page that is out of
// range, already claimed (a loop, or a page shared with another tree) or of
// the wrong kind ends its branch with a note; the rest of the tree is still
// walked.
#pragma once
#include <cstdint>
#include <vector>

#include "deep/notes.h"
#include "deep/page_map.h"
#include "format/btree_page.h"
#include "format/payload.h"

struct record_cell {
  const btree_page* page;
  const cell_info* cell;
  payload_view payload;
};

// Receives the cells that carry records: table-leaf cells, and index cells
// on leaf and interior pages.
class cell_visitor {
 public:
  virtual ~cell_visitor() = default;
  virtual void visit(const record_cell& cell) = 0;
};

struct walk_frame {
  btree_page page;
  uint32_t next_cell;
  bool child_done;  // interior pages: the left child of next_cell was walked
};

struct walk_context {
  const page_store* store;
  page_map* map;
  note_log* notes;
  const run_output* out;            // the progress line counts pages walked
  uint64_t pages_walked = 0;
  bool index_entries = false;       // the tree being walked is an index
  int32_t index = -1;               // which one (index_state::defs)
  std::vector<uint8_t> scratch;     // payload assembly, reused
  std::vector<walk_frame> stack;    // reused
  // A visitor that reads few values: overflowing payloads come with their
  // local part only (complete false), and gather_record fetches the rest.
  bool local_payload_only = false;
  bool stop = false;                // set by a visitor: the walk ends there
};

// The whole payload of a record handed over with its local part only.
payload_view gather_record(walk_context* walk, const record_cell& record, int32_t owner);

// Claims page `number` for owner in `role`; false when it is out of range
// or already claimed (the page map's role is then left as it was).
bool claim_page(walk_context* walk, uint32_t number, page_role role, int32_t owner);

// Walks the tree rooted at `root`; `index_tree` selects index pages (2, 10)
// over table pages (5, 13). `name` names the tree in notes.
void walk_btree(walk_context* walk, uint32_t root, bool index_tree, int32_t owner,
                const char* name, cell_visitor* visitor);
