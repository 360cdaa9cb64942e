#include "sink/publish.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

bool create_partial(const std::string& path, std::string* partial, std::string* error) {
  struct stat existing;
  const int found = lstat(path.c_str(), &existing) == 0 ? EEXIST : errno;
  if (found != ENOENT) {
    *error = strerror(found);
    return false;
  }
  *partial = path + ".partial-XXXXXX";
  const int fd = mkostemp(partial->data(), O_CLOEXEC);
  if (fd < 0) {
    *error = strerror(errno);
    return false;
  }
  ::close(fd);
  return true;
}

bool publish_file(const std::string& partial, const std::string& path, std::string* error) {
  if (renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return true;
  // A file system without the no-replace rename: a hard link refuses an
  // existing name too.
  if ((errno == EINVAL || errno == ENOSYS) && link(partial.c_str(), path.c_str()) == 0) {
    unlink(partial.c_str());
    return true;
  }
  *error = strerror(errno);
  return false;
}
