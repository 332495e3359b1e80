// The image tree: merging, replacing, skipping and removing entries, lookups, limits, and
// the source folders that must not reach the image (special files, loops, huge files).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "image/names.h"
#include "image_fixture.h"

namespace brennix::test {
namespace {

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image.ClearAll(600000, 20000);
    image.OnDebugMessage = [this](const std::string& text, uint8_t type) {
      debug.push_back(text);
      types.push_back(type);
    };
  }
  TDEntry* Root() { return image.FindDir("\\"); }
  int Add(const std::string& folder, bool savePath = false, const std::string& mask = "*.*",
          bool archiveOnly = false) {
    return image.AddDir(Root(), scratch.Path() + "/" + folder, mask, 63, true, savePath, archiveOnly);
  }
  std::vector<std::string> Children(const TDEntry* d) {
    std::vector<std::string> names;
    for (const TFEntry* e = d->FirstEntry; e != nullptr; e = e->Next) names.push_back(e->LongName);
    return names;
  }
  bool Logged(const std::string& part) {
    for (const std::string& line : debug) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }

  ScratchDir scratch;
  TIsoImage image;
  std::vector<std::string> debug;
  std::vector<uint8_t> types;
};

TEST_F(TreeTest, FreshTreeIsEmpty) {
  TIsoImage fresh;
  EXPECT_EQ(fresh.DirCount(), 0);
  EXPECT_EQ(fresh.FileCount(), 0);
  ASSERT_TRUE(fresh.PrepareImage());
  EXPECT_EQ(fresh.SectorsToWrite(), 300);
  const TDEntry* root = fresh.FindDir("");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->ShortName, "CD_ROOT");
  EXPECT_EQ(root->LongName, "CD Root Directory");
  EXPECT_EQ(root->Parent, root);
  EXPECT_EQ(Tables().MaxFiles, 65535);
  EXPECT_EQ(Tables().MaxDirs, 8191);
}

TEST_F(TreeTest, CacheSizeSetter) {
  EXPECT_EQ(image.CacheSize(), 4194304);
  image.SetCacheSize(5000000);
  EXPECT_EQ(image.CacheSize(), 4999168);
  image.SetCacheSize(1);
  EXPECT_EQ(image.CacheSize(), 2097152);
  image.SetCacheSize(-5);
  EXPECT_EQ(image.CacheSize(), 2097152);
  image.SetCacheSize(8392704);
  EXPECT_EQ(image.CacheSize(), 8392704);
}

TEST_F(TreeTest, TwoImagesShareOneTree) {
  scratch.File("f/a.txt", "x");
  TIsoImage other;
  image.ClearAll(100, 100);
  Add("f");
  EXPECT_EQ(other.FileCount(), 1);
  EXPECT_NE(other.FindFile(other.FindDir("\\"), "A.TXT"), nullptr);
  other.ClearAll(100, 100);
  EXPECT_EQ(image.FileCount(), 0);
  EXPECT_EQ(image.FindFile(Root(), "a.txt"), nullptr);
}

TEST_F(TreeTest, SameSourceTwiceIsOneEntryAnotherSourceOfTheSameNameIsRenamed) {
  scratch.File("one/docs/a.txt", "1a");
  scratch.File("one/docs/b.txt", "1b");
  scratch.File("one/docs/c.txt", "1c");
  scratch.File("two/docs/B.TXT", "2b");
  for (const char* folder : {"one", "two", "two", "one"}) Add(folder);
  EXPECT_EQ(image.DirCount(), 1);
  const TDEntry* docs = image.FindDir("\\docs\\");
  ASSERT_NE(docs, nullptr);
  EXPECT_EQ(Children(docs), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "B~1.TXT"}));
  EXPECT_EQ(image.FindFile(docs, "b.txt")->FullPath, scratch.Path() + "/one/docs/b.txt");
  ASSERT_EQ(image.SkippedSources().size(), 1u);
  EXPECT_EQ(image.SkippedSources()[0].Source, scratch.Path() + "/two/docs/B.TXT");
  EXPECT_EQ(image.SkippedSources()[0].NewName, "docs/B~1.TXT");
  EXPECT_EQ(image.LeftOutCount(), 0);

  // Replacing: the later source takes the earlier one's place.
  image.ClearAll(100, 100);
  image.ReplaceFile = true;
  Add("one");
  Add("two");
  docs = image.FindDir("\\docs");
  EXPECT_EQ(Children(docs), (std::vector<std::string>{"a.txt", "B.TXT", "c.txt"}));
  EXPECT_EQ(image.FindFile(docs, "b.txt")->FullPath, scratch.Path() + "/two/docs/B.TXT");
  EXPECT_EQ(image.FileCount(), 4);
  EXPECT_TRUE(image.SkippedSources().empty());
}

