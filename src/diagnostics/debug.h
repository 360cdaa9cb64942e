// The "%s:%d:" prefix of debug and error lines: the writing statement's
// source file base name and line number.
#pragma once
#include <cstdio>

constexpr const char* source_base_name(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/') base = p + 1;
  return base;
}

#define SRC_FILE (source_base_name(__FILE__))

// printf with the "%s:%d:" prefix in front of fmt.
#define printf_at(fmt, ...) \
  printf("%s:%d:" fmt, SRC_FILE, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define fprintf_at(stream, fmt, ...) \
  fprintf(stream, "%s:%d:" fmt, SRC_FILE, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
