#include "support/text.h"

#include <regex>

std::string mask_debug(const std::string& text) {
  static const std::regex prefix(R"([a-z_]+\.(cpp|h):[0-9]+:)");
  static const std::regex address(R"(0x[0-9a-f]{9,}|\(nil\))");
  std::string masked = std::regex_replace(text, prefix, "F:L:");
  return std::regex_replace(masked, address, "0xADDR");
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}
