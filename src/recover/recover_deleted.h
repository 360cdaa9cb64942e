// The deleted rows: after the live walk, every byte of the file that no
// live cell uses is searched with the schema as the guide (freeblocks, the
// unallocated space and gaps of b-tree pages, freelist pages, pages nothing
// reaches). Records are attributed to their tables, rows equal to live rows
// or printed before are left out, and the rest print with status deleted.
#pragma once
#include "deep/deep_state.h"

void recover_deleted(deep_state* s);
