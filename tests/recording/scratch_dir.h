// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "support/temp_folder.h"

namespace brennix {

class ScratchDir {
 public:
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes content to name (below the folder) and returns the full path.
  std::string Write(const std::string& name, const std::string& content) const;
  static std::string Read(const std::string& path);
  // content[i] = (i * 7 + seed) & 0xFF: distinct bytes for every file.
  static std::string Pattern(int64_t size, int seed);

 private:
  test::TempFolder folder_{"rec"};
  std::string path_ = folder_.path();
};

}  // namespace brennix
