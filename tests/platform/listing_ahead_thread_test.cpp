#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/listing_ahead.h"
#include "support/temp_folder.h"

namespace brennix {
namespace {

std::string Names(const std::vector<DirListEntry>& entries) {
  std::string out;
  for (const DirListEntry& e : entries) out += e.Name + (e.IsDirectory ? "/ " : " ");
  return out;
}

// Every walk order gets the listing the folder has, made ahead or not: the order of a
// depth-first walk, one that passes over a subtree, one that goes backwards, and one that
// stops early (the lister is stopped and joined without being drained).
TEST(TreeListingAhead, EveryOrderOfAskingGetsTheFoldersOwnListing) {
  test::TempFolder temp{"ahead"};
  const std::string root = temp.path();
  for (const char* folder : {"a", "a/x", "a/x/deep", "a/y", "b", "c", "c/z"})
    std::filesystem::create_directories(root + "/" + folder);
  for (int i = 0; i < 40; ++i) std::ofstream(root + "/a/x/f" + std::to_string(i)) << i;
  std::ofstream(root + "/b/one") << 1;
  ::symlink("..", (root + "/c/z/up").c_str());  // leads back into c: listed, never entered

  struct stat info {};
  ASSERT_EQ(::stat(root.c_str(), &info), 0);
  const FolderAncestry top{{info.st_dev, info.st_ino}};
  const std::vector<std::vector<std::string>> walks = {
      {"", "a", "a/x", "a/x/deep", "a/y", "b", "c", "c/z"},
      {"", "a", "b", "c", "c/z"},  // a's subfolders passed over
      {"c/z", "c", "b", "a/y", "a/x/deep", "a/x", "a", ""},
      {"", "a"},
      {"missing", "", "c/z/up"},
  };
  for (const std::vector<std::string>& walk : walks) {
    TTreeListingAhead ahead(root, top);
    for (const std::string& folder : walk) {
      const std::string path = folder.empty() ? root : root + "/" + folder;
      std::vector<DirListEntry> got, want;
      std::vector<DirListProblem> gotProblems, wantProblems;
      const ListResult result = ahead.List(path, got, gotProblems);
      EXPECT_EQ(result, ListDirectory(path, "*.*", kListAllAttributes, want, &wantProblems))
          << path;
      EXPECT_EQ(Names(got), Names(want)) << path;
      EXPECT_EQ(gotProblems.size(), wantProblems.size()) << path;
    }
  }
}

}  // namespace
}  // namespace brennix
