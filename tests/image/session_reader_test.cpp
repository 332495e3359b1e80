// The reader of an earlier session: our own images and xorriso's read back as the tree they
// were made from (names, sizes, bytes behind the extents, times), and damaged discs end in
// an error with the reader's prefix, never in a crash, a hang or a read past the disc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <sys/stat.h>

#include "image/records.h"
#include "image/session_reader.h"
#include "image_fixture.h"

namespace brennix::test {
namespace {

namespace fs = std::filesystem;

// A disc of which only some stretches hold bytes; the rest reads as zeros (the data of a
// sparse file of several GiB need not sit in memory).
struct Disc {
  std::map<uint32_t, std::vector<uint8_t>> Chunks;  // first sector -> bytes
  uint32_t Sectors = 0;
  uint32_t FailAt = UINT32_MAX;  // a sector that cannot be read
  int Reads = 0;

  TSectorReader Reader() {
    return [this](uint32_t sector, uint32_t count, uint8_t* out, std::string& error) {
      ++Reads;
      if (count == 0 || static_cast<uint64_t>(sector) + count > Sectors) {
        error = "READ PAST THE END";
        ADD_FAILURE() << "read of " << count << " at " << sector << " past " << Sectors;
        return false;
      }
      if (sector <= FailAt && FailAt - sector < count) {
        error = "MEDIUM ERROR";
        return false;
      }
      std::memset(out, 0, static_cast<size_t>(count) * kSectorSize);
      const uint64_t from = static_cast<uint64_t>(sector) * kSectorSize, to = from + count * uint64_t{kSectorSize};
      for (const auto& [first, bytes] : Chunks) {
        const uint64_t start = static_cast<uint64_t>(first) * kSectorSize, end = start + bytes.size();
        const uint64_t lo = std::max(from, start), hi = std::min(to, end);
        if (lo < hi) std::memcpy(out + (lo - from), bytes.data() + (lo - start), hi - lo);
      }
      return true;
    };
  }
  std::vector<uint8_t> Bytes(const TImportedEntry& file) {
    std::vector<uint8_t> all, part;
    for (const TImportedExtent& e : file.Extents) {
      part.resize((e.Bytes + kSectorSize - 1) / kSectorSize * kSectorSize);
      std::string error;
      Reader()(e.Sector, static_cast<uint32_t>(part.size() / kSectorSize), part.data(), error);
      all.insert(all.end(), part.begin(), part.begin() + e.Bytes);
    }
    return all;
  }
};

enum class Tree { Plain, Long, Awkward, Huge, Fuzz };

constexpr int64_t kHugeSize = 4608LL << 20;  // 4.5 GiB: two extents

// Plain: names every tree keeps as they are. Long: names Joliet keeps (spaces, accents, a
// folder of two sectors). Awkward: what only Rock Ridge keeps (names of 104, 107 and 255
// bytes, characters beyond the BMP, case twins, a depth of 30). Huge: a sparse 4.5 GiB file.
// Fuzz: all of it.
void MakeTree(ScratchDir& s, Tree tree) {
  s.SizedFile("src/DOCS/ONE.TXT", 100);
  s.SizedFile("src/DOCS/TWO.TXT", 200);
  s.File("src/DOCS/EMPTY.TXT");
  s.SizedFile("src/DOCS/SUB/TWO.BIN", 5000);
  s.SizedFile("src/README", 12);
  s.SizedFile("src/EXACT.BIN", 2048);
  if (tree == Tree::Huge || tree == Tree::Fuzz) fs::resize_file(s.File("src/ZZ/BIG.BIN"), kHugeSize);
  if (tree == Tree::Huge || tree == Tree::Plain) return;
  s.SizedFile("src/My File With Spaces.txt", 3000);
  s.SizedFile("src/Ünïcödé 日本 \xF0\x9D\x84\x9E.txt", 77);
  for (int i = 0; i < 60; ++i) s.SizedFile("src/many/file number " + std::to_string(i) + ".data", 100 + i);
  if (tree == Tree::Long) return;
  const std::string emoji = "\xF0\x9F\x98\x80";
  s.SizedFile("src/" + std::string(100, 'n') + ".txt", 104);
  s.SizedFile("src/" + std::string(103, 'N') + ".dat", 107);
  s.SizedFile("src/" + std::string(251, 'l') + ".bin", 255);
  s.SizedFile("src/\xF0\x9D\x84\x9E clef " + emoji + ".txt", 9);
  s.SizedFile("src/readme.txt", 11);
  s.SizedFile("src/README.TXT", 12);
  s.SizedFile("src/" + std::string(255, 'F') + "/" + std::string(200, 'g'), 5000);
  std::string deep = "src";
  for (int level = 1; level <= 30; ++level) {
    deep += "/level " + std::to_string(level) + " of the deep tree";
    if (level % 7 == 0 || level == 30) s.SizedFile(deep + "/at " + std::to_string(level), level);
  }
  fs::permissions(s.SizedFile("src/tool", 20), fs::perms::owner_all | fs::perms::group_read);
  fs::create_symlink("tool", s.Path() + "/src/link");  // we follow it; xorriso -R keeps it a link
}

// Our own image, laid out from StartSector on, as the recorder would find it on the disc.
Disc OwnDisc(const std::string& source, bool joliet, bool rockRidge, int32_t startSector) {
  TIsoImage image;
  image.ClearAll(600000, 20000);
  image.JolietFileSystem = joliet;
  image.RockRidge = rockRidge;
  image.StartSector = startSector;
  image.IdVolume = "earlier";
  EXPECT_EQ(image.AddDir(image.FindDir("\\"), source + "/", "*.*", 63, true, false, false), 1);
  image.RemoveEmptyDirs();
  EXPECT_TRUE(image.PrepareImage());
  EXPECT_TRUE(image.BuildHeader());
  Disc disc;
  disc.Sectors = static_cast<uint32_t>(image.VolumeSectors);
  disc.Chunks[static_cast<uint32_t>(startSector)] = image.HeaderStream.Bytes();
  int64_t cursor = image.FirstFileSector;
  for (const TFEntry* f : Tables().Files) {
    if (f->Dir != nullptr || f->FileSize <= 0) continue;
    if (f->FileSize < (64 << 20)) disc.Chunks[static_cast<uint32_t>(cursor)] = ReadAll(f->FullPath);
    cursor += (f->FileSize + 2047) / 2048;
  }
  return disc;
}

Disc XorrisoDisc(ScratchDir& s, const std::string& options) {
  const std::string iso = s.Path() + "/x.iso";
  std::string log;
  // Only the head of an image with a file of 4.5 GiB: the file's data comes last.
  const std::string xorriso = "xorriso -as mkisofs " + options + " -V EARLIER -o - '" + s.Path() + "/src'";
  RunShell("(" + xorriso + " | head -c 16M >'" + iso + "')", &log);
  Disc disc;
  disc.Chunks[0] = ReadAll(iso);
  EXPECT_GT(disc.Chunks[0].size(), 17 * kSectorSize) << log;
  disc.Sectors = static_cast<uint32_t>(disc.Chunks[0].size() / kSectorSize);
  if (disc.Chunks[0].size() > 17 * kSectorSize)
    disc.Sectors = std::max(disc.Sectors, ReadLE32(&disc.Chunks[0][16 * kSectorSize + 80]));
  return disc;
}

using Listing = std::map<std::string, const TImportedEntry*>;
void Flatten(const TImportedEntry& dir, const std::string& path, Listing& out) {
  for (const TImportedEntry& e : dir.Children) {
    out[path + e.Name] = &e;
    if (e.IsDir) Flatten(e, path + e.Name + "/", out);
  }
}

struct Case {
  const char* name;
  Tree tree;
  bool joliet, rockRidge;
  int32_t startSector;
  const char* treeRead;
  const char* xorriso = nullptr;  // its options; none: our own image
};

class SessionReaderTest : public ::testing::TestWithParam<Case> {};

TEST_P(SessionReaderTest, ReadsTheTreeItWasMadeFrom) {
  const Case c = GetParam();
  if (c.xorriso != nullptr && !HaveTool("xorriso")) GTEST_SKIP() << "no xorriso";
  ScratchDir scratch;
  MakeTree(scratch, c.tree);
  const std::string source = scratch.Path() + "/src";
  Disc disc = c.xorriso == nullptr ? OwnDisc(source, c.joliet, c.rockRidge, c.startSector)
                                   : XorrisoDisc(scratch, c.xorriso);
  TImportedSession session;
  std::string error;
  const uint32_t start = static_cast<uint32_t>(c.startSector);
  ASSERT_TRUE(ReadEarlierSession(disc.Reader(), start, disc.Sectors, session, error)) << error;
  EXPECT_EQ(session.TreeRead, c.treeRead);
  EXPECT_EQ(session.VolumeId, "EARLIER");
  const bool linkKept = c.xorriso != nullptr && c.rockRidge;
  EXPECT_EQ(session.LeftOut, linkKept ? std::vector<std::string>{"/link: NOT A REGULAR FILE"}
                                      : std::vector<std::string>{});

  Listing read;
  Flatten(session.Root, "", read);
  std::string missing, unexpected;
  uint64_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    const std::string path = entry.path().lexically_relative(source).string();
    const auto it = read.find(path);
    if (it == read.end()) {
      if (!linkKept || path != "link") missing += "\n  " + path;
      continue;
    }
    const TImportedEntry& e = *it->second;
    EXPECT_EQ(e.IsDir, entry.is_directory()) << path;
    if (c.rockRidge) {
      struct stat st {};
      stat(entry.path().c_str(), &st);
      EXPECT_EQ(e.ModTime, st.st_mtime) << path;
      const uint32_t mode = e.IsDir || (st.st_mode & 0111) != 0 ? 0555 : 0444;  // as we write them
      EXPECT_TRUE(c.xorriso != nullptr || e.Mode == mode) << path << ": mode " << std::oct << e.Mode;
    }
    if (e.IsDir) continue;
    ++files;
    EXPECT_EQ(e.Size, fs::file_size(entry.path())) << path;
    if (e.Size < (64 << 20)) {
      EXPECT_TRUE(disc.Bytes(e) == ReadAll(entry.path().string())) << path << ": other bytes";
    } else {
      ASSERT_EQ(e.Extents.size(), 2u) << path;  // one after the other, the first as large as allowed
      EXPECT_EQ(e.Extents[0].Bytes, static_cast<uint32_t>(kMaxExtentBytes));
      EXPECT_EQ(e.Extents[1].Sector, e.Extents[0].Sector + e.Extents[0].Bytes / kSectorSize);
    }
  }
  for (const auto& [path, e] : read) {
    if (!fs::exists(source + "/" + path)) unexpected += "\n  " + path;
  }
  EXPECT_TRUE(missing.empty() && unexpected.empty()) << "missing" << missing << "\nunexpected" << unexpected;
  EXPECT_EQ(session.FileCount, files);
  EXPECT_EQ(session.FileCount + session.DirCount, read.size());
}

INSTANTIATE_TEST_SUITE_P(
    Images, SessionReaderTest,
    ::testing::Values(Case{"OursIso", Tree::Plain, false, false, 0, "ISO 9660"},
                      Case{"OursJoliet", Tree::Long, true, false, 0, "Joliet"},
                      Case{"OursJolietLaterSession", Tree::Long, true, false, 5000, "Joliet"},
                      Case{"OursRockRidgeJoliet", Tree::Awkward, true, true, 0, "Rock Ridge"},
                      Case{"OursRockRidgeLaterSession", Tree::Awkward, false, true, 3000, "Rock Ridge"},
                      Case{"OursHugeRockRidge", Tree::Huge, true, true, 0, "Rock Ridge"},
                      Case{"OursHugeJoliet", Tree::Huge, true, false, 0, "Joliet"},
                      Case{"XorrisoIso", Tree::Plain, false, false, 0, "ISO 9660", "--norock"},
                      Case{"XorrisoJoliet", Tree::Long, true, false, 0, "Joliet", "--norock -J -joliet-utf16"},
                      Case{"XorrisoRockRidgeRelocated", Tree::Awkward, false, true, 0, "Rock Ridge",
                           "-R -rr_reloc_dir rr_moved"},
                      Case{"XorrisoRockRidgeJoliet", Tree::Awkward, true, true, 0, "Rock Ridge", "-R -J"},
                      Case{"XorrisoHugeJoliet", Tree::Huge, true, false, 0, "Joliet",
                           "-iso-level 3 --norock -J"}),
    [](const auto& p) { return std::string(p.param.name); });

// Our image with every kind of structure (Rock Ridge with continuation areas and relocated
// folders, Joliet, a file of two extents), its head in memory from sector 0, and the offset
// of every directory record in it.
struct Damageable {
  ScratchDir Scratch;
  Disc Clean;
  std::vector<size_t> Records;

