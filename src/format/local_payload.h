// How much of a cell's payload its own page keeps. With the usable size U,
// a payload of P bytes stays whole on the page up to X bytes; a longer one
// keeps K = M + (P - M) mod (U - 4) bytes when K <= X, else M, followed by
// the number of its first overflow page.
#pragma once
#include <cstdint>

// X and M are computed in the width of the usable size's type: 32 bits for
// the sizes a header holds; the byte scan also takes any page size from its
// option, and keeps the results that its 32- and 64-bit arithmetic gives.

// X: U - 35 on table leaves, (U - 12) * 64 / 255 - 23 on index pages.
template <typename U>
constexpr U max_local(U usable, bool table_leaf) {
  return table_leaf ? U(usable - 35) : U(U(usable - 12) * 64 / 255 - 23);
}

// M: the smallest local part of an overflowing payload.
template <typename U>
constexpr U min_local(U usable) {
  return U(U(usable - 12) * 32 / 255 - 23);
}

// The local part of a payload longer than X, given X and M.
inline uint64_t overflow_local_size(uint64_t payload, uint64_t usable, uint64_t x, uint64_t m) {
  const uint64_t k = m + (payload - m) % (usable - 4);
  return k <= x ? k : m;
}

// The local part of a payload of P bytes: P when it fits, else K or M.
inline uint32_t local_payload_size(uint64_t payload, uint32_t usable, bool table_leaf) {
  const uint32_t x = max_local(usable, table_leaf);
  if (payload <= x) return static_cast<uint32_t>(payload);
  return static_cast<uint32_t>(overflow_local_size(payload, usable, x, min_local(usable)));
}
