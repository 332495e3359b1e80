// A folder of a test's own below the system's temporary folder, removed with all it holds
// when the test is done.
#pragma once

#include <string>

namespace brennix::test {

class TempFolder {
 public:
  // tag names the folder ("/tmp/brennix-<tag>-XXXXXX"), so that one left by a crash is known.
  explicit TempFolder(const std::string& tag = "test");
  // Folders a test made unreadable are made readable again, so that all of it goes.
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string operator/(const std::string& name) const { return File(name); }

 private:
  std::string path_;
};

}  // namespace brennix::test
