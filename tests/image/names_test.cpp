// Names as identifiers, and the order of the path tables.
#include <gtest/gtest.h>

#include <random>

#include "image/names.h"
#include "image_fixture.h"

namespace brennix::test {
namespace {

TEST(Names, AsciiUpperChangesOnlyAsciiLetters) {
  EXPECT_EQ(AsciiUpper("abc xyz ä{}~"), "ABC XYZ ä{}~");
}

TEST(Names, Utf16ForJoliet) {
  EXPECT_EQ(Hex(JolietIdentifier("a é").data(), 6), "0061002000e9");
  // Outside the BMP: a surrogate pair, counted as two units.
  const std::string emoji = "\xF0\x9F\x98\x80";
  EXPECT_EQ(Hex(JolietIdentifier(emoji).data(), 4), "d83dde00");
  EXPECT_EQ(Utf16Units("x" + emoji), 3u);
  // Bad input becomes U+FFFD, one per bad byte, never a crash.
  EXPECT_EQ(Utf8ToUtf16("a\xff" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");          // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xE6\x97"), u"\uFFFD\uFFFD");           // cut short
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
}

TEST(Names, CreatedDirectoryRule) {
  EXPECT_EQ(CreatedDirShortName("my dir"), "MY_DIR");
  EXPECT_EQ(CreatedDirShortName("v1.2-beta!"), "V1_2_BETA_");
  EXPECT_EQ(CreatedDirShortName("abcdefghijklmnopq"), "ABCDEFGHIJKLM");
  EXPECT_EQ(CreatedDirShortName("Ä"), "__");  // each byte of a non-ASCII character
}

TEST(Names, FitKeepsExtensionAndCharacters) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  std::string name;
  for (int i = 0; i < 60; ++i) name += emoji;  // 120 units
  name += ".txt";
  const std::string fitted = FitLongName(name, kMaxJolietFileUnits, nullptr);
  EXPECT_EQ(Utf16Units(fitted), kMaxJolietFileUnits - 1);  // 97 units of room hold 48 pairs
  EXPECT_EQ(fitted.substr(fitted.size() - 4), ".txt");
  EXPECT_EQ(Utf8ToUtf16(fitted).find(u'\uFFFD'), std::u16string::npos);  // no pair split
  // Odd room: the pair that does not fit whole is dropped.
  EXPECT_EQ(Utf16Units(FitLongName(name, 102, nullptr)), 102u);
  // Taken names get ~N before the extension.
  std::set<std::string> taken{FitLongName(name, 20, nullptr)};
  const std::string second =
      FitLongName(name, 20, [&](const std::string& n) { return taken.count(n) != 0; });
  EXPECT_NE(second, *taken.begin());
  EXPECT_LE(Utf16Units(second), 20u);
  EXPECT_EQ(second.substr(second.size() - 6), "~1.txt");
  EXPECT_EQ(FitLongName("short.txt", 20, nullptr), "short.txt");
}

class PathTableOrderTest : public ::testing::Test {
 protected:
  void SetUp() override { image.ClearAll(600000, 20000); }
  void Build() {
    image.AddDir(image.FindDir("\\"), scratch.Path() + "/t", "*.*", 63, true, false, false);
    ASSERT_TRUE(image.PrepareImage());
    ASSERT_TRUE(image.BuildHeader());
  }
  ScratchDir scratch;
  TIsoImage image;
};

TEST_F(PathTableOrderTest, SiblingsByIsoNameWhateverTheOrderAdded) {
  scratch.Files({"t/beta/x.txt", "t/beta/sub/x.txt", "t/alpha/x.txt", "t/gamma/x.txt"}, "");
  image.AddFile("\\", scratch.File("t/z.txt"), false);
  // Added in the order beta, gamma, alpha: creation order is not path-table order.
  for (const char* d : {"beta", "gamma", "alpha"}) {
    image.AddDir(image.FindDir("\\"), scratch.Path() + "/t/" + d, "*.*", 63, true, true, false);
  }
  image.LastFolderOnly = false;
  ASSERT_TRUE(image.PrepareImage());
  auto number = [&](const std::string& path) {
    const TDEntry* d = image.FindDir(path);
    return d ? d->Number : -1;
  };
  std::string base = AsciiUpper(scratch.Path() + "/t");
  for (char& c : base) c = c == '/' ? '\\' : c;
  const int32_t t = number(base);
  ASSERT_GT(t, 0);
  EXPECT_EQ(number(base + "\\ALPHA"), number(base + "\\BETA") - 1);
  EXPECT_EQ(number(base + "\\BETA"), number(base + "\\GAMMA") - 1);
  EXPECT_GT(number(base + "\\BETA\\SUB"), number(base + "\\GAMMA"));
}

TEST_F(PathTableOrderTest, NumbersFollowTheSimpleCase) {
  scratch.Files({"t/beta/x.txt", "t/beta/sub/x.txt", "t/alpha/x.txt", "t/gamma/x.txt"}, "");
  Build();
  EXPECT_EQ(image.FindDir("\\ALPHA")->Number, 2);
  EXPECT_EQ(image.FindDir("\\BETA")->Number, 3);
  EXPECT_EQ(image.FindDir("\\GAMMA")->Number, 4);
  EXPECT_EQ(image.FindDir("\\BETA\\SUB")->Number, 5);
  // Both path tables: root, alpha, beta, gamma, sub (parent 3).
  for (const int32_t l : {image.PathTableL, image.JolietPathTableL}) {
    const auto table = HeaderSector(image, l);
    size_t at = 10;
    std::vector<int> parents;
    for (int i = 0; i < 4; ++i) {
      parents.push_back(table[at + 6]);
      at += 8 + table[at] + (table[at] % 2);
    }
    EXPECT_EQ(parents, (std::vector<int>{1, 1, 1, 3}));
  }
}

TEST_F(PathTableOrderTest, JolietTableFollowsIsoNames) {
  scratch.Files({"t/ABD/x.txt", "t/abc/x.txt"}, "");
  Build();
  const auto iso = HeaderSector(image, image.PathTableL);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(iso.data() + 18), 3), "ABC");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(iso.data() + 30), 3), "ABD");
  const auto joliet = HeaderSector(image, image.JolietPathTableL);
  EXPECT_EQ(Hex(joliet.data() + 18, 6), "006100620063");  // abc before ABD
  EXPECT_EQ(Hex(joliet.data() + 32, 6), "004100420044");
  const auto jm = HeaderSector(image, image.JolietPathTableM);
  EXPECT_EQ(Hex(jm.data() + 18, 6), "006100620063");
}

