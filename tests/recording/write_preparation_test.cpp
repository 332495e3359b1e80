#include "recording/write_preparation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace brennix {
namespace {

TEST(SpeedText, DVDShowsOneDecimalAndCDAWholeFactor) {
  EXPECT_EQ(SpeedText(kDiscDvdPlusR, 5540), "4.0X (5,540 KB/s)");
  EXPECT_EQ(SpeedText(kDiscCdR, 7056), "40X (7,056 KB/s)");
  EXPECT_EQ(SpeedText(kDiscDvdR, 22160), "16.0X (22,160 KB/s)");
  EXPECT_EQ(SpeedText(4, 1385), "8X (1,385 KB/s)");  // a DVD-ROM counts as "other"
  EXPECT_EQ(SpeedText(kDiscCdR, 0), "0X (0 KB/s)");
  EXPECT_EQ(SpeedText(kDiscCdR, 1234567), "6999X (1,234,567 KB/s)");
}

TEST(StreamingSize, FollowsTheSpeedAndNeverAsksForZero) {
  EXPECT_EQ(StreamingSizeKB(1385), 1440u);
  EXPECT_EQ(StreamingSizeKB(5540), 5761u);
  // 0 means the drive's maximum, not a performance of nothing.
  EXPECT_EQ(StreamingSizeKB(0), StreamingSizeKB(0xFFFF));
  EXPECT_GT(StreamingSizeKB(0), 60000u);
}

TEST(ReserveTrack, RoundsUpToWholeBlocks) {
  EXPECT_EQ(ReserveTrackSectors(1000), 1024u);
  EXPECT_EQ(ReserveTrackSectors(1024), 1024u);
  EXPECT_EQ(ReserveTrackSectors(1025), 1056u);
  EXPECT_EQ(ReserveTrackSectors(300), 320u);
  EXPECT_EQ(ReserveTrackSectors(0), 0u);
  EXPECT_EQ(ReserveTrackSectors(-5), 0u);
}

TEST(Descriptors, DVDRStreamingIsByteExact) {
  const std::vector<uint8_t> expected = {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x23, 0x12, 0x7F,
                                         0, 0, 0xAB, 0xBD, 0, 0, 0x03, 0xE8, 0, 0, 0x05, 0x8A,
                                         0, 0, 0x03, 0xE8};
  const auto d = DVDRStreamingDescriptor();
  EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.end()), expected);
}

TEST(FormatLists, AreTheFourParameterLists) {
  using V = std::vector<uint8_t>;
  auto v = [](const std::array<uint8_t, 12>& a) { return V(a.begin(), a.end()); };
  EXPECT_EQ(v(FormatParameterList(FormatList::DVDRWSequential)),
            V({0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10}));
  EXPECT_EQ(v(FormatParameterList(FormatList::DVDRWRestricted)),
            V({0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x00, 0x00, 0x10}));
  EXPECT_EQ(v(FormatParameterList(FormatList::DVDRWSecondTry)),
            V({0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x54, 0x00, 0x00, 0x10}));
  EXPECT_EQ(v(FormatParameterList(FormatList::DVDPlusRW)),
            V({0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40, 0x98, 0x00, 0x00, 0x00}));
}

