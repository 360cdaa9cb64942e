// Text helpers for comparing the -d narration.
#pragma once
#include <string>
#include <vector>

// Masks what may differ between builds: every "file.cpp:123:" source prefix
// becomes "F:L:" and every "%p" address (0x and 9 or more lower-case hex digits, or
// "(nil)") becomes "0xADDR".
std::string mask_debug(const std::string& text);

std::vector<std::string> split_lines(const std::string& text);

// Captures what a function writes to standard output (and flushes it).
template <typename F>
std::string capture_stdout(F&& body);

#include "support/text_impl.h"
