#include "batch/tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

const char* special_name(mode_t mode) {
  if (S_ISFIFO(mode)) return "FIFO";
  if (S_ISSOCK(mode)) return "socket";
  if (S_ISCHR(mode)) return "character device";
  if (S_ISBLK(mode)) return "block device";
  return "special file";
}

std::string link_target(int dir_fd, const char* name) {
  std::string target(4096, '\0');
  const ssize_t n = readlinkat(dir_fd, name, target.data(), target.size());
  target.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return target;
}

tree_entry make_entry(const std::string& rel, const struct stat& st) {
  tree_entry e;
  e.rel = rel;
  e.size = static_cast<uint64_t>(st.st_size);
  e.mtime_sec = st.st_mtim.tv_sec;
  e.mtime_nsec = st.st_mtim.tv_nsec;
  e.mode = st.st_mode;
  if (S_ISLNK(st.st_mode)) e.type = entry_type::symlink;
  else if (!S_ISREG(st.st_mode)) {
    e.type = entry_type::special;
    e.detail = special_name(st.st_mode);
  }
  return e;
}

// Reads the folder open as dir_fd (taken over and closed), appending its
// entries and descending into its folders.
void walk_dir(int dir_fd, const std::string& prefix, std::vector<tree_entry>* out) {
  DIR* dir = fdopendir(dir_fd);
  if (!dir) {
    close(dir_fd);
    return;
  }
  while (const dirent* d = readdir(dir)) {
    if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
    const std::string rel = prefix.empty() ? d->d_name : prefix + "/" + d->d_name;
    struct stat st{};
    if (fstatat(dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      tree_entry e;
      e.rel = rel;
      e.type = entry_type::unreadable_dir;
      e.detail = std::string("cannot be examined ( ") + strerror(errno) + " )";
      out->push_back(e);
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      out->push_back(make_entry(rel, st));
      if (S_ISLNK(st.st_mode)) out->back().detail = link_target(dirfd(dir), d->d_name);
      continue;
    }
    const int sub = openat(dirfd(dir), d->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) {
      tree_entry e = make_entry(rel, st);
      e.type = entry_type::unreadable_dir;
      e.detail = std::string("folder cannot be read ( ") + strerror(errno) + " )";
      out->push_back(e);
      continue;
    }
    walk_dir(sub, rel, out);
  }
  closedir(dir);
}

}  // namespace

bool walk_tree(const std::string& root, std::vector<tree_entry>* out) {
  const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  walk_dir(fd, "", out);
  std::sort(out->begin(), out->end(), [](const tree_entry& a, const tree_entry& b) { return a.rel < b.rel; });
  return true;
}

std::string utc_time_text(int64_t sec, int64_t nsec) {
  const time_t t = static_cast<time_t>(sec);
  tm parts{};
  gmtime_r(&t, &parts);
  char text[64];
  const size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  snprintf(text + n, sizeof text - n, ".%09lldZ", static_cast<long long>(nsec));
  return text;
}
