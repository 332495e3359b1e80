// The burner component without a recording: its defaults, the settable-but-fixed version,
// the cache size rule, and the one tree that every component shares.
#include <gtest/gtest.h>

#include "burn_harness.h"
#include "component/korb_burner.h"
#include "platform/clock.h"
#include "platform/main_thread.h"

#include <chrono>
#include <thread>

namespace brennix {
namespace {

TEST(KorbBurner, StartsWithThePublishedDefaults) {
  TKorbBurner burner;
  EXPECT_TRUE(burner.UnderrunProtection);
  EXPECT_FALSE(burner.DoDebug);
  EXPECT_EQ(burner.ReadSpeed, 0);
  EXPECT_EQ(burner.WriteSpeed, 0);
  EXPECT_FALSE(burner.FinalizeDisc);
  EXPECT_FALSE(burner.TestWrite);
  EXPECT_FALSE(burner.ReplaceFile);
  EXPECT_TRUE(burner.FinalizeTrack);
  EXPECT_FALSE(burner.PerformOPC);
  EXPECT_TRUE(burner.JolietFileSystem);
  EXPECT_TRUE(burner.WritePostGap);
  EXPECT_EQ(burner.CacheSize(), 4194304);
  EXPECT_EQ(burner.ISOFileName, "");
  EXPECT_EQ(burner.IdVolume, "");
  EXPECT_EQ(burner.DateCreation, 0.0);
  EXPECT_EQ(burner.BytesWritten(), 0);
  EXPECT_FALSE(burner.Recording());
}

TEST(KorbBurner, VersionIgnoresAssignments) {
  TKorbBurner burner;
  EXPECT_EQ(burner.Version(), "1.22");
  burner.SetVersion("9.99");
  EXPECT_EQ(burner.Version(), "1.22");
}

TEST(KorbBurner, CacheSizeHasAFloorAndWholeSectors) {
  TKorbBurner burner;
  burner.SetCacheSize(1000);
  EXPECT_EQ(burner.CacheSize(), 2097152);
  burner.SetCacheSize(5000000);
  EXPECT_EQ(burner.CacheSize(), 4999168);
  burner.SetCacheSize(8392704);
  EXPECT_EQ(burner.CacheSize(), 8392704);
}

TEST(KorbBurner, AFreshComponentHasAnEmptyTreeOfThreeHundredSectors) {
  TKorbBurner burner;  // no drive selected: the layout still works from sector 0
  EXPECT_EQ(burner.DirCount(), 0);
  EXPECT_EQ(burner.FileCount(), 0);
  ASSERT_TRUE(burner.PrepareImage());
  EXPECT_EQ(burner.StartSector, 0);
  EXPECT_EQ(burner.SectorsToWrite(), 300);
  EXPECT_FALSE(burner.DoDebug);  // the layout runs without information lines
}

TEST(KorbBurner, TwoComponentsShareOneTree) {
  burntest::TempDir dir;
  burntest::WriteFile(dir / "a.txt", 10, 1);
  TKorbBurner first;
  TKorbBurner second;
  ASSERT_EQ(first.AddFile("\\", dir / "a.txt", false), 1);
  EXPECT_EQ(second.FileCount(), 1);
  EXPECT_NE(second.FindFile(second.FindDir("\\"), "a.txt"), nullptr);
  second.ClearAll(600000, 20000);
  EXPECT_EQ(first.FileCount(), 0);
}

TEST(KorbBurner, BurnWithoutADriveEndsWithOneReport) {
  ScopedTestClock clock;  // the drive's ready waits
  burntest::TempDir dir;
  burntest::WriteFile(dir / "a.txt", 10, 1);
  TKorbBurner burner;
  ASSERT_EQ(burner.AddFile("\\", dir / "a.txt", false), 1);
  int reports = 0;
  std::string error;
  burner.OnWriteDone = [&](TKorbBurner*, const std::string& text) {
    ++reports;
    error = text;
  };
  // Nothing is selected: the check before writing finds no disc it could write.
  const bool started = burner.Burn();
  for (int i = 0; i < 5000 && reports == 0; ++i) {
    PumpMainThread();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(started);
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(error, kDiscNotWritableText);
  EXPECT_FALSE(burner.Recording());
}

}  // namespace
}  // namespace brennix
