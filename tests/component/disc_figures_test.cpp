// The figures `info` shows (capacity, used sectors, next writable address) on every medium,
// from a drive that takes track 0 on a DVD for its last track and from one that follows MMC
// to the letter; then a strict drive through a burn, a second session and an erase.
#include <gtest/gtest.h>

#include <cstdlib>

#include "burn_harness.h"
#include "device/erase_plan.h"
#include "platform/clock.h"
#include "platform/main_thread.h"
#include "virtual_recorder/disc_state.h"

namespace brennix {
namespace {

using burntest::Rig;
using burntest::TempDir;

RecorderOptions Manner(bool strict) {
  RecorderOptions options;
  options.strictMmc = strict;
  return options;
}

// Held against the recorder's own account of the disc, kept in the state file beside it. A
// sequential disc counts as used what its sessions took, lead-outs included; a DVD+RW or
// DVD-RAM the volume on it, which the next recording follows.
void ExpectFigures(TKorbBurner& burner, const std::string& disc) {
  DiscState state;
  std::string error;
  ASSERT_TRUE(LoadDiscState(disc + ".state", state, error)) << error;
  const double real = DiscCapacity(state);
  EXPECT_LE(std::abs(burner.DiscCapacity() - real), real / 100) << "capacity of " << real;
  uint32_t next = NextWritableAddress(state).value_or(0);
  uint32_t used = IsSequentialMedia(state.profile) ? next : state.highWater;
  if (state.profile == MediaProfile::DvdPlusRw || state.profile == MediaProfile::DvdRam)
    used = next = HoldsData(state) ? static_cast<uint32_t>(burner.VolumeSectors) : 0;
  EXPECT_EQ(burner.UsedSectors(), used);
  uint32_t start = 99;
  EXPECT_EQ(burner.GetNextWritableAddress(start), !IsReadOnlyMedia(state.profile));
  EXPECT_EQ(start, next);
}

std::optional<bool> Erase(TKorbBurner& burner) {
  std::optional<bool> withError;
  burner.OnEraseDone = [&](TSCSIDevice*, bool e) { withError = e; };
  if (burner.StartErase(kBlankQuick))
    PumpMainThreadUntil([&] { return withError.has_value(); }, 24u * 3600 * 1000);
  return withError;
}

class DiscFigures : public ::testing::TestWithParam<std::tuple<MediaProfile, bool>> {};

TEST_P(DiscFigures, OnABlankDiscAndAfterASession) {
  const auto [profile, strict] = GetParam();
  ScopedTestClock clock;
  TempDir dir;
  const std::string disc = dir / "disc.img";
  const bool pressed = IsReadOnlyMedia(profile);
  if (pressed) burntest::WriteFile(disc, 3000 * 2048, 9);
  Rig rig(disc, profile, Manner(strict));
  ASSERT_TRUE(rig.ok()) << rig.error();
  ExpectFigures(rig.burner(), disc);
  if (pressed) return;
  burntest::WriteFile(dir / "src/a.bin", 300000, 1);
  ASSERT_TRUE(rig.Queue({dir / "src"}));
  ASSERT_EQ(rig.Burn().error, "");
  SCOPED_TRACE("after a session");
  ExpectFigures(rig.burner(), disc);
}

INSTANTIATE_TEST_SUITE_P(
    EveryMediumBothManners, DiscFigures,
    ::testing::Combine(
        ::testing::Values(MediaProfile::CdRom, MediaProfile::CdR, MediaProfile::CdRw,
                          MediaProfile::DvdRom, MediaProfile::DvdR, MediaProfile::DvdRwRestricted,
                          MediaProfile::DvdRwSequential, MediaProfile::DvdPlusRw,
                          MediaProfile::DvdPlusR, MediaProfile::DvdPlusRDl, MediaProfile::DvdRam),
        ::testing::Bool()),
    [](const auto& p) {
      std::string name;
      for (const char c : ProfileName(std::get<0>(p.param)))
        name += c == '+' ? std::string("plus") : std::string(1, c == '-' ? '_' : c);
      return name + (std::get<1>(p.param) ? "_strict" : "_default");
    });

TEST(StrictDrive, BurnSecondSessionAndEraseReadBack) {
  if (!burntest::HaveXorriso()) GTEST_SKIP() << "xorriso is not installed";
  ScopedTestClock clock;
  TempDir dir;
  burntest::WriteFile(dir / "one/a.txt", 5000, 1);
  burntest::WriteFile(dir / "two/b.bin", 70000, 2);
  const std::map<std::string, std::string> one{{"a.txt", dir / "one/a.txt"}};
  const std::map<std::string, std::string> two{{"b.bin", dir / "two/b.bin"}};
  {
    Rig rig(dir / "plus.img", MediaProfile::DvdPlusR, Manner(true));
    ASSERT_TRUE(rig.ok()) << rig.error();
    for (const auto* tree : {&one, &two}) {
      ASSERT_TRUE(rig.Queue({dir / (tree == &one ? "one" : "two")}));
      ASSERT_EQ(rig.Burn().error, "");
      EXPECT_EQ(burntest::CompareSession(dir / "plus.img", 0, *tree), "");
      ExpectFigures(rig.burner(), dir / "plus.img");
    }
    EXPECT_EQ(burntest::CompareSession(dir / "plus.img", 1, one), "");
  }
  Rig rig(dir / "rw.img", MediaProfile::DvdRwSequential, Manner(true));
  ASSERT_TRUE(rig.Ready({dir / "one"})) << rig.error();
  ASSERT_EQ(rig.Burn().error, "");
  EXPECT_EQ(burntest::CompareSession(dir / "rw.img", 0, one), "");
  ASSERT_EQ(Erase(rig.burner()), std::optional<bool>(false));
  EXPECT_NE(burntest::CompareSession(dir / "rw.img", 0, one), "") << "nothing left to read";
  ExpectFigures(rig.burner(), dir / "rw.img");
  EXPECT_EQ(rig.burner().UsedSectors(), 0u);
  ASSERT_TRUE(rig.Queue({dir / "two"}));
  ASSERT_EQ(rig.Burn().error, "");
  EXPECT_EQ(burntest::CompareSession(dir / "rw.img", 0, two), "");
  ExpectFigures(rig.burner(), dir / "rw.img");
}

}  // namespace
}  // namespace brennix
