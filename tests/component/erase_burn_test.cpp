// An erased disc takes a real recording: erase, burn a small tree with the burner component,
// and read the volume back with an independent reader.
#include <gtest/gtest.h>

#include <optional>

#include "burn_harness.h"
#include "device/erase_plan.h"
#include "platform/clock.h"
#include "platform/main_thread.h"

namespace brennix {
namespace {

using burntest::Rig;
using burntest::TempDir;

struct Case {
  MediaProfile profile;
  uint8_t blankType;
};

class EraseThenBurn : public ::testing::TestWithParam<Case> {};

TEST_P(EraseThenBurn, TheNewVolumeReadsBack) {
  if (!burntest::HaveXorriso()) GTEST_SKIP() << "xorriso is not installed";
  const Case c = GetParam();
  ScopedTestClock clock;  // erase and burn waits take virtual time
  TempDir dir;
  burntest::WriteFile(dir / "src/a.txt", 5000, 1);
  burntest::WriteFile(dir / "src/sub/b.bin", 70000, 2);

  Rig rig(dir / "disc.img", c.profile);
  ASSERT_TRUE(rig.ok()) << rig.error();
  TKorbBurner& burner = rig.burner();

  // Old contents first, so there is something to erase (a DVD+RW needs its format first).
  if (c.profile == MediaProfile::DvdPlusRw) {
    std::optional<bool> formatted;
    burner.OnEraseDone = [&](TSCSIDevice*, bool e) { formatted = e; };
    ASSERT_TRUE(burner.StartErase(kBlankQuick));
    PumpMainThreadUntil([&] { return formatted.has_value(); }, 24u * 3600 * 1000);
    ASSERT_EQ(formatted, std::optional<bool>(false));
  }
  burntest::WriteFile(dir / "old/old.txt", 9000, 7);
  ASSERT_TRUE(rig.Queue({dir / "old"}));
  auto outcome = rig.Burn();
  ASSERT_TRUE(outcome.started);
  ASSERT_EQ(outcome.error, "");

  std::optional<bool> erased;
  burner.OnEraseDone = [&](TSCSIDevice*, bool e) { erased = e; };
  ASSERT_TRUE(burner.StartErase(c.blankType));
  PumpMainThreadUntil([&] { return erased.has_value(); }, 24u * 3600 * 1000);
  ASSERT_EQ(erased, std::optional<bool>(false));
  EXPECT_EQ(burner.EraseProgress(), 0);

  ASSERT_TRUE(rig.Queue({dir / "src"}));
  outcome = rig.Burn();
  ASSERT_TRUE(outcome.started);
  ASSERT_EQ(outcome.error, "");
  EXPECT_EQ(burntest::CompareSession(dir / "disc.img", 0,
                                     {{"a.txt", dir / "src/a.txt"},
                                      {"sub/b.bin", dir / "src/sub/b.bin"}}),
            "");
  // Nothing of the erased volume is left in the new one.
  EXPECT_NE(burntest::CompareSession(dir / "disc.img", 0, {{"old.txt", dir / "old/old.txt"}}),
            "");
}

// A quick erase of every rewritable disc, a full one of a CD-RW and a DVD-RAM.
std::vector<Case> EveryErase() {
  std::vector<Case> cases;
  for (const MediaProfile profile : {MediaProfile::CdRw, MediaProfile::DvdRwSequential, MediaProfile::DvdRwRestricted,
                                     MediaProfile::DvdPlusRw, MediaProfile::DvdRam})
    cases.push_back({profile, kBlankQuick});
  for (const MediaProfile profile : {MediaProfile::CdRw, MediaProfile::DvdRam}) cases.push_back({profile, kBlankFull});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Media, EraseThenBurn, ::testing::ValuesIn(EveryErase()));

}  // namespace
}  // namespace brennix
