// Images built from real folders must read back the same in independent readers: isovfy finds
// no error, isoinfo lists the names we expect, and osirrox, 7z and bsdtar extract every file
// byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>

#include "image_fixture.h"
#include "image/names.h"

namespace brennix::test {
namespace {

namespace fs = std::filesystem;

enum class SavePathMode { Full, Last, None };

// Plain: the everyday tree under every Save Path mode. Awkward: what only Rock Ridge carries
// whole (names of 104, 107 and 255 bytes, characters beyond the BMP, case twins, a folder of
// 3,000 files).
enum class Tree { Plain, Awkward };

struct Case {
  SavePathMode mode;
  bool joliet;
  bool rockRidge = false;
  Tree tree = Tree::Plain;
};

std::string ModeName(const Case& c) {
  std::string name = c.mode == SavePathMode::Full ? "Full" : c.mode == SavePathMode::Last ? "Last" : "None";
  name += c.joliet ? "Joliet" : "IsoOnly";
  if (c.rockRidge) name += "RockRidge";
  return name + (c.tree == Tree::Awkward ? "Awkward" : "");
}

// The source tree every case burns.
void MakeSourceTree(ScratchDir& scratch) {
  scratch.SizedFile("src/docs/nested/deeper/one.txt", 1);
  scratch.File("src/docs/empty.txt");
  scratch.SizedFile("src/docs/exact.bin", 2048);
  scratch.SizedFile("src/docs/over.bin", 2049);
  scratch.SizedFile("src/docs/My File With Spaces.txt", 3000);
  scratch.SizedFile("src/docs/MixedCase.TXT", 10);
  scratch.SizedFile("src/docs/Ünïcödé 日本 \xF0\x9F\x98\x80.txt", 77);
  scratch.SizedFile("src/docs/README", 12);
  scratch.SizedFile("src/docs/.hidden", 5);
  scratch.SizedFile("src/docs/.config/settings.ini", 9);
  scratch.Folder("src/docs/nothing here");
  for (int i = 0; i < 60; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "src/many/file number %02d.data", i);
    scratch.SizedFile(name, 100 + i);
  }
}

constexpr time_t kToolTime = 1000000001;

void MakeAwkwardTree(ScratchDir& scratch) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  std::string emojis;
  for (int i = 0; i < 62; ++i) emojis += emoji;
  const std::vector<std::string> names = {
      std::string(100, 'n') + ".txt",               // 104
      std::string(103, 'N') + ".dat",               // 107
      std::string(251, 'l') + ".bin",               // 255
      emojis + ".txt",                              // 252 bytes, 124 UTF-16 units
      "\xF0\x9D\x84\x9E clef " + emoji + ".txt",
      "no extension at all",
  };
  for (size_t i = 0; i < names.size(); ++i) scratch.SizedFile("src/" + names[i], 100 + 997 * i);
  scratch.SizedFile("src/readme.txt", 11);  // case twins: one is renamed for Joliet only
  scratch.SizedFile("src/README.TXT", 12);
  scratch.SizedFile("src/" + std::string(255, 'F') + "/" + std::string(200, 'g'), 5000);
  for (int i = 0; i < 3000; ++i) scratch.SizedFile("src/many/entry " + std::to_string(i), i % 7);
  std::string deep = "src";  // 30 levels, a path of over 600 bytes, files along the way
  for (int level = 1; level <= 30; ++level) {
    deep += "/level " + std::to_string(level) + " of the deep tree";
    if (level % 4 == 0 || level >= 29) scratch.SizedFile(deep + "/at " + std::to_string(level), level);
  }
  // Modes are rationalised (any execute bit gives all three), times kept to the second.
  const std::string tool = scratch.Path() + "/src/" + names[5];
  fs::permissions(tool, fs::perms::owner_all | fs::perms::group_read);
  const struct timespec times[2] = {{kToolTime, 0}, {kToolTime, 0}};
  utimensat(AT_FDCWD, tool.c_str(), times, 0);
}

// Every file below `root` by its path relative to it.
std::map<std::string, std::string> SourceFiles(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), root).string()] = entry.path().string();
  }
  return files;
}

// Readers may drop the trailing "." that dotless names carry on disc ("README." is the
// identifier, "README" what some tools show), and plain ISO names may come back in either
// case, so paths are compared component by component after this.
std::string Normalize(const std::string& relative, bool foldCase) {
  std::string out;
  for (const auto& part : fs::path(relative)) {
    std::string p = part.string();
    const size_t semicolon = p.rfind(";1");
    if (semicolon != std::string::npos && semicolon + 2 == p.size()) p.resize(semicolon);
    while (!p.empty() && p.back() == '.') p.pop_back();
    if (foldCase) p = AsciiUpper(p);
    out += "/" + p;
  }
  return out;
}

