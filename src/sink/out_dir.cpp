#include "sink/out_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// True when the folder holds nothing but "." and "..".
bool is_empty_dir(int fd) {
  const int copy = dup(fd);
  DIR* dir = copy >= 0 ? fdopendir(copy) : nullptr;
  if (!dir) return false;
  bool empty = true;
  while (const dirent* entry = readdir(dir))
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) empty = false;
  closedir(dir);
  return empty;
}

}  // namespace

int create_unique_file(int dir_fd, unique_names* names, std::string_view stem, std::string_view ext,
                       std::string* name) {
  for (;;) {
    *name = names->claim(stem);
    *name += '.';
    *name += ext;
    const int fd = openat(dir_fd, name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
}

bool out_dir::open(const std::string& path) {
  path_ = path;
  created_ = mkdir(path.c_str(), 0700) == 0;
  if (!created_ && errno != EEXIST) {
    fprintf(stderr, "ERROR: Cannot create output folder '%s' ( %s )\n", path.c_str(), strerror(errno));
    return false;
  }
  fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) {
    fprintf(stderr, "ERROR: Cannot open output folder '%s' ( %s )\n", path.c_str(), strerror(errno));
    return false;
  }
  if (!is_empty_dir(fd_)) {
    fprintf(stderr, "ERROR: Output folder '%s' is not empty\n", path.c_str());
    return false;
  }
  return true;
}

void out_dir::discard_if_empty() {
  if (!created_ || fd_ < 0 || !is_empty_dir(fd_)) return;
  close(fd_);
  fd_ = -1;
  rmdir(path_.c_str());
}

out_dir::~out_dir() {
  if (fd_ >= 0) close(fd_);
}

int out_dir::create(std::string_view stem, std::string_view ext, std::string* name) {
  return create_unique_file(fd_, &names_, stem, ext, name);
}
