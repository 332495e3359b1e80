#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/dir_listing.h"
#include "support/temp_folder.h"

namespace brennix {
namespace {

class DirListingTest : public ::testing::Test {
 protected:
  void Touch(const std::string& name, const std::string& content = "") {
    std::ofstream(dir + "/" + name) << content;
  }
  static bool Has(const std::vector<DirListEntry>& list, const std::string& name) {
    for (const DirListEntry& e : list) {
      if (e.Name == name) return true;
    }
    return false;
  }
  static DirListEntry Find(const std::vector<DirListEntry>& list, const std::string& name) {
    for (const DirListEntry& e : list) {
      if (e.Name == name) return e;
    }
    ADD_FAILURE() << name << " not listed";
    return DirListEntry();
  }
  brennix::test::TempFolder temp{"ls"};
  std::string dir = temp.path();
};

TEST_F(DirListingTest, AlternateNamesAreUniqueAndEmptyForValidNames) {
  Touch("readme.txt");
  Touch("README~1.TXT");
  Touch("readme first.txt");
  Touch("readme second.txt");
  Touch("A.B.C.tar.gz");
  Touch(".profile");
  Touch("Ünïcode.txt");
  for (int i = 0; i < 12; ++i) Touch("long file name " + std::to_string(i) + ".text");
  std::vector<DirListEntry> list;
  ASSERT_EQ(ListDirectory(dir, "*.*", kListAllAttributes, list), ListResult::Ok);
  EXPECT_EQ(list.size(), 19u);
  EXPECT_EQ(Find(list, "readme.txt").AlternateName, "");
  // "~" is no 8.3 character, so that name gets a generated one (which happens to be itself),
  // and the next free ones go to the long names.
  EXPECT_EQ(Find(list, "README~1.TXT").AlternateName, "README~1.TXT");
  EXPECT_EQ(Find(list, "readme first.txt").AlternateName, "README~2.TXT");
  EXPECT_EQ(Find(list, "readme second.txt").AlternateName, "README~3.TXT");
  EXPECT_EQ(Find(list, "A.B.C.tar.gz").AlternateName, "ABCTAR~1.GZ");
  EXPECT_EQ(Find(list, ".profile").AlternateName, "PROFIL~1");
  EXPECT_EQ(Find(list, "Ünïcode.txt").AlternateName, "_N_COD~1.TXT");
  std::set<std::string> seen;
  for (const DirListEntry& e : list) {
    const std::string name = e.AlternateName.empty() ? e.Name : e.AlternateName;
    std::string upper;
    for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(seen.insert(upper).second) << upper;
    EXPECT_TRUE(e.AlternateName.empty() || e.AlternateName.size() <= 12) << e.AlternateName;
  }
  // Listed in name order, so "9" is the twelfth of its stem; past ~9 the stem gives way.
  EXPECT_EQ(Find(list, "long file name 9.text").AlternateName, "LONGF~12.TEX");
}

TEST_F(DirListingTest, AttributesTimesAndSizes) {
  Touch("file.txt", "12345");
  Touch(".hidden");
  Touch("ro.txt");
  chmod((dir + "/ro.txt").c_str(), 0444);
  std::filesystem::create_directory(dir + "/sub");
  std::vector<DirListEntry> list;
  ASSERT_EQ(ListDirectory(dir, "*.*", kListAllAttributes, list), ListResult::Ok);
  EXPECT_EQ(Find(list, "file.txt").Attr, kListAttrArchive);
  EXPECT_EQ(Find(list, "file.txt").Size, 5);
  EXPECT_NE(Find(list, "file.txt").DosTime, 0u);
  EXPECT_EQ(Find(list, ".hidden").Attr, kListAttrArchive | kListAttrHidden);
  EXPECT_EQ(Find(list, "ro.txt").Attr, kListAttrArchive | kListAttrReadOnly);
  EXPECT_EQ(Find(list, "sub").Attr, kListAttrDirectory);
  EXPECT_TRUE(Find(list, "sub").IsDirectory);
  // Without their bits in the mask, hidden entries and folders stay out.
  ASSERT_EQ(ListDirectory(dir, "*.*", kListAttrArchive, list), ListResult::Ok);
  EXPECT_FALSE(Has(list, ".hidden"));
  EXPECT_FALSE(Has(list, "sub"));
  EXPECT_TRUE(Has(list, "ro.txt"));
}

TEST_F(DirListingTest, MasksAndMissingFolders) {
  EXPECT_TRUE(MatchesMask("anything", "*.*"));
  EXPECT_TRUE(MatchesMask("README", "*.*"));
  EXPECT_TRUE(MatchesMask("Photo.JPG", "*.jpg"));
  EXPECT_TRUE(MatchesMask("a1.txt", "a?.TXT"));
  EXPECT_FALSE(MatchesMask("a12.txt", "a?.txt"));
  EXPECT_TRUE(MatchesMask("x.tar.gz", "*.gz"));
  EXPECT_FALSE(MatchesMask("x.gz.bak", "*.gz"));
  std::vector<DirListEntry> list;
  EXPECT_EQ(ListDirectory(dir + "/none", "*.*", 63, list), ListResult::NotFound);
  DirListEntry e;
  EXPECT_EQ(ListSingle(dir + "/none", e), ListResult::NotFound);
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0644), 0);
  EXPECT_EQ(ListSingle(dir + "/fifo", e), ListResult::Special);
  ASSERT_EQ(ListDirectory(dir, "*.*", 63, list), ListResult::Ok);
  EXPECT_TRUE(list.empty());
  Touch("Some Long Name.txt", "abc");
  ASSERT_EQ(ListSingle(dir + "/Some Long Name.txt", e), ListResult::Ok);
  EXPECT_EQ(e.AlternateName, "SOMELO~1.TXT");
  EXPECT_EQ(e.Size, 3);
}

TEST(ShortNames, ValidForms) {
  EXPECT_TRUE(IsValidShortName("README"));
  EXPECT_TRUE(IsValidShortName("readme.txt"));
  EXPECT_TRUE(IsValidShortName("A_1.B"));
  EXPECT_FALSE(IsValidShortName("README."));
  EXPECT_FALSE(IsValidShortName(".profile"));
  EXPECT_FALSE(IsValidShortName("NINECHARS"));
  EXPECT_FALSE(IsValidShortName("a.b.c"));
  EXPECT_FALSE(IsValidShortName("a-b.txt"));
  EXPECT_FALSE(IsValidShortName("a b"));
  EXPECT_FALSE(IsValidShortName("x.abcd"));
}

}  // namespace
}  // namespace brennix