// Every file of the tree: its expected path in the image (long or ISO names) and its source.
std::map<std::string, std::string> ExpectedFiles(bool longNames) {
  std::map<std::string, std::string> files;
  for (const TFEntry* f : Tables().Files) {
    if (f->Dir != nullptr) continue;
    // Find the directory holding f by walking every directory's list (tests only).
    for (const TDEntry* d : Tables().Dirs) {
      bool found = false;
      for (const TFEntry* e = d->FirstEntry; e != nullptr; e = e->Next) found |= e == f;
      if (!found) continue;
      std::string path = longNames ? f->LongName : f->ShortName;
      for (const TDEntry* p = d; p->Parent != p; p = p->Parent) {
        path = (longNames ? p->LongName : p->ShortName) + "/" + path;
      }
      files[Normalize(path, !longNames)] = f->FullPath;
    }
  }
  return files;
}

std::map<std::string, std::string> ExtractedFiles(const std::string& root, bool foldCase) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    files[Normalize(fs::relative(entry.path(), root).string(), foldCase)] = entry.path().string();
  }
  return files;
}

void ExpectSameFiles(const std::string& tool, const std::map<std::string, std::string>& expected,
                     const std::map<std::string, std::string>& extracted) {
  std::string missing, unexpected;
  for (const auto& [k, v] : expected) {
    if (extracted.count(k) == 0) missing += "\n  " + k;
  }
  for (const auto& [k, v] : extracted) {
    if (expected.count(k) == 0) unexpected += "\n  " + k;
  }
  EXPECT_TRUE(missing.empty() && unexpected.empty())
      << tool << ": missing" << missing << "\nunexpected" << unexpected;
  for (const auto& [path, source] : expected) {
    auto it = extracted.find(path);
    if (it == extracted.end()) continue;
    EXPECT_TRUE(ReadAll(source) == ReadAll(it->second)) << tool << ": " << path << " differs";
  }
}

class ReaderTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReaderTest, IndependentReadersAgree) {
  const Case c = GetParam();
  const bool plain = c.tree == Tree::Plain;
  ScratchDir scratch;
  plain ? MakeSourceTree(scratch) : MakeAwkwardTree(scratch);
  const std::string source = scratch.Path() + "/src";

  TIsoImage image;
  std::vector<std::string> debug;
  image.OnDebugMessage = [&](const std::string& text, uint8_t) { debug.push_back(text); };
  image.ClearAll(600000, 20000);
  image.JolietFileSystem = c.joliet;
  image.RockRidge = c.rockRidge;
  image.IdVolume = "reader test";
  image.LastFolderOnly = c.mode == SavePathMode::Last;
  ASSERT_EQ(image.AddDir(image.FindDir("\\"), source + "/", "*.*", 63, true,
                         c.mode != SavePathMode::None, false),
            1);
  image.RemoveEmptyDirs();
  ASSERT_TRUE(image.PrepareImage());
  ASSERT_TRUE(image.BuildHeader());
  const std::string iso = scratch.Path() + "/out.iso";
  ASSERT_TRUE(WriteImageFile(image, iso));
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(iso)), image.ImageSectors * 2048);
  EXPECT_TRUE(debug.empty()) << debug.front();

  // Where the source folder's contents land.
  std::string prefix;
  if (c.mode == SavePathMode::Full) prefix = "\\" + AsciiUpper(source.substr(1));
  if (c.mode == SavePathMode::Last) prefix = "\\SRC";
  for (char& ch : prefix) ch = ch == '/' ? '\\' : ch;
  if (plain) {
    ASSERT_NE(image.FindDir(prefix + "\\DOCS\\NESTED\\DEEPER"), nullptr) << prefix;
    EXPECT_EQ(image.FindDir(prefix + "\\DOCS\\NOTHING HERE"), nullptr);  // empty folders go
    EXPECT_EQ(image.FileCount() - image.DirCount(), 70);
  }

  if (HaveTool("isovfy")) {
    std::string out;
    EXPECT_EQ(RunShell("isovfy '" + iso + "'", &out), 0) << out;
    EXPECT_NE(out.find("No errors found"), std::string::npos) << out;
  }
  if (HaveTool("isoinfo") && plain) {
    std::string out;
    ASSERT_EQ(RunShell("isoinfo -l -i '" + iso + "'", &out), 0) << out;
    EXPECT_NE(out.find("README.;1"), std::string::npos) << out;
    EXPECT_NE(out.find("EXACT.BIN;1"), std::string::npos);
    EXPECT_NE(out.find("MIXEDC~1.TXT;1"), std::string::npos);
    EXPECT_NE(out.find("FILENU~9.DAT;1"), std::string::npos);
    EXPECT_NE(out.find("FILEN~10.DAT;1"), std::string::npos);
    if (c.joliet) {
      ASSERT_EQ(RunShell("isoinfo -J -l -i '" + iso + "'", &out), 0) << out;
      EXPECT_NE(out.find("My File With Spaces.txt"), std::string::npos) << out;
      EXPECT_NE(out.find("MixedCase.TXT"), std::string::npos);
      EXPECT_NE(out.find("file number 59.data"), std::string::npos);
      EXPECT_NE(out.find(".hidden"), std::string::npos);
    }
  }

  // With Rock Ridge every reader below takes the source's own names.
  std::map<std::string, std::string> expected;
  if (c.rockRidge) {
    const std::string below = c.mode == SavePathMode::Full   ? source.substr(1) + "/"
                              : c.mode == SavePathMode::Last ? "src/"
                                                             : "";
    for (const auto& [path, full] : SourceFiles(source)) expected[Normalize(below + path, false)] = full;
  } else {
    expected = ExpectedFiles(c.joliet);
  }
  if (c.rockRidge && HaveTool("isoinfo")) {
    std::string out, missing;
    ASSERT_EQ(RunShell("isoinfo -R -f -i '" + iso + "'", &out), 0) << out;
    std::set<std::string> listed;
    for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
      listed.insert(Normalize(out.substr(at + 1, end - at - 1), false));
    // isoinfo follows no CL link: what lies below a moved folder it lists under rr_moved.
    for (const auto& [path, full] : expected) {
      if (std::count(path.begin(), path.end(), '/') <= 8 && listed.count(path) == 0) missing += "\n  " + path;
    }
    EXPECT_TRUE(missing.empty()) << "isoinfo -R: missing" << missing;
  }
  for (const std::string& tool : InstalledReaders()) {
    const std::string out = scratch.Path() + "/x-" + tool;
    const ShellRun x = Extract(tool, iso, out);
    ASSERT_EQ(x.status, 0) << tool << ": " << x.output;
    // 7z reads the Joliet tree when there is one, and Rock Ridge only without it (and then
    // no continuation areas, so not the longest names).
    const bool jolietNames = tool == "7z" && c.joliet && c.rockRidge;
    ExpectSameFiles(tool, jolietNames ? ExpectedFiles(true) : expected,
                    ExtractedFiles(out, !c.joliet && !c.rockRidge));
    struct stat st {};
    if (!plain && tool == "bsdtar" && stat((out + "/no extension at all").c_str(), &st) == 0) {
      EXPECT_EQ(st.st_mode & 0777, 0555u);
      EXPECT_EQ(st.st_mtime, kToolTime);
    }
  }
}

