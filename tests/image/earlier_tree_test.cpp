// Entries of an earlier session in a new tree: a queued entry of the same full name wins (one
// that differs in case leaves the old file beside it, renamed where the tree folds case),
// folders merge, and every tree of the new head points at the old extents, as the
// earlier-session reader finds them.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "image/names.h"
#include "image/records.h"
#include "image/session_reader.h"
#include "image_fixture.h"

namespace brennix::test {
namespace {

TImportedEntry Entry(const std::string& name, std::vector<TImportedExtent> extents,
                     std::vector<TImportedEntry> children = {}, bool dir = false) {
  TImportedEntry e{name, dir, std::move(extents), 0, 1700000000, 0100755, false, std::move(children)};
  for (const TImportedExtent& x : e.Extents) e.Size += x.Bytes;
  return e;
}

// Upper-cased path -> extents (sector, bytes), with "/" for a folder.
void Flatten(const TImportedEntry& dir, const std::string& path,
             std::map<std::string, std::vector<std::pair<uint32_t, uint32_t>>>& out) {
  for (const TImportedEntry& c : dir.Children) {
    auto& extents = out[path + AsciiUpper(c.Name) + (c.IsDir ? "/" : "")];
    for (const TImportedExtent& x : c.Extents) extents.emplace_back(x.Sector, x.Bytes);
    if (c.IsDir) Flatten(c, path + AsciiUpper(c.Name) + "/", out);
  }
}

TEST(EarlierSessionInTree, EveryTreePointsAtTheOldExtentsAndQueuedNamesWin) {
  constexpr auto kFull = static_cast<uint32_t>(kMaxExtentBytes);
  TImportedSession earlier;
  earlier.Root = Entry("/", {}, {Entry("same.txt", {{40, 100}}),  // stays beside Same.TXT
                                 Entry("keep", {}, {Entry("old.bin", {{50, 4096}})}, true),
                                 Entry("big.dat", {{60, kFull}, {60 + kFull / 2048, 5000}}),
                                 Entry("README", {}), Entry("emptied", {}, {}, true),
                                 Entry("note.txt", {}, {Entry("in.txt", {{70, 1}})}, true)},
                       true);
  for (const char* tree : {"Rock Ridge", "Joliet", "ISO 9660"}) {
    SCOPED_TRACE(tree);
    ScratchDir dir;
    dir.File("src/Same.TXT", "queued");
    dir.File("src/note.txt", "a queued file beats a kept folder");
    dir.SizedFile("src/keep/new.bin", 5000);
    const std::string queued = dir.File("late/Readme", "added after the import");
    TIsoImage image;
    image.ClearAll(1000, 100);
    image.RockRidge = tree[0] == 'R';
    image.JolietFileSystem = tree[0] != 'I';
    ASSERT_EQ(image.AddDir(image.FindDir("\\"), dir.Path() + "/src", "*.*", 63, true, false, false), 1);
    const auto count = image.AddEarlierSession(earlier);
    EXPECT_EQ(count.Files, 4);  // same.txt, old.bin, big.dat, README; nothing below note.txt/
    EXPECT_EQ(count.Replaced, 1);
    ASSERT_EQ(image.AddFile("\\", queued, false), 1);  // replaces the kept README

    image.StartSector = 2200000;  // past every old extent
    ASSERT_TRUE(image.PrepareImage());
    ASSERT_TRUE(image.BuildHeader());
    EXPECT_EQ(image.VolumeSectors - image.FirstFileSector, 6);  // the queued files alone
    const std::vector<uint8_t>& head = image.HeaderStream.Bytes();
    const TSectorReader read = [&](uint32_t sector, uint32_t n, uint8_t* out, std::string&) {
      std::memset(out, 0, size_t{n} * kSectorSize);
      const int64_t at = (int64_t{sector} - image.StartSector) * kSectorSize;
      const int64_t size = static_cast<int64_t>(head.size());
      if (at >= 0 && at < size) std::memcpy(out, &head[at], std::min<int64_t>(size - at, n * int64_t{kSectorSize}));
      return true;
    };
    TImportedSession again;
    std::string error;
    ASSERT_TRUE(ReadEarlierSession(read, 2200000, static_cast<uint32_t>(image.VolumeSectors), again, error)) << error;
    EXPECT_EQ(again.TreeRead, tree);
    std::map<std::string, std::vector<std::pair<uint32_t, uint32_t>>> got;
    Flatten(again.Root, "", got);
    const uint32_t first = static_cast<uint32_t>(image.FirstFileSector);
    decltype(got) want{{"BIG.DAT", {{60, kFull}, {60 + kFull / 2048, 5000}}},
                       {"EMPTIED/", {}},
                       {"KEEP/", {}},
                       {"KEEP/NEW.BIN", {{first, 5000}}},
                       {"KEEP/OLD.BIN", {{50, 4096}}},
                       {"NOTE.TXT", {{first + 4, 33}}},
                       {"README", {{first + 5, 22}}},
                       {"SAME.TXT", {{first + 3, 6}}}};
    // Rock Ridge keeps both names as they are ("Same.TXT", "same.txt": one key here); the
    // trees that fold case give the old file a "~1" name.
    if (tree[0] == 'R') {
      want["SAME.TXT"].emplace_back(40, 100);
    } else {
      want["SAME~1.TXT"] = {{40, 100}};
    }
    EXPECT_EQ(got, want);
  }
}

}  // namespace
}  // namespace brennix::test
