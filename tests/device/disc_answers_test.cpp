#include "device/disc_answers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/cdb.h"
#include "device/disc_types.h"

namespace brennix {
namespace {

TEST(DiscAnswers, DiscInformationFieldsAndShortAnswers) {
  std::vector<uint8_t> a(34, 0);
  a[1] = 32;
  a[2] = 0x10 | (1 << 2) | 1;  // erasable, last session incomplete, disc incomplete
  a[4] = 2;
  const auto d = ParseDiscInformation(a);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->Status, 1);
  EXPECT_EQ(d->LastSessionState, 1);
  EXPECT_TRUE(d->Erasable);
  EXPECT_EQ(d->Sessions, 2);
  // Declared shorter than byte 4, or fewer bytes than that returned.
  a[1] = 2;
  EXPECT_FALSE(ParseDiscInformation(a));
  a[1] = 32;
  EXPECT_FALSE(ParseDiscInformation(std::span(a).first(4)));
}

TEST(DiscAnswers, TrackInformationBigEndianFieldsWithinReturnedLength) {
  std::vector<uint8_t> a(40, 0);
  a[1] = 38;
  const uint8_t fields[] = {0, 0, 0x2C, 0x88,   // start 11400
                            0xFF, 0xFF, 0xFF, 0xFF,  // next writable: none
                            0, 0x05, 0x7E, 0x40,     // free 360000
                            0, 0, 0, 16,
                            0, 0, 0x13, 0x88};       // size 5000
  std::copy(std::begin(fields), std::end(fields), a.begin() + 8);
  auto t = ParseTrackInformation(a);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->TrackStart, 11400u);
  EXPECT_EQ(t->NextWritableAddress, 0xFFFFFFFFu);
  EXPECT_EQ(t->FreeBlocks, 360000u);
  EXPECT_EQ(t->FixedPacketSize, 16u);
  EXPECT_EQ(t->TrackSize, 5000u);
  EXPECT_FALSE(ParseTrackInformation(std::span(a).first(27)));
  a[1] = 10;  // declares less than the fields it needs
  EXPECT_FALSE(ParseTrackInformation(a));
}

TEST(DiscAnswers, AtipTypeBitsAndLeadOut) {
  std::vector<uint8_t> a(kAtipLength, 0);
  a[1] = 24;
  a[6] = 0xC0;
  a[12] = 79;
  a[13] = 59;
  a[14] = 74;
  auto atip = ParseAtip(a);
  ASSERT_TRUE(atip);
  EXPECT_TRUE(atip->Present);
  EXPECT_TRUE(atip->Rewritable);
  ASSERT_TRUE(atip->HasLeadOut);
  EXPECT_EQ(atip->LeadOutSectors(), 359999u);
  // Enough to tell the type, too short for the lead-out.
  atip = ParseAtip(std::span(a).first(10));
  ASSERT_TRUE(atip);
  EXPECT_FALSE(atip->HasLeadOut);
  EXPECT_FALSE(ParseAtip(std::span(a).first(6)));
}

std::vector<uint8_t> FormatAnswer(std::vector<std::array<uint8_t, 8>> descriptors) {
  std::vector<uint8_t> a(4, 0);
  a[3] = static_cast<uint8_t>(descriptors.size() * 8);
  for (const auto& d : descriptors) a.insert(a.end(), d.begin(), d.end());
  return a;
}

TEST(DiscAnswers, FormatCapacitiesChoice) {
  // Current descriptor with block length 2048 wins.
  auto f = ParseFormatCapacities(FormatAnswer({{0, 0x23, 0x05, 0x40, 0x00, 0x00, 0x08, 0x00},
                                               {0, 0, 0, 1, 0x98, 0, 0, 0}}));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->ChooseBlocks(), 2295104u);
  // Unformatted current, DVD+RW formattable descriptor 98 00 00 00 next.
  f = ParseFormatCapacities(FormatAnswer({{0, 0x23, 0x05, 0x40, 0x03, 0x00, 0x08, 0x01},
                                          {0, 0x22, 0x21, 0x20, 0x98, 0, 0, 0}}));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->ChooseBlocks(), 0x222120u);
  // Second formattable descriptor.
  f = ParseFormatCapacities(FormatAnswer({{0, 0, 0, 7, 0x02, 0, 0, 0},
                                          {0, 0, 0, 8, 0x10, 0, 0, 0},
                                          {0, 0, 0, 9, 0x00, 0, 0x08, 0x00}}));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->ChooseBlocks(), 9u);
  // A list length that stops before the second descriptor: it counts as absent.
  auto a = FormatAnswer({{0, 0, 0, 7, 0x02, 0, 0, 0},
                         {0, 0, 0, 8, 0x10, 0, 0, 0},
                         {0, 0, 0, 9, 0x00, 0, 0x08, 0x00}});
  a[3] = 8;
  f = ParseFormatCapacities(a);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->ChooseBlocks(), 7u);
  a[3] = 4;
  EXPECT_FALSE(ParseFormatCapacities(a));
  EXPECT_FALSE(ParseFormatCapacities(std::span(a).first(11)));
}

