// The files of a folder tree, found without following symbolic links and
// without opening anything but folders.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

enum class entry_type : uint8_t { regular, symlink, special, unreadable_dir };

struct tree_entry {
  std::string rel;          // path relative to the root, '/' between names
  entry_type type = entry_type::regular;
  uint64_t size = 0;
  int64_t mtime_sec = 0;
  int64_t mtime_nsec = 0;
  mode_t mode = 0;
  std::string detail;       // a link's target, a special file's type, a folder's error
};

// Every entry below `root` except folders (a folder that cannot be read is
// one entry), sorted by rel (bytewise). False when root cannot be opened.
bool walk_tree(const std::string& root, std::vector<tree_entry>* out);

// "2026-12-09T20:44:49.123456789Z" for a modification time.
std::string utc_time_text(int64_t sec, int64_t nsec);
