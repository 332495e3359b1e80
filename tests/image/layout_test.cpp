// Byte-exact checks of the layout, the volume descriptors, the directory records and the
// path tables, on trees built from small folders on disk.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "image/records.h"
#include "platform/date_time.h"
#include "image_fixture.h"

namespace brennix::test {
namespace {

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image.ClearAll(600000, 20000);
    image.Now = [] { return FixedNow(); };
    image.OnDebugMessage = [this](const std::string& text, uint8_t) { debug.push_back(text); };
  }
  TDEntry* Root() { return image.FindDir("\\"); }
  // Adds the contents of scratch/<folder> to the root.
  void AddFolder(const std::string& folder) {
    ASSERT_NE(image.AddDir(Root(), scratch.Path() + "/" + folder, "*.*", 63, true, false, false), 0);
  }
  void Build() {
    ASSERT_TRUE(image.PrepareImage());
    ASSERT_TRUE(image.BuildHeader());
  }
  // `count` one-byte files: before, the file's number in `digits` digits, after.
  void NumberedFiles(int count, const std::string& before, size_t digits, const std::string& after) {
    for (int i = 0; i < count; ++i) {
      const std::string number = std::to_string(i);
      scratch.File(before + std::string(digits - number.size(), '0') + number + after, "x");
    }
  }
  std::vector<uint8_t> Sector(int64_t s) { return HeaderSector(image, s); }
  // Where the structures of the head lie, the Joliet ones only when it has them.
  std::string Places() const {
    const bool j = image.JolietFileSystem;
    const auto both = [j](int64_t iso, int64_t joliet) {
      return std::to_string(iso) + (j ? "/" + std::to_string(joliet) : "");
    };
    return "descriptors " + both(image.PrimaryDescriptorSector, image.JolietDescriptorSector) +
           ", terminator " + std::to_string(image.TerminatorSector) + ", path tables " +
           both(image.PathTableL, image.JolietPathTableL) + " and " +
           both(image.PathTableM, image.JolietPathTableM) + ", directories " +
           both(image.ISODirArea, image.JolietDirArea) + ", pad " + std::to_string(image.PadSectors) +
           ", files " + std::to_string(image.FirstFileSector) + ", volume " +
           std::to_string(image.VolumeSectors);
  }

  ScratchDir scratch;
  TIsoImage image;
  std::vector<std::string> debug;
};

TEST_F(LayoutTest, EmptyTreeIsoOnly) {
  image.JolietFileSystem = false;
  Build();
  EXPECT_EQ(Places(), "descriptors 16, terminator 17, path tables 18 and 19, directories 20, pad 129, "
                      "files 150, volume 150");
  EXPECT_EQ(image.HeaderStream.Size(), 150 * 2048);
  EXPECT_EQ(Sector(17)[0], 255);  // terminator right after the primary descriptor
  EXPECT_EQ(image.SectorsToWrite(), 300);
  image.WritePostGap = false;
  EXPECT_EQ(image.SectorsToWrite(), 150);
}

TEST_F(LayoutTest, EmptyTreeWithJoliet) {
  Build();
  EXPECT_EQ(Places(), "descriptors 16/17, terminator 18, path tables 19/21 and 20/22, directories "
                      "23/24, pad 125, files 150, volume 150");
  // System area and pad sectors are zero.
  const auto& head = image.HeaderStream.Bytes();
  for (size_t i = 0; i < 16 * 2048; ++i) ASSERT_EQ(head[i], 0) << i;
  for (size_t i = 25 * 2048; i < head.size(); ++i) ASSERT_EQ(head[i], 0) << i;
}