TEST(DiscAnswers, CapacityBufferProfileAndVolumeDescriptor) {
  const uint8_t cap[] = {0x00, 0x05, 0x7E, 0x3F, 0x00, 0x00, 0x08, 0x00};
  const auto c = ParseReadCapacity(cap);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->LastBlockAddress, 359999u);
  EXPECT_EQ(c->BlockLength, 2048u);
  EXPECT_FALSE(ParseReadCapacity(std::span(cap).first(7)));

  std::vector<uint8_t> buf(32, 0);
  buf[4] = 0x00; buf[5] = 0x20; buf[6] = 0x00; buf[7] = 0x00;
  buf[8] = buf[9] = buf[10] = buf[11] = 0xFF;
  auto b = ParseBufferCapacity(buf);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->BufferLength, 0x200000u);
  EXPECT_EQ(b->BlankLength, 0x200000u);
  EXPECT_FALSE(ParseBufferCapacity(std::span(buf).first(11)));

  std::vector<uint8_t> conf(8, 0);
  conf[6] = 0x00; conf[7] = 0x2B;
  EXPECT_EQ(DiscTypeFromProfile(*ParseCurrentProfile(conf)), kDiscDvdPlusRDl);
  EXPECT_FALSE(ParseCurrentProfile(std::span(conf).first(7)));
  EXPECT_EQ(DiscTypeFromProfile(0x0009), kDiscCdR);
  EXPECT_EQ(DiscTypeFromProfile(0x0040), kDiscUnknown);
  EXPECT_STREQ(DiscTypeName(12), "DVD+R DL");
  EXPECT_STREQ(DiscTypeName(-1), "UNKNOWN");
  EXPECT_STREQ(DiscTypeName(99), "UNKNOWN");

  std::vector<uint8_t> sector(kSectorSize, 0);
  sector[0] = 1;
  std::memcpy(&sector[1], "CD001", 5);
  sector[80] = 0x88; sector[81] = 0x13;  // 5000, little-endian
  EXPECT_EQ(ParseVolumeSpaceSize(sector), 5000u);
  sector[0] = 2;
  EXPECT_EQ(ParseVolumeSpaceSize(sector), 5000u);
  sector[0] = 0xFF;  // set terminator
  EXPECT_FALSE(ParseVolumeSpaceSize(sector));
  sector[0] = 1;
  sector[5] = '2';
  EXPECT_FALSE(ParseVolumeSpaceSize(sector));
}

TEST(RecordingCommandBlocks, EveryByteOfEachCommand) {
  const struct {
    Cdb built;
    std::vector<uint8_t> expected;
  } cases[] = {
      {SetCDSpeedCdb(0, 0), {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
      {SetCDSpeedCdb(7056, 2), {0xBB, 0, 0x1B, 0x90, 0x00, 0x02, 0, 0, 0, 0, 0, 0}},
      {ModeSense10Cdb(kWriteParametersPage, false, kWriteParametersSenseLength),
       {0x5A, 0, 0x05, 0, 0, 0, 0, 0x02, 0x00, 0}},
      {SetStreamingCdb(28), {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}},
      {SendTimestampCdb(), {0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0}},
      {SendOPCCdb(), {0x54, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}},
      {ReserveTrackCdb(0x01020304), {0x53, 0, 0, 0, 0, 1, 2, 3, 4, 0, 0, 0}},
      {ReadBufferCapacityCdb(), {0x5C, 0, 0, 0, 0, 0, 0, 0, 32, 0}},
      {Write10Cdb(0x00A0B0C0, 32), {0x2A, 0, 0x00, 0xA0, 0xB0, 0xC0, 0, 0, 32, 0}},
      {SynchronizeCacheCdb(true), {0x35, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}},
      {SynchronizeCacheCdb(false), {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {CloseTrackSessionCdb(true, 3, 0, 0, 0xFF), {0x5B, 1, 3, 0, 0, 0xFF, 0, 0, 0, 0}},
      {CloseSessionCdb(true, false, false), {0x5B, 0, 1, 0, 0, 0xFF, 0, 0, 0, 0}},
      {CloseSessionCdb(false, true, false), {0x5B, 1, 2, 0, 0, 0, 0, 0, 0, 0}},
      {CloseSessionCdb(true, false, true), {0x5B, 0, 5, 0, 0, 0xFF, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::vector<uint8_t>(c.built.Bytes, c.built.Bytes + c.built.Length), c.expected)
        << "operation code " << int(c.expected[0]);
  }
}

TEST(RecordingCommandBlocks, StreamingDescriptorAndTimestamp) {
  const auto d = BuildStreamingDescriptor(0x1000, 0x2000, 0x3000, 1000, 1000);
  const std::array<uint8_t, 28> expected = {0, 0, 0, 0, 0, 0, 0, 0,           // flags, start 0
                                            0, 0, 0x10, 0, 0, 0, 0x20, 0,     // end, read size
                                            0, 0, 0x03, 0xE8, 0, 0, 0x30, 0,  // read time, write size
                                            0, 0, 0x03, 0xE8};                // write time
  EXPECT_EQ(d, expected);
  const auto t = BuildTimestamp("20261207093015");
  EXPECT_EQ(t[0], 0x00);
  EXPECT_EQ(t[1], 0x14);
  for (int i = 2; i < 8; ++i) EXPECT_EQ(t[i], 0);
  EXPECT_EQ(std::string(t.begin() + 8, t.end()), "20261207093015");
  const auto bad = BuildTimestamp("2026");
  for (size_t i = 8; i < bad.size(); ++i) EXPECT_EQ(bad[i], 0);
  EXPECT_EQ(TimestampDigitsNow().size(), 14u);
}

}  // namespace
}  // namespace brennix
