#include "batch/out_folder.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

bool prepare_out_folder(const std::string& input, const std::string& out) {
  std::error_code ec;
  const fs::path in = fs::canonical(input, ec);
  const fs::path target = fs::weakly_canonical(fs::absolute(out), ec);
  if (ec) {
    fprintf(stderr, "ERROR: Cannot resolve output folder '%s' ( %s )\n", out.c_str(), ec.message().c_str());
    return false;
  }
  const auto rel = target.lexically_relative(in);
  if (!rel.empty() && *rel.begin() != "..") {
    fprintf(stderr, "ERROR: Output folder '%s' is inside the input folder '%s'; the evidence is never written to\n",
            out.c_str(), input.c_str());
    return false;
  }
  if (fs::exists(fs::symlink_status(out))) {
    if (!fs::is_directory(fs::symlink_status(out)) || !fs::is_empty(out, ec)) {
      fprintf(stderr, "ERROR: Output folder '%s' exists and is not an empty folder\n", out.c_str());
      return false;
    }
    return true;
  }
  if (!fs::create_directories(out, ec)) {
    fprintf(stderr, "ERROR: Cannot create output folder '%s' ( %s )\n", out.c_str(), ec.message().c_str());
    return false;
  }
  return true;
}

bool make_parents(const std::string& out, const std::string& rel) {
  const fs::path parent = (fs::path(out) / rel).parent_path();
  std::error_code ec;
  fs::create_directories(parent, ec);
  return !ec;
}
