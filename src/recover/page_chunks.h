// Pages searched in chunks by two threads (where two processors are free)
// and printed by the calling thread in page order, so that the output is
// the one a single thread prints.
#pragma once
#include <cstdint>
#include <functional>

#include "recover/page_recovery.h"

// Searches the pages 1..pages that `wanted` names with main_pass and
// helper_pass, printing their finds through main_pass; `progress` is told
// the last page printed.
void search_pages(uint32_t pages, recovery* main_pass, recovery* helper_pass,
                  const std::function<bool(uint32_t)>& wanted,
                  const std::function<void(uint32_t)>& progress);