TEST_F(TreeTest, DotlessNamesGetADot) {
  scratch.Files({"f/README", "f/LongNameWithoutDot"});
  Add("f");
  const TFEntry* readme = image.FindFile(Root(), "README.");
  ASSERT_NE(readme, nullptr);
  EXPECT_EQ(readme->ShortName, "README.");
  const TFEntry* other = image.FindFile(Root(), "longnamewithoutdot.");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->ShortName, "LONGNA~1.");
}

TEST_F(TreeTest, LongNamesAreShortenedAndReportedNeverLeftOut) {
  const std::string stem109(105, 'n');  // + ".txt" = 109 characters
  const std::string stem110(106, 'n');  // + ".txt" = 110: the same once shortened
  scratch.File("f/" + stem109 + ".txt", "a");
  scratch.File("f/" + stem110 + ".txt", "b");
  // Folders that agree in more characters than a Joliet name holds stay apart.
  scratch.File("f/" + std::string(110, 'd') + "1/x.txt", "1");
  scratch.File("f/" + std::string(110, 'd') + "2/x.txt", "2");
  Add("f");
  Add("f");  // adding them again finds them: no doubles
  EXPECT_EQ(image.FileCount(), 6);
  EXPECT_EQ(image.DirCount(), 2);
  std::set<std::string> names;
  for (const std::string& n : Children(Root())) {
    EXPECT_LE(Utf16Units(n), kMaxJolietDirUnits) << n;
    names.insert(n);
  }
  EXPECT_EQ(names.size(), 4u);
  const TFEntry* e = image.FindFile(Root(), stem109 + ".txt");
  ASSERT_NE(e, nullptr);  // found by its full name
  EXPECT_EQ(e->LongName, std::string(kMaxJolietFileUnits - 4, 'n') + ".txt");
  EXPECT_NE(image.FindFile(Root(), stem110 + ".txt"), nullptr);
  EXPECT_EQ(image.SkippedSources().size(), 4u);
  EXPECT_EQ(image.LeftOutCount(), 0);

  ASSERT_TRUE(image.PrepareImage());
  ASSERT_TRUE(image.BuildHeader());
  const auto sector = HeaderSector(image, image.JolietDirArea);
  EXPECT_EQ(sector[68], 34 + 2 * kMaxJolietIdUnits);
}

TEST_F(TreeTest, HandlersMayRenameOrSkip) {
  scratch.Files({"f/keep.txt", "f/drop.txt", "f/sub/x.txt", "f/gone/x.txt"});
  image.OnAddFile = [](TIsoImage*, const std::string& path, std::string& longName,
                       std::string& shortName, double&, int32_t, int64_t size, bool& skip) {
    EXPECT_EQ(size, 1);
    if (path.find("drop") != std::string::npos) skip = true;
    if (longName == "keep.txt") {
      longName = "Kept.txt";
      shortName = "kept.txt";  // stored upper-cased
    }
  };
  image.OnAddDir = [](TIsoImage*, std::string& longName, std::string& shortName, bool& skip) {
    if (longName == "gone") skip = true;
    if (longName == "sub") longName = "Renamed", shortName = "RENAMED";
  };
  Add("f");
  EXPECT_NE(image.FindDir("\\RENAMED"), nullptr);
  EXPECT_EQ(image.FindDir("\\gone"), nullptr);
  const TFEntry* kept = image.FindFile(Root(), "kept.txt");
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->ShortName, "KEPT.TXT");
  EXPECT_EQ(image.FindFile(Root(), "drop.txt"), nullptr);
}

TEST_F(TreeTest, HandlerNamesAreMadeSafe) {
  scratch.File("f/x.txt", "x");
  image.OnAddFile = [](TIsoImage*, const std::string&, std::string& longName,
                       std::string& shortName, double&, int32_t, int64_t, bool&) {
    longName = "../up/x.txt";
    shortName = "a;b/c.txt";
  };
  Add("f");
  const TFEntry* e = image.FindFile(Root(), ".._up_x.txt");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->ShortName, "A_B_C.TXT");
}