  Damageable() {
    MakeTree(Scratch, Tree::Fuzz);
    Clean = OwnDisc(Scratch.Path() + "/src", true, true, 0);
    Clean.Chunks.erase(std::next(Clean.Chunks.begin()), Clean.Chunks.end());  // file data is never read
    const std::vector<uint8_t>& head = Clean.Chunks[0];
    for (size_t sector = 17; (sector + 1) * kSectorSize <= head.size(); ++sector) {
      for (size_t at = sector * kSectorSize; at < (sector + 1) * kSectorSize && head[at] >= 34;) {
        if (at + head[at] > (sector + 1) * kSectorSize) break;
        Records.push_back(at);
        at += head[at];
      }
    }
  }
  // Where `bytes` first stand from `from` on (a record: its identifier with the length byte).
  size_t Find(const std::string& bytes, size_t from = 17 * kSectorSize) const {
    const std::vector<uint8_t>& head = Clean.Chunks.at(0);
    const auto start = head.begin() + static_cast<std::ptrdiff_t>(from);
    const auto it = std::search(start, head.end(), bytes.begin(), bytes.end());
    EXPECT_NE(it, head.end()) << bytes;
    return static_cast<size_t>(it - head.begin());
  }
  size_t Record(const std::string& id) const { return Find(static_cast<char>(id.size()) + id) - 32; }
};

const std::string kClEntry("CL\x0C\x01", 4);

TEST(SessionReaderDamage, SaysWhatIsWrong) {
  Damageable image;
  const uint32_t root = ReadLE32(image.Clean.Chunks[0].data() + 16 * kSectorSize + 158);
  struct Damage {
    std::function<void(const Damageable& m, uint8_t* h, Disc& d)> apply;
    const char* message;
  };
  const std::vector<Damage> damages = {
      {[](auto&, uint8_t* h, Disc&) { h[16 * kSectorSize + 1] = 'X'; }, "NO ISO 9660 VOLUME BEGINS AT SECTOR 16"},
      {[](auto& m, uint8_t* h, Disc& d) { WriteBoth32(h + m.Record("DOCS") + 2, d.Sectors + 9); },
       "FOLDER /DOCS POINTS PAST THE END OF THE DISC"},
      {[](auto& m, uint8_t* h, Disc&) { WriteBoth32(h + m.Record("DOCS") + 10, 0xFFFFFFFF); },
       "FOLDER /DOCS IS LARGER THAN 64 MIB"},
      {[&](auto& m, uint8_t* h, Disc&) { WriteBoth32(h + m.Record("SUB") + 2, root); },
       "FOLDER /DOCS/SUB LEADS BACK TO A FOLDER READ BEFORE"},
      {[](auto& m, uint8_t* h, Disc& d) { WriteBoth32(h + m.Record("TWO.BIN;1") + 2, d.Sectors - 1); },
       "FILE /DOCS/SUB/TWO.BIN POINTS PAST THE END OF THE DISC"},
      {[](auto& m, uint8_t* h, Disc&) { h[m.Find("NM", m.Record("ONE.TXT;1")) + 5] = '/'; },
       "THE NAME OF /DOCS//NE.TXT HOLDS A SLASH"},
      {[](auto& m, uint8_t* h, Disc&) { std::memcpy(h + m.Find("NM", m.Record("TWO.TXT;1")) + 5, "ONE", 3); },
       "FOLDER /DOCS HOLDS TWO ENTRIES NAMED ONE.TXT"},
      {[&](auto& m, uint8_t* h, Disc&) {  // the root's continuation area is its own CE entry
         const size_t ce = m.Find(std::string("CE\x1C\x01", 4), root * kSectorSize);
         WriteBoth32(h + ce + 4, static_cast<uint32_t>(ce / kSectorSize));
         WriteBoth32(h + ce + 12, static_cast<uint32_t>(ce % kSectorSize));
         WriteBoth32(h + ce + 20, 28);
       },
       "THE ROCK RIDGE ENTRIES OF A RECORD IN FOLDER / CONTINUE TOO OFTEN"},
      {[](auto& m, uint8_t* h, Disc& d) { d.FailAt = ReadLE32(h + m.Record("DOCS") + 2); },
       "READ ERROR AT SECTOR"},
      {[](auto& m, uint8_t* h, Disc&) { WriteBoth32(h + m.Find(kClEntry) + 4, 16); },
       "of the deep tree IS LINKED TO A PLACE THAT HOLDS NO FOLDER"},
      {[&](auto& m, uint8_t* h, Disc&) { WriteBoth32(h + m.Find(kClEntry) + 4, root); },
       "of the deep tree LEADS BACK TO A FOLDER READ BEFORE"},
      // Damage that would otherwise lose part of the tree without a word.
      {[](auto& m, uint8_t* h, Disc&) { h[m.Find(kClEntry)] = 'X'; }, "HAS NO LINK TO ITS PLACE"},
      {[](auto& m, uint8_t* h, Disc&) { h[m.Record("ONE.TXT;1")] = 0; }, "HAS A LENGTH OF 0"},
      {[&](auto& m, uint8_t* h, Disc&) { h[m.Find(std::string("SP\x07\x01", 4), root * kSectorSize) + 6] = 9; },
       "ARE DAMAGED"},
  };
  for (const Damage& damage : damages) {
    Disc disc = image.Clean;
    damage.apply(image, disc.Chunks[0].data(), disc);
    TImportedSession session;
    std::string error;
    EXPECT_FALSE(ReadEarlierSession(disc.Reader(), 0, disc.Sectors, session, error));
    EXPECT_EQ(error.rfind(kEarlierSessionErrorPrefix, 0), 0u) << error;
    EXPECT_NE(error.find(damage.message), std::string::npos) << error;
    EXPECT_TRUE(session.Root.Children.empty()) << error;
  }
}

// A recording that ended early: its tree names files whose data never reached the disc.
// Those are left out by name; every folder and every file wholly recorded stays.
TEST(SessionReaderDamage, KeepsOnlyFilesWhollyRecorded) {
  Damageable image;
  TEarlierSessionBounds bounds;
  bounds.DiscSectors = image.Clean.Sectors;
  const uint32_t head = static_cast<uint32_t>(image.Clean.Chunks[0].size() / kSectorSize);
  bounds.Recorded = {{0, head}};
  TImportedSession whole, cut;
  std::string error;
  ASSERT_TRUE(ReadEarlierSession(image.Clean.Reader(), 0, image.Clean.Sectors, whole, error)) << error;
  ASSERT_TRUE(ReadEarlierSession(image.Clean.Reader(), 0, bounds, cut, error)) << error;
  Listing all, kept;
  Flatten(whole.Root, "", all);
  Flatten(cut.Root, "", kept);
  size_t dataFiles = 0;
  for (const auto& [path, e] : all) {
    const bool beyond = !e->IsDir && !e->Extents.empty();
    dataFiles += beyond;
    EXPECT_EQ(kept.count(path), beyond ? 0u : 1u) << path;
  }
  ASSERT_GT(dataFiles, 0u);
  EXPECT_EQ(cut.LeftOut.size(), dataFiles);
  for (const std::string& line : cut.LeftOut)
    EXPECT_NE(line.find(std::string(": ") + kNotWholeText), std::string::npos) << line;
}

// Thousands of damaged copies: whatever the reader makes of them, it answers, with the
// prefix when it refuses, within a bounded number of reads, never past the disc.
TEST(SessionReaderDamage, RandomDamageNeverCrashesOrHangs) {
  Damageable image;
  const uint32_t root = ReadLE32(image.Clean.Chunks[0].data() + 16 * kSectorSize + 158);
  const size_t sp = image.Find(std::string("SP\x07\x01", 4), root * kSectorSize);
  const size_t headBytes = image.Clean.Chunks[0].size();
  std::mt19937 random(20261207);
  const auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    Disc disc = image.Clean;
    uint8_t* h = disc.Chunks[0].data();
    for (int k = 1 + pick(3); k > 0; --k) {
      const size_t at = image.Records[pick(static_cast<uint32_t>(image.Records.size()))];
      const uint32_t n = disc.Sectors, own = static_cast<uint32_t>(at / kSectorSize);
      const uint32_t places[] = {own, 16, 0, n - 1, n, n + pick(99), ~0u, pick(n)};
      const uint32_t lengths[] = {0, 1, 2048, 0xFFFFFFFF, (64u << 20) + 1, pick(~0u), 0x7FFFF800};
      const uint8_t recordLengths[] = {0, 1, 33, 255, static_cast<uint8_t>(h[at] + 2)};
      const uint8_t flags[] = {2, 0x80, 4, 1};
      switch (pick(8)) {
        case 0: h[16 * kSectorSize + pick(3 * kSectorSize)] = static_cast<uint8_t>(random()); break;  // descriptors
        case 1: h[17 * kSectorSize + pick(static_cast<uint32_t>(headBytes - 17 * kSectorSize))] ^= 1 << pick(8); break;
        case 2: h[at] = recordLengths[pick(5)]; break;
        case 3: WriteBoth32(h + at + 2, places[pick(8)]); break;
        case 4: WriteBoth32(h + at + 10, lengths[pick(7)]); break;
        case 5: h[at + 25] ^= flags[pick(4)]; break;
        case 6: h[at + 32] = static_cast<uint8_t>(random()); break;  // identifier length
        default: h[at + 33 + pick(image.Clean.Chunks[0][at] - 33u)] = static_cast<uint8_t>(random()); break;
      }
    }
    if (pick(50) == 0) disc.FailAt = pick(static_cast<uint32_t>(headBytes / kSectorSize));
    if (pick(4) == 0) h[sp] = 'X';  // no Rock Ridge: the Joliet tree is read
    if (pick(8) == 0) h[17 * kSectorSize + 88] = 0;  // no Joliet: the plain ISO tree
    TImportedSession session;
    std::string error;
    const bool ok = ReadEarlierSession(disc.Reader(), 0, disc.Sectors, session, error);
    accepted += ok;
    ASSERT_TRUE(ok || error.rfind(kEarlierSessionErrorPrefix, 0) == 0) << "round " << round << ": " << error;
    ASSERT_LT(disc.Reads, 5000) << "round " << round;
  }
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, 3000);
}

}  // namespace
}  // namespace brennix::test
