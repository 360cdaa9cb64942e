// The memory-read floor: maps the file as the tool does (read-only, private)
// and sums every byte, so that each page of the mapping is touched and each
// byte is loaded once. Prints the sum, which keeps the loop from being
// optimised away.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: read_floor <file>\n");
    return 1;
  }
  const int fd = open(argv[1], O_RDONLY);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0 || status.st_size == 0) {
    perror(argv[1]);
    return 1;
  }
  const size_t size = static_cast<size_t>(status.st_size);
  void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) {
    perror("mmap");
    return 1;
  }
  const unsigned char* bytes = static_cast<const unsigned char*>(view);
  uint64_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum += bytes[i];
  printf("%llu\n", static_cast<unsigned long long>(sum));
  close(fd);
  return 0;
}