TEST_F(LayoutTest, EmptyRootRecordsAndPathTables) {
  Build();
  for (const int64_t s : {image.ISODirArea, image.JolietDirArea}) {
    const auto sector = Sector(s);
    EXPECT_EQ(Hex(sector.data(), 34),
              "2200" + Hex(sector.data() + 2, 8) + "0008000000000800" + Hex(sector.data() + 18, 7) +
                  "020000010000010100");
    EXPECT_EQ(ReadLE32(sector.data() + 2), static_cast<uint32_t>(s));
    EXPECT_EQ(ReadBE32(sector.data() + 6), static_cast<uint32_t>(s));
    EXPECT_EQ(sector[34], 34);
    EXPECT_EQ(ReadLE32(sector.data() + 34 + 2), static_cast<uint32_t>(s));  // ".." of the root is itself
    EXPECT_EQ(sector[34 + 33], 1);
    for (size_t i = 68; i < 2048; ++i) ASSERT_EQ(sector[i], 0);
    // "." carries the time BuildHeader ran.
    EXPECT_EQ(Hex(sector.data() + 18, 6), "6b0302090507");
  }
  const auto l = Sector(image.PathTableL);
  const auto m = Sector(image.PathTableM);
  EXPECT_EQ(Hex(l.data(), 10), "01001700000001000000");
  EXPECT_EQ(Hex(m.data(), 10), "01000000001700010000");
  for (size_t i = 10; i < 2048; ++i) ASSERT_EQ(l[i] | m[i], 0);
  EXPECT_EQ(image.PathTableSize, 10);
  EXPECT_EQ(ReadLE32(Sector(image.JolietPathTableL).data() + 2), 24u);
}

TEST_F(LayoutTest, FileSizesTakeWholeSectors) {
  scratch.SizedFile("f/a1.bin", 1);
  scratch.SizedFile("f/b2048.bin", 2048);
  scratch.File("f/c0.bin");
  scratch.SizedFile("f/d2049.bin", 2049);
  scratch.SizedFile("f/e3.bin", 3);
  AddFolder("f");
  Build();
  auto loc = [&](const char* name) { return image.FindFile(Root(), name)->Location; };
  EXPECT_EQ(loc("a1.bin"), 0);
  EXPECT_EQ(loc("b2048.bin"), 1);
  EXPECT_EQ(loc("c0.bin"), 0);
  EXPECT_EQ(loc("d2049.bin"), 2);
  EXPECT_EQ(loc("e3.bin"), 4);
  EXPECT_EQ(image.VolumeSectors, 155);
  EXPECT_EQ(image.ImageSectors, 155);
  // The empty file's records carry extent 0 in both byte orders, in both trees.
  for (const int64_t s : {image.ISODirArea, image.JolietDirArea}) {
    const auto sector = Sector(s);
    size_t at = 68;
    for (int i = 0; i < 2; ++i) at += sector[at];  // a1, b2048
    EXPECT_EQ(Hex(sector.data() + at + 2, 16), "00000000000000000000000000000000");
    at += sector[at];
    EXPECT_EQ(ReadLE32(sector.data() + at + 2), 152u);  // d2049 at 150 + 2
    EXPECT_EQ(ReadLE32(sector.data() + at + 10), 2049u);
    EXPECT_EQ(ReadBE32(sector.data() + at + 14), 2049u);
  }
}

TEST_F(LayoutTest, ReadmeRecordsInBothTrees) {
  scratch.SizedFile("f/README.TXT", 5000);
  AddFolder("f");
  Build();
  const auto iso = Sector(image.ISODirArea);
  const uint8_t* r = iso.data() + 68;
  EXPECT_EQ(r[0], 46);
  EXPECT_EQ(r[32], 12);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 33), 12), "README.TXT;1");
  EXPECT_EQ(r[45], 0);  // pad byte
  EXPECT_EQ(Hex(r + 2, 8), "9600000000000096");
  EXPECT_EQ(Hex(r + 10, 8), "8813000000001388");
  EXPECT_EQ(r[25], 0);
  const auto joliet = Sector(image.JolietDirArea);
  const uint8_t* j = joliet.data() + 68;
  EXPECT_EQ(j[0], 58);
  EXPECT_EQ(j[32], 24);
  EXPECT_EQ(Hex(j + 33, 6), "005200450041");
  EXPECT_EQ(ReadLE32(j + 2), 150u);
}

