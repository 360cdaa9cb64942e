// The output floor: writes <rows> lines of <bytes> bytes in all (line feeds
// included, spread as evenly as the counts allow) through stdio, flushing
// after every line as the tool does after every row.
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: output_floor <rows> <bytes>\n");
    return 1;
  }
  const unsigned long long rows = strtoull(argv[1], nullptr, 10);
  const unsigned long long bytes = strtoull(argv[2], nullptr, 10);
  if (rows == 0 || bytes < rows) return 0;
  const unsigned long long base = bytes / rows, longer = bytes % rows;
  std::vector<char> line(base + 1, 'x');
  for (unsigned long long row = 0; row < rows; ++row) {
    const size_t size = base + (row < longer ? 1 : 0);
    line[size - 1] = '\n';
    fwrite(line.data(), 1, size, stdout);
    fflush(stdout);
    line[size - 1] = 'x';
  }
  return 0;
}