TEST_F(TreeTest, MasksAndArchiveFilterLeaveNoEmptyFolders) {
  scratch.Files({"f/only.dat", "f/data/only.dat", "f/text/a.txt"});
  chmod((scratch.Path() + "/f").c_str(), 0755);
  EXPECT_EQ(Add("f", false, "*.txt"), 1);
  EXPECT_EQ(image.FindDir("\\data"), nullptr);
  EXPECT_NE(image.FindDir("\\TEXT"), nullptr);
  EXPECT_EQ(image.FindFile(Root(), "only.dat"), nullptr);
  EXPECT_EQ(image.DirCount(), 1);
  EXPECT_EQ(image.FileCount(), 2);
}

TEST_F(TreeTest, HiddenFilesNeedTheirAttributeBit) {
  scratch.Files({"f/.hidden", "f/shown.txt"});
  image.AddDir(Root(), scratch.Path() + "/f", "*.*", 0x10 | 0x20, true, false, false);
  EXPECT_EQ(image.FindFile(Root(), ".hidden"), nullptr);
  image.AddDir(Root(), scratch.Path() + "/f", "*.*", 63, true, false, false);
  const TFEntry* hidden = image.FindFile(Root(), ".hidden");
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(hidden->Attr & kAttrHidden, kAttrHidden);
  EXPECT_EQ(hidden->ShortName, "HIDDEN~1.");
}

TEST_F(TreeTest, RemoveOperations) {
  scratch.Files({"f/a/1.txt", "f/a/b/2.txt", "f/c/3.txt", "f/top.txt"});
  Add("f");
  TDEntry* root = Root();
  EXPECT_FALSE(image.RemoveDir(root));
  EXPECT_NE(root, nullptr);
  EXPECT_EQ(image.DirCount(), 3);

  TDEntry* a = image.FindDir("\\A");
  ASSERT_TRUE(image.RemoveDir(a));
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(image.FindDir("\\A\\B"), nullptr);
  EXPECT_EQ(image.DirCount(), 1);
  EXPECT_EQ(image.FileCount(), 3);  // c, c/3.txt, top.txt
  EXPECT_EQ(Tables().Dirs.size(), 2u);
  EXPECT_EQ(Tables().Files.size(), 3u);
  EXPECT_EQ(Children(Root()), (std::vector<std::string>{"c", "top.txt"}));

  EXPECT_FALSE(image.RemoveFile("\\c", "nothing.txt"));
  EXPECT_FALSE(image.RemoveFile("\\nowhere", "3.txt"));
  EXPECT_TRUE(image.RemoveFile("\\C\\", "3.TXT"));
  // Now empty: pruned, and so is a parent whose only child was an empty folder.
  scratch.File("g/x/y/z.txt", "x");
  Add("g");
  EXPECT_TRUE(image.RemoveFile("\\x\\y", "z.txt"));
  EXPECT_TRUE(image.RemoveEmptyDirs());
  EXPECT_EQ(image.DirCount(), 0);
  EXPECT_EQ(Children(Root()), (std::vector<std::string>{"top.txt"}));
  EXPECT_EQ(Tables().Files.size(), 1u);
  EXPECT_EQ(Tables().DirsISO.size(), 1u);
}