TEST_F(LayoutTest, EightThreeNamesKeepTheirFormInBothTrees) {
  scratch.SizedFile("f/readme.txt", 4);
  AddFolder("f");
  Build();
  const TFEntry* e = image.FindFile(Root(), "README.TXT");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->ShortName, "README.TXT");
  EXPECT_EQ(e->LongName, "readme.txt");
  const auto joliet = Sector(image.JolietDirArea);
  EXPECT_EQ(Hex(joliet.data() + 68 + 33, 24), "0072006500610064006d0065002e007400780074003b0031");
}

TEST_F(LayoutTest, SixtyFilesSpillIntoASecondSector) {
  NumberedFiles(60, "f/FILE", 4, ".DAT");
  AddFolder("f");
  image.JolietFileSystem = false;
  Build();
  EXPECT_EQ(Root()->ISOSize, 4096);
  const auto first = Sector(image.ISODirArea);
  size_t at = 0;
  for (int i = 0; i < 43; ++i) {
    ASSERT_EQ(first[at], i < 2 ? 34 : 48);
    at += first[at];
  }
  EXPECT_EQ(at, 2036u);
  for (size_t i = 2036; i < 2048; ++i) EXPECT_EQ(first[i], 0);
  const auto second = Sector(image.ISODirArea + 1);
  EXPECT_EQ(second[0], 48);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(second.data() + 33), 14), "FILE0041.DAT;1");
}

TEST_F(LayoutTest, RecordsThatFillASectorExactlyNeedNoSecond) {
  // 68 + 48 + 42 * 46 = 2048.
  scratch.File("f/AAAAAAAA.TXT", "x");
  NumberedFiles(42, "f/B", 6, ".TXT");
  AddFolder("f");
  image.JolietFileSystem = false;
  Build();
  EXPECT_EQ(Root()->ISOSize, 2048);
  EXPECT_EQ(image.ISODirSectors, 1);
  scratch.File("f/C.TXT", "x");
  image.ClearAll(100, 100);
  AddFolder("f");
  Build();
  EXPECT_EQ(Root()->ISOSize, 4096);
}

// 128 subfolders: 126 with 8-character names (16-byte records), one of 3 characters and the
// last of 1 or 3: 10 + 126 * 16 + 12 + 10 = 2048 bytes, a sector exactly, or 2050, one record
// past it (records are even, so 2049 cannot occur).
TEST_F(LayoutTest, PathTableAtAndJustPastASectorsEnd) {
  for (const std::string last : {"Z", "ZZZ"}) {
    SCOPED_TRACE(last);
    const std::string root = "p" + last;
    NumberedFiles(126, root + "/D", 7, "/x.txt");
    scratch.Files({root + "/ABC/x.txt", root + "/" + last + "/x.txt"});
    image.ClearAll(600000, 20000);
    image.JolietFileSystem = false;
    AddFolder(root);
    Build();
    const int64_t size = last.size() == 1 ? 2048 : 2050, sectors = (size + 2047) / 2048;
    EXPECT_EQ(image.PathTableSize, size);
    EXPECT_EQ(image.PathTableM, image.PathTableL + sectors);
    EXPECT_EQ(image.ISODirArea, image.PathTableL + 2 * sectors);
    // The last record ends the table, the rest of its sector is zero; the M table repeats it
    // with the parent number 1 big-endian.
    std::vector<uint8_t> l, m;
    for (int64_t s = 0; s < sectors; ++s) {
      const auto ls = Sector(image.PathTableL + s), ms = Sector(image.PathTableM + s);
      l.insert(l.end(), ls.begin(), ls.end());
      m.insert(m.end(), ms.begin(), ms.end());
    }
    const size_t at = static_cast<size_t>(size) - 8 - (last.size() + 1) / 2 * 2;
    EXPECT_EQ(l[at], last.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(l.data() + at + 8), last.size()), last);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.data() + at + 8), last.size()), last);
    EXPECT_EQ(Hex(m.data() + at + 6, 2), "0001");
    for (size_t i = at + 8 + last.size(); i < l.size(); ++i) ASSERT_EQ(l[i], 0) << i;
  }
}

