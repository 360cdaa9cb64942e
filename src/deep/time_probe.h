// Which columns hold times (sink/time_columns.h), found before any row is
// printed: the live rows of every table with a column whose name suggests a
// time are read once more, apart, on a page map of their own, without notes.
#pragma once
#include "deep/deep_state.h"
#include "sink/time_columns.h"

void find_time_columns(deep_state* s, time_columns* out);
