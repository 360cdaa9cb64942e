// A cell's whole payload: its local part and, for a payload that overflows,
// the data of its overflow pages, in the order of the chain.
#pragma once
#include <cstdint>
#include <vector>

#include "format/bytes.h"
#include "format/cell.h"
#include "format/overflow.h"
#include "format/page_store.h"

// Decides whether a chain may go on to a page. The live walk claims each
// overflow page for its cell; a chain that reaches a page already claimed
// loops or crosses another structure. Recovery of deleted rows allows only
// free pages.
class overflow_gate {
 public:
  virtual ~overflow_gate() = default;
  virtual bool enter(uint32_t page) = 0;
};

enum class payload_damage : uint8_t {
  none,
  page_out_of_range,  // a chain link is 0 too early or past the last page
  page_refused,       // the gate refused a page (a loop, or a page in use)
  page_cut_short,     // the file ends inside an overflow page
};

struct payload_view {
  byte_view bytes;              // the payload gathered, whole or in part
  bool complete;
  payload_damage damage;
  uint32_t damaged_page;        // the link at which the chain ended early
  uint32_t last_page;           // the chain's last page read, 0 when none
  uint32_t last_page_used;      // payload bytes on that page (its data part)
};

// As below, reading the chain's pages through `pages`; page numbers run
// from 1 to page_count.
payload_view gather_payload(const page_reader& pages, uint32_t usable, uint32_t page_count,
                            byte_view page, const cell_info& cell, std::vector<uint8_t>* scratch,
                            overflow_gate* gate);

// Gathers the payload of `cell` on `page`. Without overflow the result is a
// view into the page; otherwise the pieces are copied into *scratch (its
// capacity is reused from call to call). The chain is followed for exactly
// the pages the payload size needs, each one admitted by `gate`.
payload_view gather_payload(const page_store& store, byte_view page, const cell_info& cell,
                            std::vector<uint8_t>* scratch, overflow_gate* gate);