TEST_F(LayoutTest, LargeDirectoryAreasNeedNoPadding) {
  for (int i = 0; i < 80; ++i) scratch.File("d/F" + std::to_string(i) + "/e.txt");
  AddFolder("d");
  Build();
  EXPECT_EQ(image.PadSectors, 0);
  EXPECT_EQ(image.FirstFileSector, image.JolietDirArea + image.JolietDirSectors);
  EXPECT_GT(image.FirstFileSector, 150);
  EXPECT_EQ(image.HeaderStream.Size(), image.FirstFileSector * 2048);
}

TEST_F(LayoutTest, StartSectorShiftsEverything) {
  scratch.SizedFile("f/a.txt", 10);
  AddFolder("f");
  image.StartSector = 1000;
  Build();
  EXPECT_EQ(Places(), "descriptors 1016/1017, terminator 1018, path tables 1019/1021 and 1020/1022, "
                      "directories 1023/1024, pad 0, files 1025, volume 1026");
  EXPECT_EQ(image.ImageSectors, 26);
  EXPECT_EQ(ReadLE32(Sector(1016).data() + 80), 1026u);
  EXPECT_EQ(ReadLE32(Sector(1016).data() + 156 + 2), 1023u);
  EXPECT_EQ(ReadLE32(Sector(1023).data() + 68 + 2), 1025u);
}

TEST_F(LayoutTest, PrimaryDescriptorFields) {
  image.IdVolume = "backup 2";
  image.IdSystem = "linux";
  image.IdApplication = "Brennix";
  Build();
  const auto p = Sector(16);
  EXPECT_EQ(Hex(p.data(), 8), "0143443030310100");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 8), 32), "LINUX" + std::string(27, ' '));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 40), 32), "BACKUP 2" + std::string(24, ' '));
  EXPECT_EQ(Hex(p.data() + 72, 8), "0000000000000000");
  EXPECT_EQ(Hex(p.data() + 80, 8), "9600000000000096");
  EXPECT_EQ(Hex(p.data() + 88, 32), std::string(64, '0'));
  EXPECT_EQ(Hex(p.data() + 120, 12), "010000010100000100080800");
  EXPECT_EQ(Hex(p.data() + 132, 8), "0a0000000000000a");
  EXPECT_EQ(Hex(p.data() + 140, 16), "1300000000000000" "0000001400000000");
  EXPECT_EQ(Hex(p.data() + 156, 34),
            "2200170000000000001700080000000008000000000000000002000001000001" "0100");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 190), 128), std::string(128, ' '));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 574), 7), "BRENNIX");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 702), 111), std::string(111, ' '));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 813), 16), "2007030209050745");
  EXPECT_EQ(p[829], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 830), 16), "2007030209050745");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 847), 16), std::string(16, '0'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 864), 16), std::string(16, '0'));
  EXPECT_EQ(p[863] | p[880], 0);
  EXPECT_EQ(p[881], 1);
  for (size_t i = 882; i < 1024; ++i) ASSERT_EQ(p[i], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 1024), 8), "        ");
  for (size_t i = 1032; i < 2048; ++i) ASSERT_EQ(p[i], 0);
}