// Random trees with awkward names (long, non-ASCII, spaces, many dots, clashing 8.3 forms)
// read back whole through xorriso, 7z and bsdtar.
TEST(RandomTreeRoundTrip, ReadersExtractWhatWasAdded) {
  if (InstalledReaders().empty()) GTEST_SKIP() << "no reader installed";
  const std::vector<std::string> pieces = {"a", "B", "file", " ", ".", "Ü", "日本", "\xF0\x9F\x98\x80",
                                           "-", "_", "x", "name", "LONG", "1", "README"};
  for (unsigned seed = 1; seed <= 3; ++seed) {
    std::mt19937 random(seed);
    ScratchDir scratch;
    std::vector<std::string> folders{"src"};
    for (int i = 0; i < 80; ++i) {
      std::string name;
      const size_t parts = 1 + random() % 40;
      for (size_t p = 0; p < parts; ++p) name += pieces[random() % pieces.size()];
      if (name.find_first_not_of(". ") == std::string::npos) name = "n" + name;
      const std::string folder = folders[random() % folders.size()];
      if (random() % 4 == 0) {
        folders.push_back(folder + "/" + name);
        continue;
      }
      scratch.SizedFile(folder + "/" + name, random() % 5000);
    }
    TIsoImage image;
    image.ClearAll(600000, 20000);
    image.OnAddFile = [](TIsoImage*, const std::string&, std::string&, std::string&, double&,
                         int32_t, int64_t, bool& skip) { skip = false; };
    image.AddDir(image.FindDir("\\"), scratch.Path() + "/src", "*.*", 63, true, false, false);
    image.RemoveEmptyDirs();
    ASSERT_TRUE(image.PrepareImage());
    ASSERT_TRUE(image.BuildHeader());
    const std::string iso = scratch.Path() + "/out.iso";
    ASSERT_TRUE(WriteImageFile(image, iso));
    const auto expected = ExpectedFiles(true);
    ASSERT_GT(expected.size(), 20u);
    if (HaveTool("isovfy")) {
      std::string out;
      RunShell("isovfy '" + iso + "'", &out);
      EXPECT_NE(out.find("No errors found"), std::string::npos) << out;
    }
    for (const std::string& tool : InstalledReaders()) {
      const std::string out = scratch.Path() + "/x-" + tool;
      const ShellRun x = Extract(tool, iso, out);
      ASSERT_EQ(x.status, 0) << x.output;
      ExpectSameFiles(tool + " seed " + std::to_string(seed), expected, ExtractedFiles(out, false));
    }
  }
}

// Every save-path mode with and without Joliet; Rock Ridge on two of them and the awkward tree.
std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const bool joliet : {true, false})
    for (const SavePathMode mode : {SavePathMode::Full, SavePathMode::Last, SavePathMode::None})
      cases.push_back({mode, joliet});
  cases.push_back({SavePathMode::Full, true, true});
  cases.push_back({SavePathMode::None, false, true});
  cases.push_back({SavePathMode::None, true, true, Tree::Awkward});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(AllModes, ReaderTest, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return ModeName(p.param); });

}  // namespace
}  // namespace brennix::test
