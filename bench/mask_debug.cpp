// Filters -d output from standard input to standard output, masking what may
// differ between two builds or two runs of the same input: the "file.cpp:123:"
// prefixes become "F:L:", addresses ("0x" and 9 or more lower-case hex digits,
// or "(nil)") become "0xADDR", and the number in "ROW found at offset: N",
// which is the negated search address, becomes "ADDR". The same masking as
// the tests' mask_debug plus that line, at the speed that -d output needs.
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool identifier(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
bool digit(char c) { return c >= '0' && c <= '9'; }
bool hex(char c) { return digit(c) || (c >= 'a' && c <= 'f'); }

// name.cpp:123: or name.h:123: -> F:L:
std::string mask_prefixes(const std::string& in) {
  std::string out;
  size_t copied = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '.') continue;
    size_t j;
    if (in.compare(i + 1, 4, "cpp:") == 0) j = i + 5;
    else if (in.compare(i + 1, 2, "h:") == 0) j = i + 3;
    else continue;
    size_t k = j;
    while (k < in.size() && digit(in[k])) ++k;
    if (k == j || k >= in.size() || in[k] != ':') continue;
    size_t start = i;
    while (start > copied && identifier(in[start - 1])) --start;
    if (start == i) continue;
    out.append(in, copied, start - copied);
    out += "F:L:";
    copied = k + 1;
    i = k;
  }
  out.append(in, copied, std::string::npos);
  return out;
}

std::string mask_addresses(const std::string& in) {
  static const char row_found[] = "ROW found at offset: ";
  const size_t row_found_size = sizeof row_found - 1;
  std::string out;
  size_t copied = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    size_t end = 0;
    const char* replacement = nullptr;
    if (in.compare(i, 2, "0x") == 0) {
      size_t k = i + 2;
      while (k < in.size() && hex(in[k])) ++k;
      if (k - (i + 2) >= 9) end = k, replacement = "0xADDR";
    } else if (in.compare(i, 5, "(nil)") == 0) {
      end = i + 5, replacement = "0xADDR";
    } else if (in.compare(i, row_found_size, row_found) == 0) {
      size_t k = i + row_found_size;
      if (k < in.size() && in[k] == '-') ++k;
      const size_t digits = k;
      while (k < in.size() && digit(in[k])) ++k;
      if (k - digits >= 9) {
        out.append(in, copied, i + row_found_size - copied);
        out += "ADDR";
        copied = k;
        i = k - 1;
      }
      continue;
    }
    if (!replacement) continue;
    out.append(in, copied, i - copied);
    out += replacement;
    copied = end;
    i = end - 1;
  }
  out.append(in, copied, std::string::npos);
  return out;
}

}  // namespace

int main() {
  static char buffer[1 << 16];
  std::string line;
  size_t got;
  // Lines are masked whole: no masked text spans a line feed.
  while ((got = fread(buffer, 1, sizeof buffer, stdin)) > 0) {
    size_t start = 0;
    for (;;) {
      const void* feed = memchr(buffer + start, '\n', got - start);
      if (!feed) {
        line.append(buffer + start, got - start);
        break;
      }
      const size_t end = static_cast<size_t>(static_cast<const char*>(feed) - buffer) + 1;
      line.append(buffer + start, end - start);
      const std::string masked = mask_addresses(mask_prefixes(line));
      fwrite(masked.data(), 1, masked.size(), stdout);
      line.clear();
      start = end;
    }
  }
  if (!line.empty()) {
    const std::string masked = mask_addresses(mask_prefixes(line));
    fwrite(masked.data(), 1, masked.size(), stdout);
  }
  return 0;
}
