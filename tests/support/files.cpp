#include "support/files.h"

#include <cstdio>

namespace brennix::test {

std::string FileContent(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string content;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) content.append(buffer, n);
  std::fclose(f);
  return content;
}

}  // namespace brennix::test
