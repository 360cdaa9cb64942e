#include "batch/file_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "format/btree_page.h"
#include "format/db_header.h"
#include "format/journal.h"
#include "format/wal.h"
#include "sink/sha256.h"

namespace {

constexpr size_t head_size = 65536;


// Page 1 of a database whose header is damaged: a table b-tree page at
// offset 100 whose cells hold the schema's "CREATE TABLE" text.
bool reads_as_schema_page(const uint8_t* data, size_t size) {
  if (size < 512 || (data[100] != page_table_leaf && data[100] != page_table_interior)) return false;
  static const char create[] = "CREATE TABLE";
  for (size_t i = 108; i + sizeof create - 1 <= size; ++i)
    if (strncasecmp(reinterpret_cast<const char*>(data + i), create, sizeof create - 1) == 0) return true;
  return false;
}


// Opens read-only without following a link and without blocking; the
// access time is left alone where the system allows it.
int open_evidence(const std::string& path) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = open(path.c_str(), flags | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = open(path.c_str(), flags);
  return fd;
}

// Hashes the open file to its end, keeping its first bytes in *head.
bool hash_file(int fd, std::vector<uint8_t>* head, std::string* digest, std::string* error) {
  sha256_stream hash;
  if (!hash.ok()) {
    *error = "SHA-256 unavailable";
    return false;
  }
  std::vector<uint8_t> buffer(1 << 20);
  for (;;) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::string("read failed ( ") + strerror(errno) + " )";
      return false;
    }
    if (n == 0) break;
    const size_t keep = std::min(head_size - head->size(), static_cast<size_t>(n));
    head->insert(head->end(), buffer.begin(), buffer.begin() + static_cast<long>(keep));
    hash.add(byte_view(buffer.data(), static_cast<size_t>(n)));
  }
  *digest = hash.hex();
  if (digest->empty()) *error = "SHA-256 unavailable";
  return !digest->empty();
}

}  // namespace

content_kind classify_bytes(const uint8_t* data, size_t size, bool* damaged_header) {
  *damaged_header = false;
  if (size >= 100 && memcmp(data, db_magic, sizeof db_magic) == 0) return content_kind::database;
  const uint32_t magic = size >= wal_header_size ? be32_or_zero(byte_view(data, size), 0) : 0;
  if (magic == wal_magic_le || magic == wal_magic_be) return content_kind::wal;
  if (size >= 28 && memcmp(data, journal_magic, 8) == 0) return content_kind::journal;
  if (reads_as_schema_page(data, size)) {
    *damaged_header = true;
    return content_kind::database;
  }
  return content_kind::other;
}

file_scan scan_file(const std::string& root, const tree_entry& entry) {
  file_scan out;
  const std::string path = root + "/" + entry.rel;
  const int fd = open_evidence(path);
  if (fd < 0) {
    out.error = std::string("cannot be opened ( ") + strerror(errno) + " )";
    return out;
  }
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    out.error = "no longer a regular file";
    return out;
  }
  std::vector<uint8_t> head;
  out.read_ok = hash_file(fd, &head, &out.sha256, &out.error);
  close(fd);
  if (out.read_ok) out.content = classify_bytes(head.data(), head.size(), &out.damaged_header);
  out.changed = file_changed(path, entry);
  return out;
}

bool file_changed(const std::string& path, const tree_entry& entry) {
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) return true;
  return static_cast<uint64_t>(st.st_size) != entry.size || st.st_mtim.tv_sec != entry.mtime_sec ||
         st.st_mtim.tv_nsec != entry.mtime_nsec;
}
