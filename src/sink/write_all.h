// Writes a whole buffer to a file descriptor.
#pragma once
#include <string_view>

// Writes every byte (retrying after EINTR); returns 0, or the errno of the
// failure (EIO for a write that wrote nothing).
int write_all(int fd, std::string_view bytes);
