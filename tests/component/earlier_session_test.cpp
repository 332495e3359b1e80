// Burns that keep the files of the disc's last session: three sessions on each kind of
// writable medium, a first session another program made, and a disc whose tree is damaged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

#include "burn_harness.h"
#include "image/session_reader.h"
#include "platform/clock.h"

namespace brennix {
namespace {

using burntest::Rig;
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

  // Burns `files` (made in a source folder of their own) with the import on; expected_
  // follows what the disc should then show.
  void BurnKeeping(std::optional<MediaProfile> profile, const std::vector<NewFile>& files,
                   int64_t kept, int64_t replaced) {
    const std::string source = dir_ / ("session" + std::to_string(++sessions_));
    int64_t newSectors = 0;
    for (const NewFile& f : files) {
      WriteFile(expected_[f.onDisc] = source + "/" + f.onDisc, f.size,
                static_cast<uint32_t>(sessions_ * 100 + f.size));
      newSectors += static_cast<int64_t>((f.size + 2047) / 2048);
    }
    Rig rig(disc_, profile);
    ASSERT_TRUE(rig.ok()) << rig.error();
    rig.burner().ImportSession = true;
    ASSERT_TRUE(rig.Queue({source}));
    ASSERT_EQ(rig.Burn().error, "");
    const TKorbBurner& b = rig.burner();
    EXPECT_EQ(b.ImportedFiles(), kept);
    EXPECT_EQ(b.ReplacedFiles(), replaced);
    EXPECT_EQ(b.VolumeSectors - b.FirstFileSector, newSectors);  // only new data is laid out
  }

  ScopedTestClock clock_;  // before the rigs: no thread may run while clocks change
  burntest::TempDir dir_;
  std::string disc_ = dir_ / "disc.img";
  int sessions_ = 0;
  std::map<std::string, std::string> expected_;
};

std::string TestName(MediaProfile profile) {
  std::string name;
  for (const char c : ProfileName(profile)) name += c == '+' ? "plus" : c == '-' ? "_" : std::string(1, c);
  return name;
}

// The medium, and whether bsdtar rather than xorriso reads the last session back.
class ThreeSessions : public EarlierFiles,
                      public ::testing::WithParamInterface<std::pair<MediaProfile, bool>> {};

TEST_P(ThreeSessions, TheLastShowsEveryFileWithItsNewestContent) {
  BurnKeeping(GetParam().first, {{"a/one.txt", 3000}, {"top.txt", 5000}}, 0, 0);
  BurnKeeping(std::nullopt, {{"b/two.bin", 70001}, {"a/three.txt", 1}}, 2, 0);
  BurnKeeping(std::nullopt, {{"top.txt", 9000}, {"c/four.bin", 4097}}, 3, 1);
  EXPECT_EQ(burntest::CompareLastSession(disc_, expected_, GetParam().second), "");
}

INSTANTIATE_TEST_SUITE_P(EveryWritableKind, ThreeSessions,
                         ::testing::Values(std::pair{MediaProfile::CdR, false},
                                           std::pair{MediaProfile::DvdPlusR, true},
                                           std::pair{MediaProfile::DvdRwRestricted, false},
                                           std::pair{MediaProfile::DvdPlusRw, false}),
                         [](const auto& p) { return TestName(p.param.first); });

class ForeignFirstSession : public EarlierFiles,
                            public ::testing::WithParamInterface<MediaProfile> {};

TEST_P(ForeignFirstSession, IsKept) {
  const std::string theirs = dir_ / "theirs";
  for (const auto& [name, size] : {std::pair<std::string, size_t>{"docs/letter.txt", 4000},
                                   {"Photo With A Long Name 2024.jpg", 30000}}) {
    WriteFile(expected_[name] = theirs + "/" + name, size, static_cast<uint32_t>(size));
  }
  const std::string make = "xorriso -as mkisofs -J -R -o '" + disc_ + "' '" + theirs + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  // A disc file without a state is a disc holding that image, still open for more.
  BurnKeeping(GetParam(), {{"docs/reply.txt", 2500}}, 2, 0);
  EXPECT_EQ(burntest::CompareLastSession(disc_, expected_), "");
}

INSTANTIATE_TEST_SUITE_P(WriteOnceAndOverwritable, ForeignFirstSession,
                         ::testing::Values(MediaProfile::CdR, MediaProfile::DvdPlusRw),
                         [](const auto& p) { return TestName(p.param); });

TEST_F(EarlierFiles, ADamagedEarlierTreeEndsTheBurnBeforeAnythingIsWritten) {
  BurnKeeping(MediaProfile::CdR, {{"one.txt", 3000}}, 0, 0);
  {
    // Both roots (ISO and Joliet) now lie far past the end of the disc.
    std::fstream file(disc_, std::ios::in | std::ios::out | std::ios::binary);
    for (const int sector : {16, 17}) {
      file.seekp(sector * 2048 + 158);
      file.write("\0\0\0\x7f\x7f\0\0\0", 8);
    }
  }
  WriteFile(dir_ / "more/b.txt", 100, 3);
  Rig rig(disc_, std::nullopt);
  ASSERT_TRUE(rig.ok()) << rig.error();
  rig.burner().ImportSession = true;
  ASSERT_TRUE(rig.Queue({dir_ / "more"}));
  const burntest::BurnOutcome out = rig.Burn();
  EXPECT_FALSE(out.started);
  EXPECT_EQ(out.error.rfind(kEarlierSessionErrorPrefix, 0), 0u) << out.error;
  EXPECT_EQ(rig.drive().Writes(), 0);
  rig.burner().ImportSession = false;  // the way out the message names
  ASSERT_TRUE(rig.Queue({dir_ / "more"}));
  EXPECT_EQ(rig.Burn().error, "");
}

}  // namespace
}  // namespace brennix
