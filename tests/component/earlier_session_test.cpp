// Burns that keep the files of the disc's last session: three sessions on each kind of
// writable medium, a first session another program made, and a disc whose tree is damaged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "burn_harness.h"
#include "image/session_reader.h"
#include "platform/clock.h"

namespace brennix {
namespace {

using burntest::CompareLastSession;
using burntest::Rig;
using burntest::TempDir;
using burntest::WriteFile;

struct NewFile {
  std::string onDisc;
  size_t size;
};

class EarlierFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!burntest::HaveXorriso()) GTEST_SKIP() << "xorriso is not installed";
  }

  // Writes `files` below a source folder of their own and burns that folder with the import
  // on; what the disc should then show is updated in expected_.
  void BurnKeeping(std::optional<MediaProfile> profile, const std::vector<NewFile>& files,
                   int64_t importedFiles, int64_t replacedFiles) {
    const std::string source = dir_ / ("session" + std::to_string(++sessions_));
    int64_t newSectors = 0;
    for (const NewFile& f : files) {
      WriteFile(source + "/" + f.onDisc, f.size, static_cast<uint32_t>(sessions_ * 100 + f.size));
      expected_[f.onDisc] = source + "/" + f.onDisc;
      newSectors += static_cast<int64_t>((f.size + 2047) / 2048);
    }
    Rig rig(disc_, profile);
    ASSERT_TRUE(rig.ok()) << rig.error();
    rig.burner().ImportSession = true;
    ASSERT_TRUE(rig.Queue({source}));
    ASSERT_EQ(rig.Burn().error, "");
    TKorbBurner& b = rig.burner();
    EXPECT_EQ(b.ImportedFiles(), importedFiles);
    EXPECT_EQ(b.ReplacedFiles(), replacedFiles);
    // Only the new files' data was laid out and sent.
    EXPECT_EQ(b.VolumeSectors - b.FirstFileSector, newSectors);
    EXPECT_LE(b.BytesWritten(), b.SectorsToWrite() * 2048);
  }

  ScopedTestClock clock_;  // before the rigs: no thread may run while clocks change
  TempDir dir_;
  std::string disc_ = dir_ / "disc.img";
  int sessions_ = 0;
  std::map<std::string, std::string> expected_;
};

std::string TestName(MediaProfile profile) {
  std::string name;
  for (const char c : ProfileName(profile)) name += c == '+' ? "plus" : c == '-' ? "_" : std::string(1, c);
  return name;
}

struct MediumCase {
  MediaProfile profile;
  bool bsdtar;  // read the last session back with bsdtar instead of xorriso
};

class ThreeSessions : public EarlierFiles, public ::testing::WithParamInterface<MediumCase> {};

TEST_P(ThreeSessions, TheLastShowsEveryFileWithItsNewestContent) {
  BurnKeeping(GetParam().profile, {{"a/one.txt", 3000}, {"top.txt", 5000}}, 0, 0);
  BurnKeeping(std::nullopt, {{"b/two.bin", 70001}, {"a/three.txt", 1}}, 2, 0);
  BurnKeeping(std::nullopt, {{"top.txt", 9000}, {"c/four.bin", 4097}}, 3, 1);
  EXPECT_EQ(CompareLastSession(disc_, expected_, GetParam().bsdtar), "");
}

INSTANTIATE_TEST_SUITE_P(
    EveryWritableKind, ThreeSessions,
    ::testing::Values(MediumCase{MediaProfile::CdR, false}, MediumCase{MediaProfile::DvdPlusR, true},
                      MediumCase{MediaProfile::DvdRwRestricted, false},
                      MediumCase{MediaProfile::DvdPlusRw, false}),
    [](const ::testing::TestParamInfo<MediumCase>& p) {
      return TestName(p.param.profile) + (p.param.bsdtar ? "_bsdtar" : "");
    });

class ForeignFirstSession : public EarlierFiles,
                            public ::testing::WithParamInterface<MediaProfile> {};

TEST_P(ForeignFirstSession, IsKept) {
  const std::string theirs = dir_ / "theirs";
  WriteFile(theirs + "/docs/letter.txt", 4000, 7);
  WriteFile(theirs + "/Photo With A Long Name 2024.jpg", 30000, 8);
  const std::string make = "xorriso -as mkisofs -J -R -o '" + disc_ + "' '" + theirs +
                           "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  expected_ = {{"docs/letter.txt", theirs + "/docs/letter.txt"},
               {"Photo With A Long Name 2024.jpg", theirs + "/Photo With A Long Name 2024.jpg"}};
  // A disc file without a state is a disc holding that image, still open for more.
  BurnKeeping(GetParam(), {{"docs/reply.txt", 2500}}, 2, 0);
  EXPECT_EQ(CompareLastSession(disc_, expected_), "");
}

INSTANTIATE_TEST_SUITE_P(WriteOnceAndOverwritable, ForeignFirstSession,
                         ::testing::Values(MediaProfile::CdR, MediaProfile::DvdPlusRw),
                         [](const ::testing::TestParamInfo<MediaProfile>& p) {
                           return TestName(p.param);
                         });

TEST_F(EarlierFiles, ADamagedEarlierTreeEndsTheBurnBeforeAnythingIsWritten) {
  BurnKeeping(MediaProfile::CdR, {{"a/one.txt", 3000}}, 0, 0);
  {
    // Both roots (ISO and Joliet) now point far past the end of the disc.
    std::fstream file(disc_, std::ios::in | std::ios::out | std::ios::binary);
    for (const int sector : {16, 17}) {
      const char far[8] = {'\x00', '\x00', '\x00', '\x7f', '\x7f', '\x00', '\x00', '\x00'};
      file.seekp(sector * 2048 + 156 + 2);
      file.write(far, sizeof far);
    }
  }
  TempDir more;
  WriteFile(more / "b.txt", 100, 3);
  Rig rig(disc_, std::nullopt);
  ASSERT_TRUE(rig.ok()) << rig.error();
  rig.burner().ImportSession = true;
  ASSERT_TRUE(rig.Queue({more / "b.txt"}));
  const burntest::BurnOutcome out = rig.Burn();
  EXPECT_FALSE(out.started);
  EXPECT_EQ(out.error.rfind(kEarlierSessionErrorPrefix, 0), 0u) << out.error;
  EXPECT_EQ(rig.drive().Writes(), 0);
  // Without the import the same disc takes the new files.
  rig.burner().ImportSession = false;
  ASSERT_TRUE(rig.Queue({more / "b.txt"}));
  EXPECT_EQ(rig.Burn().error, "");
}

}  // namespace
}  // namespace brennix
