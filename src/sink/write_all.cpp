#include "sink/write_all.h"

#include <unistd.h>

#include <cerrno>

int write_all(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += static_cast<size_t>(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      return n < 0 ? errno : EIO;
  }
  return 0;
}