// A full table of folders or of files stops the adding with a warning (type 3).
TEST_F(TreeTest, FullTablesStopTheAdding) {
  struct Case {
    std::vector<std::string> files;
    int maxFiles, maxDirs, dirs, filesAdded;
    const char* says;
  };
  const Case cases[] = {
      {{"a/1.txt", "b/2.txt"}, 100, 2, 1, 2, ">>> MAXIMUM DIRECTORIES CAN BE 2"},
      {{"1.txt", "2.txt", "3.txt"}, 2, 10, 0, 2, "MAXIMUM FILES CAN BE 2"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string folder = "f" + std::to_string(n++);
    for (const std::string& file : c.files) scratch.File(folder + "/" + file, "x");
    image.ClearAll(c.maxFiles, c.maxDirs);
    debug.clear();
    EXPECT_EQ(Add(folder), 0) << c.says;
    EXPECT_EQ(image.DirCount(), c.dirs) << c.says;
    EXPECT_EQ(image.FileCount(), c.filesAdded) << c.says;
    ASSERT_FALSE(debug.empty());
    EXPECT_EQ(debug.back(), c.says);
    EXPECT_EQ(types.back(), 3);
  }
}

TEST_F(TreeTest, SkippedLastFileOfASubfolderDoesNotEndItsParent) {
  // "a" sorts first; its only file is a duplicate of one already added, so its listing gives
  // 0. The files of the parent that follow must still be added.
  scratch.Files({"f/a/dup.txt", "f/later.txt", "pre/a/dup.txt"});
  Add("pre");
  EXPECT_EQ(Add("f"), 1);
  EXPECT_NE(image.FindFile(Root(), "later.txt"), nullptr);
}

TEST_F(TreeTest, InstallerFolderBeeps) {
  scratch.Files({"f/Installer/setup.txt", "f/installer2/setup.txt"});
  int beeps = 0;
  image.OnBeep = [&] { ++beeps; };
  Add("f");
  EXPECT_EQ(beeps, 1);
}

TEST_F(TreeTest, AddFileWithEachSavePathMode) {
  const std::string file = scratch.File("deep/er/my dir/note.txt", "x");
  EXPECT_EQ(image.AddFile("\\", file, false), 1);
  EXPECT_NE(image.FindFile(Root(), "note.txt"), nullptr);

  image.LastFolderOnly = true;
  EXPECT_EQ(image.AddFile("\\", file, true), 1);
  const TDEntry* last = image.FindDir("\\my dir");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->ShortName, "MY_DIR");  // a folder made from a path string
  EXPECT_NE(image.FindFile(last, "note.txt"), nullptr);

  image.LastFolderOnly = false;
  EXPECT_EQ(image.AddFile("\\", file, true), 1);
  std::string full = AsciiUpper(scratch.Path() + "/deep/er/my dir");
  for (char& c : full) c = c == '/' ? '\\' : c;
  EXPECT_NE(image.FindFile(image.FindDir(full), "NOTE.TXT"), nullptr);

  EXPECT_EQ(image.AddFile("\\", scratch.Path() + "/missing.txt", false), -1);
  EXPECT_EQ(image.AddFile("\\nowhere", file, false), 0);
  EXPECT_EQ(debug.back(), "INVALID DESTINATION PATH");
  EXPECT_EQ(types.back(), 4);
  EXPECT_EQ(image.AddFile("\\", scratch.Path() + "/deep", false), 0);  // a folder

  // A folder made from a path whose name the disc cannot hold is renamed with a word.
  image.RockRidge = true;
  EXPECT_EQ(image.AddFile("\\", scratch.File("odd\tdir/n.txt", "x"), true), 1);
  std::vector<TSkippedSource> renamed;
  for (const TSkippedSource& s : image.SkippedSources())
    if (!s.NewName.empty()) renamed.push_back(s);
  ASSERT_EQ(renamed.size(), 1u);
  EXPECT_EQ(renamed[0].Source, scratch.Path() + "/odd\tdir");
  EXPECT_EQ(renamed[0].NewName.substr(renamed[0].NewName.rfind('/')), "/odd_dir");
}

TEST_F(TreeTest, CreatedFoldersGetDistinctIsoNames) {
  const std::string a = scratch.File("a very long folder name one/x.txt", "x");
  const std::string b = scratch.File("a very long folder name two/x.txt", "x");
  image.LastFolderOnly = true;
  image.AddFile("\\", a, true);
  image.AddFile("\\", b, true);
  const TDEntry* one = image.FindDir("\\A VERY LONG FOLDER NAME ONE");
  const TDEntry* two = image.FindDir("\\A VERY LONG FOLDER NAME TWO");
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(one->ShortName, "A_VERY_LONG_F");
  EXPECT_NE(one->ShortName, two->ShortName);
  EXPECT_LE(two->ShortName.size(), 13u);
}