// The order a repeated gap-halving exchange sort settles on, run literally on copies of the
// records: root first, never moved; each step renumbers by position in the table it sorted.
struct SortNode {
  const TDEntry* dir;
  SortNode* parent;
  int number;
};

template <typename Less>
void ExchangeSort(std::vector<SortNode*>& t, Less less) {
  const size_t n = t.size();
  for (size_t gap = (n - 1) / 2; gap > 0; gap /= 2) {
    for (bool swapped = true; swapped;) {
      swapped = false;
      for (size_t i = 1; i + gap < n; ++i) {
        if (less(t[i + gap], t[i])) {
          std::swap(t[i], t[i + gap]);
          swapped = true;
        }
      }
    }
  }
  for (size_t i = 0; i < n; ++i) t[i]->number = static_cast<int>(i + 1);
}

bool Ascending(const std::vector<SortNode*>& t) {
  for (size_t i = 1; i < t.size(); ++i) {
    if (t[i]->parent->number < t[i - 1]->parent->number) return false;
  }
  return true;
}

std::vector<const TDEntry*> LiteralOrder() {
  const auto& dirs = Tables().Dirs;
  std::vector<SortNode> nodes(dirs.size());
  std::map<const TDEntry*, SortNode*> of;
  for (size_t i = 0; i < dirs.size(); ++i) {
    nodes[i] = {dirs[i], nullptr, static_cast<int>(i + 1)};
    of[dirs[i]] = &nodes[i];
  }
  for (SortNode& n : nodes) n.parent = of[n.dir->Parent];
  std::vector<SortNode*> iso, joliet;
  for (SortNode& n : nodes) iso.push_back(&n), joliet.push_back(&n);
  auto pn = [](const SortNode* a) { return a->parent->number; };
  auto byShort = [&](const SortNode* a, const SortNode* b) {
    return pn(a) != pn(b) ? pn(a) < pn(b) : a->dir->ShortName < b->dir->ShortName;
  };
  auto byLong = [&](const SortNode* a, const SortNode* b) {
    return pn(a) != pn(b) ? pn(a) < pn(b) : a->dir->LongName < b->dir->LongName;
  };
  auto byParent = [&](const SortNode* a, const SortNode* b) { return pn(a) < pn(b); };
  auto byNumber = [](const SortNode* a, const SortNode* b) { return a->number < b->number; };
  ExchangeSort(iso, byShort);
  ExchangeSort(joliet, byLong);
  for (int rounds = 0; rounds < 10000; ++rounds) {
    ExchangeSort(iso, byParent);
    ExchangeSort(iso, byShort);
    if (!Ascending(iso)) continue;
    ExchangeSort(joliet, byNumber);
    ExchangeSort(joliet, byParent);
    if (Ascending(joliet)) break;
  }
  std::vector<const TDEntry*> order;
  for (const SortNode* n : joliet) order.push_back(n->dir);
  return order;
}

TEST_F(PathTableOrderTest, SameOrderAsTheRepeatedExchangeSort) {
  const char* names[] = {"a", "B", "ab", "Ba", "c d", "x.y", "zz", "Q1", "q2", "mid", "A_", "é"};
  for (unsigned seed = 1; seed <= 5; ++seed) {
    image.ClearAll(600000, 20000);
    ScratchDir tree;
    std::mt19937 random(seed);
    std::vector<std::string> folders{""};
    for (int i = 0; i < 120; ++i) {
      const std::string parent = folders[random() % folders.size()];
      const std::string child = parent + "/" + names[random() % std::size(names)];
      if (std::find(folders.begin(), folders.end(), child) != folders.end()) continue;
      folders.push_back(child);
      tree.File("t" + child + "/f.txt", "x");
    }
    image.AddDir(image.FindDir("\\"), tree.Path() + "/t", "*.*", 63, true, false, false);
    ASSERT_TRUE(image.PrepareImage());
    const std::vector<const TDEntry*> expected = LiteralOrder();
    ASSERT_EQ(expected.size(), Tables().DirsISO.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(expected[i], Tables().DirsISO[i]) << "seed " << seed << " position " << i;
      ASSERT_EQ(expected[i], Tables().DirsJoliet[i]);
      ASSERT_EQ(Tables().DirsISO[i]->Number, static_cast<int32_t>(i + 1));
      ASSERT_LT(Tables().DirsISO[i]->Parent->Number, Tables().DirsISO[i]->Number + (i == 0));
    }
  }
}

}  // namespace
}  // namespace brennix::test
