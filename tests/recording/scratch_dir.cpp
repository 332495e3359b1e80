#include "scratch_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <cstdio>
#include <stdexcept>

namespace brennix {

std::string ScratchDir::Write(const std::string& name, const std::string& content) const {
  const std::string path = File(name);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return path;
}

std::string ScratchDir::Read(const std::string& path) {
  std::string content;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return content;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
  std::fclose(f);
  return content;
}

std::string ScratchDir::Pattern(int64_t size, int seed) {
  std::string s(static_cast<size_t>(size), '\0');
  for (int64_t i = 0; i < size; ++i) s[static_cast<size_t>(i)] = static_cast<char>((i * 7 + seed) & 0xFF);
  return s;
}

}  // namespace brennix