TEST_F(TreeTest, SpecialFilesAreNeverAdded) {
  scratch.File("f/plain.txt", "x");
  ASSERT_EQ(mkfifo((scratch.Path() + "/f/pipe").c_str(), 0644), 0);
  const int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string socketPath = scratch.Path() + "/f/sock";
  if (socketPath.size() < sizeof addr.sun_path) {
    std::strcpy(addr.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  symlink((scratch.Path() + "/f/pipe").c_str(), (scratch.Path() + "/f/link-to-pipe").c_str());
  symlink("/nonexistent/target", (scratch.Path() + "/f/dangling").c_str());
  Add("f");
  close(s);
  EXPECT_EQ(Children(Root()), (std::vector<std::string>{"plain.txt"}));
  EXPECT_EQ(image.AddFile("\\", scratch.Path() + "/f/pipe", false), 0);
  EXPECT_EQ(image.AddFile("\\", "/dev/null", false), 0);
  EXPECT_EQ(image.FileCount(), 1);
}

TEST_F(TreeTest, LinksAreFollowedButNeverInALoop) {
  scratch.File("f/real/data.txt", "payload");
  scratch.File("elsewhere/other.txt", "o");
  const std::string f = scratch.Path() + "/f";
  symlink((f + "/real/data.txt").c_str(), (f + "/filelink.txt").c_str());
  symlink((scratch.Path() + "/elsewhere").c_str(), (f + "/dirlink").c_str());
  symlink(f.c_str(), (f + "/real/back-to-top").c_str());
  symlink(".", (f + "/real/self").c_str());
  Add("f");
  const TFEntry* link = image.FindFile(Root(), "filelink.txt");
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->FileSize, 7);
  EXPECT_NE(image.FindFile(image.FindDir("\\DIRLINK"), "other.txt"), nullptr);
  EXPECT_EQ(image.FindDir("\\REAL\\BACK-TO-TOP"), nullptr);
  EXPECT_EQ(image.FindDir("\\REAL\\SELF"), nullptr);
  EXPECT_TRUE(Logged("LEADS BACK"));
  EXPECT_EQ(image.DirCount(), 2);
  std::set<std::string> loops;
  for (const TSkippedSource& s : image.SkippedSources())
    if (s.Reason == "LINK LOOP") loops.insert(s.Source.substr(f.size()));
  EXPECT_EQ(loops, (std::set<std::string>{"/real/back-to-top", "/real/self"}));
}

TEST_F(TreeTest, UnreadableFoldersAndFilesAreLeftOutBeforeAnythingIsWritten) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  scratch.Files({"f/locked/secret.txt", "f/open.txt", "f/sealed.txt"});
  chmod((scratch.Path() + "/f/locked").c_str(), 0);
  chmod((scratch.Path() + "/f/sealed.txt").c_str(), 0);
  Add("f");  // (its result is its last file's, left out here)
  EXPECT_EQ(image.AddFile("\\", scratch.Path() + "/f/sealed.txt", false), 1);
  EXPECT_EQ(image.FindDir("\\locked"), nullptr);
  EXPECT_NE(image.FindFile(Root(), "open.txt"), nullptr);
  EXPECT_EQ(image.FindFile(Root(), "sealed.txt"), nullptr);
  EXPECT_TRUE(Logged("CAN'T READ FOLDER"));
  EXPECT_EQ(image.LeftOutCount(), 2);  // the file once, though offered twice
  EXPECT_EQ(MeasureDiskSize(scratch.Path() + "/f"), 1);  // only what the tree takes
}

