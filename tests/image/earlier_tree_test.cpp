// Entries of an earlier session in a new tree: queued names win, folders merge, and every
// tree of the new head (ISO, Joliet, Rock Ridge) points at the old extents, which the
// reader of earlier sessions finds again.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "image/names.h"
#include "image/records.h"
#include "image/session_reader.h"
#include "image_fixture.h"

namespace brennix::test {
namespace {

TImportedEntry File(const std::string& name, std::vector<TImportedExtent> extents) {
  TImportedEntry e;
  e.Name = name;
  e.Extents = std::move(extents);
  for (const TImportedExtent& x : e.Extents) e.Size += x.Bytes;
  e.ModTime = 1700000000;
  e.Mode = 0100755;
  return e;
}

TImportedEntry Folder(const std::string& name, std::vector<TImportedEntry> children) {
  TImportedEntry e;
  e.Name = name;
  e.IsDir = true;
  e.Children = std::move(children);
  e.ModTime = 1700000000;
  return e;
}

// name (upper-cased) -> entry, for every entry below `dir`, by path.
void Flatten(const TImportedEntry& dir, const std::string& path,
             std::map<std::string, const TImportedEntry*>& out) {
  for (const TImportedEntry& c : dir.Children) {
    const std::string p = path + AsciiUpper(c.Name);
    out[p] = &c;
    if (c.IsDir) Flatten(c, p + "/", out);
  }
}

struct Flavour {
  bool joliet;
  bool rockRidge;
  const char* treeRead;
};

TEST(EarlierSessionInTree, EveryTreePointsAtTheOldExtentsAndQueuedNamesWin) {
  constexpr uint32_t kMaxExtentSectors = static_cast<uint32_t>(kMaxExtentBytes / kSector);
  const TImportedEntry root = Folder(
      "/", {File("same.txt", {{40, 100}}),                   // the queued Same.TXT replaces it
            Folder("keep", {File("old.bin", {{50, 4096}})}),  // merges with the queued keep/
            File("big.dat", {{60, static_cast<uint32_t>(kMaxExtentBytes)},
                             {60 + kMaxExtentSectors, 5000}}),
            File("README", {}), Folder("emptied", {}),
            Folder("note.txt", {File("inner.txt", {{70, 1}})})});  // a queued file of that name
  for (const Flavour& f : {Flavour{true, true, "Rock Ridge"}, Flavour{true, false, "Joliet"},
                           Flavour{false, false, "ISO 9660"}}) {
    SCOPED_TRACE(f.treeRead);
    ScratchDir dir;
    dir.File("src/Same.TXT", "queued");
    dir.File("src/note.txt", "queued too");
    dir.SizedFile("src/keep/new.bin", 5000);
    TIsoImage image;
    image.ClearAll(1000, 100);
    image.JolietFileSystem = f.joliet;
    image.RockRidge = f.rockRidge;
    image.Now = FixedNow;
    ASSERT_EQ(image.AddDir(image.FindDir("\\"), dir.Path() + "/src", "*.*", 63, true, false, false), 1);
    TImportedSession earlier;
    earlier.Root = root;
    const auto count = image.AddEarlierSession(earlier);
    EXPECT_EQ(count.Files, 3);     // old.bin, big.dat, README; nothing of note.txt/
    EXPECT_EQ(count.Replaced, 2);  // same.txt and the folder note.txt
    EXPECT_TRUE(image.EarlierSessionAdded());

    image.StartSector = 2200000;  // past every old extent
    ASSERT_TRUE(image.PrepareImage());
    ASSERT_TRUE(image.BuildHeader());
    // Only the queued files take sectors: 1 + 1 + 3.
    EXPECT_EQ(image.VolumeSectors - image.FirstFileSector, 5);

    const std::vector<uint8_t>& head = image.HeaderStream.Bytes();
    const TSectorReader read = [&](uint32_t sector, uint32_t n, uint8_t* out, std::string&) {
      std::memset(out, 0, size_t{n} * kSector);
      for (uint32_t i = 0; i < n; ++i) {
        const int64_t at = (int64_t{sector} + i - image.StartSector) * kSector;
        if (at >= 0 && at < static_cast<int64_t>(head.size())) std::memcpy(out + size_t{i} * kSector, &head[at], kSector);
      }
      return true;
    };
    TImportedSession again;
    std::string error;
    ASSERT_TRUE(ReadEarlierSession(read, static_cast<uint32_t>(image.StartSector),
                                   static_cast<uint32_t>(image.VolumeSectors), again, error))
        << error;
    EXPECT_EQ(again.TreeRead, f.treeRead);
    std::map<std::string, const TImportedEntry*> got;
    Flatten(again.Root, "", got);
    std::string names;
    for (const auto& [p, e] : got) names += p + " ";
    ASSERT_EQ(got.size(), 8u) << names;
    const auto extents = [&](const std::string& path) {
      std::vector<std::pair<uint32_t, uint32_t>> out;
      if (got.count(path) != 0)
        for (const TImportedExtent& x : got[path]->Extents) out.emplace_back(x.Sector, x.Bytes);
      return out;
    };
    using Extents = std::vector<std::pair<uint32_t, uint32_t>>;
    EXPECT_EQ(extents("KEEP/OLD.BIN"), (Extents{{50, 4096}}));
    EXPECT_EQ(extents("BIG.DAT"),
              (Extents{{60, static_cast<uint32_t>(kMaxExtentBytes)}, {60 + kMaxExtentSectors, 5000}}));
    EXPECT_EQ(got.count("README") + got.count("README."), 1u) << names;
    EXPECT_TRUE(got["EMPTIED"] != nullptr && got["EMPTIED"]->IsDir);
    ASSERT_EQ(extents("SAME.TXT").size(), 1u);
    EXPECT_GE(extents("SAME.TXT")[0].first, static_cast<uint32_t>(image.FirstFileSector));
    EXPECT_FALSE(got["NOTE.TXT"]->IsDir);
    if (f.rockRidge) {
      EXPECT_EQ(got["KEEP/OLD.BIN"]->ModTime, 1700000000);
      EXPECT_EQ(got["KEEP/OLD.BIN"]->Mode & 0111, 0111u);  // execute bits kept
    }
  }
}

TEST(EarlierSessionInTree, AQueuedFileAddedAfterTheImportStillReplacesIt) {
  ScratchDir dir;
  const std::string queued = dir.File("Notes.txt", "new");
  TIsoImage image;
  image.ClearAll(1000, 100);
  TImportedSession earlier;
  earlier.Root = Folder("/", {File("notes.txt", {{30, 10}})});
  EXPECT_EQ(image.AddEarlierSession(earlier).Files, 1);
  ASSERT_EQ(image.AddFile("\\", queued, false), 1);
  EXPECT_EQ(image.FileCount(), 1);
  const TFEntry* f = image.FindFile(image.FindDir("\\"), "NOTES.TXT");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(f->Imported);
  EXPECT_EQ(f->FullPath, queued);
  image.ClearAll(1000, 100);
  EXPECT_FALSE(image.EarlierSessionAdded());
}

}  // namespace
}  // namespace brennix::test