TEST_F(LayoutTest, JolietDescriptorFields) {
  image.IdVolume = "backup 2";
  image.FileCopyright = "copyright.txt";
  Build();
  const auto j = Sector(17);
  EXPECT_EQ(Hex(j.data(), 8), "0243443030310100");
  std::string expected = "006200610063006b007500700020003200200020002000200020002000200020";
  EXPECT_EQ(Hex(j.data() + 40, 32), expected);
  EXPECT_EQ(Hex(j.data() + 8, 4), "00200020");
  EXPECT_EQ(Hex(j.data() + 88, 3), "252f40");
  EXPECT_EQ(Hex(j.data() + 132, 8), "0a0000000000000a");
  EXPECT_EQ(ReadLE32(j.data() + 140), 21u);
  EXPECT_EQ(ReadBE32(j.data() + 148), 22u);
  EXPECT_EQ(ReadLE32(j.data() + 156 + 2), 24u);
  EXPECT_EQ(ReadLE32(j.data() + 156 + 10), 2048u);
  EXPECT_EQ(Hex(j.data() + 702, 4), "0063006f");
  EXPECT_EQ(Hex(j.data() + 702 + 34, 3), "002000");  // 18 characters, then the 37th byte 0
  // The Joliet dates come from the date properties, which default to 0.0.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(j.data() + 813), 16), "1899123000000000");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(j.data() + 847), 16), std::string(16, '0'));
  EXPECT_EQ(j[881], 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(j.data() + 1024), 8), "        ");
  const auto t = Sector(18);
  EXPECT_EQ(Hex(t.data(), 7), "ff434430303101");
  for (size_t i = 7; i < 2048; ++i) ASSERT_EQ(t[i], 0);
  // The descriptor copy holds the first 19 sectors, the rest 0xFF.
  EXPECT_EQ(image.DescriptorCopySize, 19 * 2048);
  EXPECT_EQ(std::memcmp(image.DescriptorCopy.data(), image.HeaderStream.Bytes().data(), 19 * 2048), 0);
  EXPECT_EQ(image.DescriptorCopy[19 * 2048], 0xFF);
  EXPECT_EQ(image.DescriptorCopy.back(), 0xFF);
  EXPECT_EQ(image.DescriptorCopy.size(), 65537u);
}

TEST_F(LayoutTest, LongVolumeIdentifierIsCut) {
  image.IdVolume = std::string(20, 'a') + std::string(20, 'b');
  Build();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Sector(16).data() + 40), 32),
            std::string(20, 'A') + std::string(12, 'B'));
  const auto j = Sector(17);
  EXPECT_EQ(j[40 + 31], 'a');  // 16 characters, all from the first part
  EXPECT_EQ(j[72], 0);
}

TEST_F(LayoutTest, VolumeLabelsAreNeverCutInsideACharacterNorCarryControlCharacters) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
  struct Case {
    std::string label, primary;  // primary: before the space padding
    std::u16string joliet;       // likewise
  };
  const std::vector<Case> cases = {
      {"Grüße 2026", "GR__E 2026", u"Grüße 2026"},
      {"line\nbreak\ttab", "LINE_BREAK_TAB", u"line_break_tab"},
      {"a@b#c$\x7F", "A_B_C__", u"a@b#c$_"},
      {"bad\xFF", "BAD_", u"bad\uFFFD"},
      {std::string(31, 'a') + "é", std::string(31, 'A') + "_", std::u16string(16, u'a')},
      {std::string(15, 'x') + emoji, std::string(15, 'X') + "_", std::u16string(15, u'x')},
  };
  for (const Case& c : cases) {
    image.IdVolume = c.label;
    Build();
    const auto p = Sector(16);
    std::string primary(reinterpret_cast<const char*>(p.data() + 40), 32);
    EXPECT_EQ(primary, c.primary + std::string(32 - c.primary.size(), ' ')) << c.label;
    const auto j = Sector(17);
    std::u16string joliet;
    for (size_t i = 0; i < 16; ++i) joliet += static_cast<char16_t>(j[40 + 2 * i] << 8 | j[41 + 2 * i]);
    EXPECT_TRUE(joliet == c.joliet + std::u16string(16 - c.joliet.size(), u' ')) << c.label;
  }
}

TEST_F(LayoutTest, JolietOffWritesNoJolietStructures) {
  image.JolietFileSystem = false;
  Build();
  EXPECT_EQ(Sector(17)[0], 255);
  EXPECT_EQ(image.DescriptorCopySize, 18 * 2048);
  EXPECT_EQ(Hex(Sector(16).data() + 88, 3), "000000");
}