TEST_F(TreeTest, FolderBeyondThePathLimitIsSkippedWithADebugLine) {
  // Twenty levels of 250-character names: the deepest folders cannot be opened by path.
  scratch.File("f/top.txt", "x");
  const std::string level(250, 'd');
  int fd = open((scratch.Path() + "/f").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::vector<int> fds{fd};
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(mkdirat(fds.back(), level.c_str(), 0755), 0);
    const int next = openat(fds.back(), level.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(next, 0);
    fds.push_back(next);
  }
  const int file = openat(fds.back(), "deep.txt", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(file, 0);
  close(file);
  EXPECT_EQ(Add("f"), 1);
  EXPECT_NE(image.FindFile(Root(), "top.txt"), nullptr);
  EXPECT_TRUE(Logged("CAN'T READ FOLDER"));
  // Clean up from the bottom, by handle, since the paths are too long to name.
  unlinkat(fds.back(), "deep.txt", 0);
  for (size_t i = fds.size() - 1; i > 0; --i) {
    close(fds[i]);
    unlinkat(fds[i - 1], level.c_str(), AT_REMOVEDIR);
  }
  close(fds[0]);
}

TEST_F(TreeTest, FilesOfFourGibibytesTakeSeveralExtents) {
  const std::string big = scratch.Path() + "/big.bin";
  const std::string fits = scratch.Path() + "/fits.bin";
  for (const auto& [path, size] : {std::make_pair(big, 4294967296LL), std::make_pair(fits, 4294965248LL)}) {
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    if (ftruncate(fd, size) != 0) {
      close(fd);
      GTEST_SKIP() << "no sparse files here";
    }
    close(fd);
    EXPECT_EQ(image.AddFile("\\", path, false), 1);
  }
  ASSERT_TRUE(image.PrepareImage());
  ASSERT_TRUE(image.BuildHeader());
  for (const bool joliet : {false, true}) {
    const auto sector = HeaderSector(image, joliet ? image.JolietDirArea : image.ISODirArea);
    // (extent, data length, flags) of big.bin's two records and of fits.bin's one: an
    // extent holds whole sectors, 4 GiB - 2048 bytes at most.
    const uint32_t expected[3][3] = {{150, 0xFFFFF800u, 0x80},
                                     {150 + 2097151, 2048, 0},
                                     {150 + 2097152, 0xFFFFF800u, 0}};
    size_t at = 68;
    for (const auto& [extent, length, flags] : expected) {
      EXPECT_EQ(ReadLE32(sector.data() + at + 2), extent) << joliet << " record at " << at;
      EXPECT_EQ(ReadLE32(sector.data() + at + 10), length) << joliet << " record at " << at;
      EXPECT_EQ(sector[at + 25], flags) << joliet << " record at " << at;
      at += sector[at];
    }
  }
  EXPECT_EQ(image.VolumeSectors, 150 + 2097152 + 2097151);
}

TEST_F(TreeTest, UnusualNamesNeverBreakTheImage) {
  scratch.Files({"f/bad\xff\xfe name.txt", "f/back\\slash.txt", "f/emoji \xF0\x9F\x98\x80.txt",
                 "f/semi;colon.txt"});
  Add("f");
  EXPECT_EQ(image.FileCount(), 4);
  EXPECT_NE(image.FindFile(Root(), "back_slash.txt"), nullptr);
  const TFEntry* bad = image.FindFile(Root(), "bad\xff\xfe name.txt");
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(JolietIdentifier(bad->LongName)[6], 0xFF);  // U+FFFD
  ASSERT_TRUE(image.PrepareImage());
  ASSERT_TRUE(image.BuildHeader());
  // ISO names hold only what ISO readers accept, and are unique.
  std::set<std::string> seen;
  for (const TFEntry* e = Root()->FirstEntry; e != nullptr; e = e->Next) {
    for (const char c : e->ShortName) {
      EXPECT_TRUE(std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) ||
                  c == '_' || c == '.' || c == '~')
          << e->ShortName;
    }
    EXPECT_TRUE(seen.insert(e->ShortName).second) << e->ShortName;
  }
}

TEST_F(TreeTest, DiskDirSize) {
  scratch.SizedFile("f/a.bin", 1000);
  scratch.SizedFile("f/sub/b.bin", 24);
  scratch.SizedFile("f/.h", 1);
  symlink((scratch.Path() + "/f").c_str(), (scratch.Path() + "/f/sub/loop").c_str());
  EXPECT_EQ(image.DiskDirSize(scratch.Path() + "/f/"), 1025);
  EXPECT_EQ(image.DiskDirSize(scratch.Path() + "/f"), 1025);
  EXPECT_EQ(image.DiskDirSize(scratch.Path() + "/f/a.bin"), 1000);
  EXPECT_EQ(image.DiskDirSize(scratch.Path() + "/none"), 0);
}

TEST_F(TreeTest, LookupsIgnoreAsciiCaseOnly) {
  scratch.File("f/Ärger/Datei.TXT", "x");
  Add("f");
  const TDEntry* d = image.FindDir("\\Ärger");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Path, "\\ÄRGER");
  EXPECT_EQ(image.FindDir("\\ärger"), nullptr);  // only ASCII letters fold
  EXPECT_NE(image.FindFile(d, "datei.txt"), nullptr);
  EXPECT_EQ(image.FindFile(nullptr, "datei.txt"), nullptr);
}

}  // namespace
}  // namespace brennix::test
