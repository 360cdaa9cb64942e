#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "batch/batch_run.h"
#include "batch/inventory.h"
#include "batch/out_folder.h"

namespace fs = std::filesystem;

namespace {

// Copies OUT/<rel> (a file's output folder) into CASE/<rel>.
bool copy_output(const std::string& from, const std::string& to, const std::string& rel) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(fs::path(from) / rel))) return true;
  if (!make_parents(to, rel)) return false;
  fs::copy(fs::path(from) / rel, fs::path(to) / rel, fs::copy_options::recursive, ec);
  if (ec) fprintf(stderr, "ERROR: Cannot copy '%s/%s' ( %s )\n", from.c_str(), rel.c_str(), ec.message().c_str());
  return !ec;
}

}  // namespace

int merge_main(const run_options* opt) {
  std::vector<inventory_record> records;
  std::set<std::string> seen;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(opt->out_dir)) && !(fs::is_directory(opt->out_dir) && fs::is_empty(opt->out_dir, ec))) {
    fprintf(stderr, "ERROR: Output folder '%s' exists and is not an empty folder\n", opt->out_dir);
    return 1;
  }
  fs::create_directories(opt->out_dir, ec);
  for (const char* dir : opt->merge_inputs) {
    std::vector<inventory_record> part;
    if (!read_inventory(dir, &part)) return 1;
    for (inventory_record& r : part) {
      if (!seen.insert(r.path).second) {
        fprintf(stderr, "ERROR: '%s' is listed by more than one inventory\n", r.path.c_str());
        return 1;
      }
      if (!r.output.empty() && !copy_output(dir, opt->out_dir, r.output)) return 1;
      records.push_back(std::move(r));
    }
  }
  std::sort(records.begin(), records.end(),
            [](const inventory_record& a, const inventory_record& b) { return a.path < b.path; });
  return write_inventory(opt->out_dir, records) ? 0 : 1;
}
