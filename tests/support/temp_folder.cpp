#include "support/temp_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace brennix::test {

namespace {

// Every folder below dir readable and writable by its owner again.
void OpenUp(const fs::path& dir) {
  std::error_code ignored;
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ignored))
    if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) OpenUp(entry.path());
}

}  // namespace

TempFolder::TempFolder(const std::string& tag) {
  std::string pattern = (fs::temp_directory_path() / ("brennix-" + tag + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a temporary folder " + pattern);
  path_ = pattern;
}

TempFolder::~TempFolder() {
  OpenUp(path_);
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

}  // namespace brennix::test