TEST(DateField, MillisecondsKeepOnlyTwoCharacters) {
  auto field = [](int ms) {
    DateTimeFields f;
    f.Year = 2007, f.Month = 3, f.Day = 2, f.Hour = 9, f.Minute = 5, f.Second = 7, f.Millisecond = ms;
    double v = 0;
    EncodeDateTime(f, v);
    uint8_t out[17];
    PutDateField(out, v);
    EXPECT_EQ(out[16], 0);
    return std::string(reinterpret_cast<const char*>(out), 16);
  };
  EXPECT_EQ(field(45), "2007030209050745");
  EXPECT_EQ(field(456), "2007030209050745");
  EXPECT_EQ(field(5), "2007030209050705");
  EXPECT_EQ(field(0), "2007030209050700");
}

TEST_F(LayoutTest, HiddenSubdirectoryFlagsWhenAsked) {
  scratch.Files({"f/.secret/a.txt", "f/.b.txt"});
  AddFolder("f");
  image.MarkHidden = true;
  Build();
  for (const int64_t s : {image.ISODirArea, image.JolietDirArea}) {
    const auto sector = Sector(s);
    EXPECT_EQ(sector[68 + 25], 0x03);
    EXPECT_EQ(sector[68 + sector[68] + 25], 0x01);
  }
  image.MarkHidden = false;
  Build();
  EXPECT_EQ(Sector(image.ISODirArea)[68 + 25], 0x02);
}

class TimeZoneTest : public ::testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(TimeZoneTest, RecordsCarryTheStandardOffset) {
  const char* saved = std::getenv("TZ");
  const std::string old = saved ? saved : "";
  setenv("TZ", GetParam().first, 1);
  {
    ScratchDir scratch;
    scratch.File("f/a.txt", "x");
    TIsoImage image;
    image.ClearAll(10, 10);
    EXPECT_EQ(image.TimeZoneOffset, GetParam().second);
    image.AddDir(image.FindDir("\\"), scratch.Path() + "/f", "*.*", 63, true, false, false);
    ASSERT_TRUE(image.PrepareImage());
    ASSERT_TRUE(image.BuildHeader());
    const auto sector = HeaderSector(image, image.ISODirArea);
    EXPECT_EQ(sector[24], static_cast<uint8_t>(GetParam().second));
    EXPECT_EQ(sector[68 + 24], static_cast<uint8_t>(GetParam().second));
  }
  if (saved) {
    setenv("TZ", old.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

INSTANTIATE_TEST_SUITE_P(Zones, TimeZoneTest,
                         ::testing::Values(std::make_pair("UTC-1", 4), std::make_pair("UTC+1", -4),
                                           // daylight saving is left out
                                           std::make_pair("CET-1CEST,M3.5.0,M10.5.0/3", 4),
                                           std::make_pair("IST-5:30", 22),
                                           std::make_pair("UTC", 0)));

TEST_F(LayoutTest, HeaderWithoutAFreshLayoutIsRefused) {
  // No layout yet: the head cannot end where the first file begins.
  EXPECT_FALSE(image.BuildHeader());
  EXPECT_FALSE(debug.empty());
  Build();
  // The tree grew after the layout: a new layout is needed before the head fits again.
  scratch.File("f/late.txt", "late");
  AddFolder("f");
  image.PrepareImage();
  EXPECT_TRUE(image.BuildHeader());
  EXPECT_EQ(image.HeaderStream.Size(), (image.FirstFileSector - image.StartSector) * 2048);
}

TEST_F(LayoutTest, ImageBeyondThirtyTwoBitSectorsIsRefused) {
  // 1025 sparse files just under 4 GiB: their sectors no longer fit a 32-bit extent.
  scratch.Folder("big");
  for (int i = 0; i < 1025; ++i) {
    const std::string path = scratch.Path() + "/big/f" + std::to_string(i);
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const bool sized = ftruncate(fd, 4294967295LL) == 0;
    close(fd);
    if (!sized) GTEST_SKIP() << "no sparse files here";
  }
  AddFolder("big");
  EXPECT_EQ(image.FileCount(), 1025);
  EXPECT_FALSE(image.PrepareImage());
  EXPECT_FALSE(debug.empty());
}

}  // namespace
}  // namespace brennix::test