TEST(CloseSequence, EveryDiscTypeClosesAsItMust) {
  using C = CloseCommand;
  using V = std::vector<CloseCommand>;
  EXPECT_EQ(DVDCloseSequence(kDiscDvdPlusR, 3, false), V({C{false, 1, 0, 0, 3}, C{false, 2, 0, 0, 0xFF}}));
  EXPECT_EQ(DVDCloseSequence(kDiscDvdPlusR, 3, true), V({C{false, 1, 0, 0, 3}, C{false, 5, 0, 0, 0}}));
  EXPECT_EQ(DVDCloseSequence(kDiscDvdPlusRDl, 1, false), V({C{false, 1, 0, 0, 1}, C{false, 2, 0, 0, 0}}));
  EXPECT_EQ(DVDCloseSequence(kDiscDvdPlusRDl, 1, true), V({C{false, 1, 0, 0, 1}, C{false, 6, 0, 0, 0}}));
  EXPECT_EQ(DVDCloseSequence(kDiscDvdR, 2, false),
            V({C{false, 1, 0, 0, 2}, C{false, 1, 0, 0, 3}, C{false, 2, 0, 0, 4}}));
  EXPECT_EQ(DVDCloseSequence(kDiscDvdRwRestricted, 1, false), V({C{true, 2, 0, 0, 0}}));
  EXPECT_EQ(DVDCloseSequence(kDiscDvdRwSequential, 5, true), V({C{true, 2, 0, 0, 0}}));
  EXPECT_EQ(DVDCloseSequence(kDiscDvdPlusRw, 1, false), V({C{false, 3, 0, 0, 0xFF}}));
  EXPECT_TRUE(DVDCloseSequence(kDiscDvdRam, 1, false).empty());
  EXPECT_FALSE(UsesCDSessionClose(kDiscDvdRam));  // DVD-RAM: no close command at all
  EXPECT_TRUE(UsesCDSessionClose(kDiscCdR));
  EXPECT_TRUE(UsesCDSessionClose(kDiscCdRw));
  EXPECT_TRUE(UsesCDSessionClose(0));
  EXPECT_FALSE(UsesCDSessionClose(kDiscDvdPlusR));
}

TEST(DiscClasses, BlockSizesAndOverwritableTypes) {
  EXPECT_EQ(WriteBlockBytes(kDiscCdR), 55296);
  EXPECT_EQ(WriteBlockBytes(kDiscCdRw), 55296);
  EXPECT_EQ(WriteBlockBytes(1), 65536);  // a CD-ROM in the drive still gets the DVD size
  EXPECT_EQ(WriteBlockBytes(kDiscDvdPlusR), 65536);
  for (int16_t t : {6, 8, 9, 10}) EXPECT_TRUE(IsOverwritableDVD(t)) << t;
  for (int16_t t : {2, 3, 5, 11, 12}) EXPECT_FALSE(IsOverwritableDVD(t)) << t;
  for (int16_t t : {5, 8, 9, 10, 11, 12}) EXPECT_TRUE(UsesStreaming(t)) << t;
  for (int16_t t : {2, 3, 6}) EXPECT_FALSE(UsesStreaming(t)) << t;
}

TEST(WriteBlock, ALastShortDVDBlockIsSentWholeWithZeroTail) {
  std::vector<uint8_t> buffer(kDVDBlockBytes, 0xAB);  // an earlier block's bytes
  std::memset(buffer.data(), 0x11, 5 * 2048);
  EXPECT_EQ(PadWriteBlock(kDiscDvdPlusR, buffer.data(), 5 * 2048), 65536);
  EXPECT_EQ(buffer[5 * 2048 - 1], 0x11);
  for (size_t i = 5 * 2048; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0) << i;

  std::vector<uint8_t> cd(kDVDBlockBytes, 0xAB);
  EXPECT_EQ(PadWriteBlock(kDiscCdR, cd.data(), 3 * 2048), 3 * 2048);
  EXPECT_EQ(cd[3 * 2048 - 1], 0xAB);
  EXPECT_EQ(PadWriteBlock(kDiscCdR, cd.data(), 2049), 4096);  // whole sectors only
  EXPECT_EQ(cd[4095], 0);
}

TEST(WriteBlock, BytesWrittenStopsAtTheRecordingSize) {
  // 37 sectors on DVD: one full block, then one of 5 sectors sent as 32.
  int64_t written = AddBytesWritten(0, 65536, 37);
  EXPECT_EQ(written, 65536);
  written = AddBytesWritten(written, 65536, 37);
  EXPECT_EQ(written, 37 * 2048);
  EXPECT_EQ(AddBytesWritten(37 * 2048, 65536, 37), 37 * 2048);
  EXPECT_EQ(AddBytesWritten(0, 2048, 300), 2048);
}

}  // namespace
}  // namespace brennix
