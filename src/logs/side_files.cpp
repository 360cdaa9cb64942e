#include "logs/side_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "shared/progress.h"

namespace {

bool fail(note_log* notes, const char* what, const std::string& path, const char* reason) {
  if (notes->out) progress_erase(notes->out);
  fprintf(stderr, "ERROR: Cannot read the %s '%s' ( %s )\n", what, path.c_str(), reason);
  return false;
}

}  // namespace

bool open_side_file(const char* option, const std::string& input, const char* suffix,
                    const char* what, note_log* notes, side_file* out) {
  *out = side_file{};
  if (option && strcmp(option, "none") == 0) return true;
  const std::string path = option ? std::string(option) : input + suffix;
  struct stat status;
  if (stat(path.c_str(), &status) != 0) {
    if (!option && errno == ENOENT) return true;  // nothing beside the database
    return fail(notes, what, path, strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) return fail(notes, what, path, "not a regular file");
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return fail(notes, what, path, strerror(errno));
  out->path = path;
  out->fd = fd;
  out->size = static_cast<uint64_t>(status.st_size);
  if (out->size != 0) {
    void* view = mmap(nullptr, out->size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) {
      const int error = errno;
      close(fd);
      *out = side_file{};
      return fail(notes, what, path, strerror(error));
    }
    out->data = static_cast<const uint8_t*>(view);
    out->mapped = true;
  }
  note(notes, "reading the %s '%s'", what, path.c_str());
  return true;
}

void attach_side_file(byte_view bytes, const std::string& path, side_file* out) {
  *out = side_file{};
  out->path = path;
  out->data = bytes.data();
  out->size = bytes.size();
}

void close_side_file(side_file* file) {
  if (file->mapped) munmap(const_cast<uint8_t*>(file->data), file->size);
  if (file->fd >= 0) close(file->fd);
  *file = side_file{};
}
