#include "device/write_parameters.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/disc_types.h"

namespace brennix {
namespace {

// A MODE SENSE(10) answer as drives send it: 8-byte header, optional 8-byte block
// descriptor, then page 05h filled with values the builder must overwrite or keep.
std::vector<uint8_t> SenseAnswer(bool blockDescriptor, uint8_t pageCodeByte = 0x05) {
  std::vector<uint8_t> a(8 + (blockDescriptor ? 8 : 0) + 0x34, 0);
  const size_t at = blockDescriptor ? 16 : 8;
  a[1] = static_cast<uint8_t>(a.size() - 2);
  if (blockDescriptor) a[7] = 8;
  a[at] = pageCodeByte;
  a[at + 1] = 0x32;
  for (size_t i = 2; i < 0x34; ++i) a[at + i] = static_cast<uint8_t>(0xA0 + i);  // old values
  return a;
}

std::array<uint8_t, kWriteParametersPageCopy> Page(int discType, WriteParameterOptions o = {}) {
  o.DiscType = discType;
  const auto answer = SenseAnswer(false);
  const auto r = BuildWriteParameters(answer, o);
  EXPECT_TRUE(r.has_value());
  return r ? r->Page : std::array<uint8_t, kWriteParametersPageCopy>{};
}

uint32_t PacketSize(const std::array<uint8_t, kWriteParametersPageCopy>& p) {
  return (uint32_t{p[10]} << 24) | (uint32_t{p[11]} << 16) | (uint32_t{p[12]} << 8) | p[13];
}

TEST(WriteParameters, PageAtOffset16Or8IsSentBackAtOffset8WithFixedLength) {
  WriteParameterOptions o;
  o.DiscType = kDiscCdR;
  const auto withDescriptor = BuildWriteParameters(SenseAnswer(true), o);
  const auto without = BuildWriteParameters(SenseAnswer(false), o);
  ASSERT_TRUE(withDescriptor && without);
  EXPECT_EQ(withDescriptor->SelectData, without->SelectData);
  const auto& d = without->SelectData;
  for (int i = 0; i < 8; ++i) EXPECT_EQ(d[i], 0) << "header byte " << i;
  EXPECT_EQ(d[8], 0x05);
  EXPECT_EQ(d[9], 0x32);
  EXPECT_EQ(d.size(), 60u);
  // Untouched page bytes travel as the drive sent them.
  EXPECT_EQ(d[8 + 16], 0xA0 + 16);
  EXPECT_EQ(d[8 + 51], 0xA0 + 51);
}

TEST(WriteParameters, PageSaveableBitIsFoundAndNotSentBack) {
  WriteParameterOptions o;
  o.DiscType = kDiscCdR;
  const auto r = BuildWriteParameters(SenseAnswer(true, 0x85), o);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->SelectData[8], 0x05);
}

TEST(WriteParameters, AnswerWithoutThePageOrCutShortIsRefused) {
  WriteParameterOptions o;
  auto answer = SenseAnswer(false, 0x2A);
  EXPECT_FALSE(BuildWriteParameters(answer, o));
  EXPECT_FALSE(BuildWriteParameters(std::span<const uint8_t>(), o));
  // The page header just made it: the rest reads as zeros, never beyond the answer.
  answer = SenseAnswer(false);
  answer.resize(10);
  const auto r = BuildWriteParameters(answer, o);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Page[20], 0);
}

TEST(WriteParameters, CdrMultiSessionFollowsCloseDiscAndTestWrite) {
  WriteParameterOptions o;
  o.UnderrunProtection = true;
  o.UnderrunFree = true;
  auto p = Page(kDiscCdR, o);
  EXPECT_EQ(p[2], 0x41);  // track at once + BUFE
  EXPECT_EQ(p[3], 0xC4);
  EXPECT_EQ(p[4], 8);
  EXPECT_EQ(p[5], 0);
  EXPECT_EQ(PacketSize(p), 0u);
  EXPECT_EQ(p[6] | p[7] | p[8] | p[9], 0);
  EXPECT_EQ(p[14], 0x00);
  EXPECT_EQ(p[15], 0x96);

  o.FinalizeDisc = true;
  p = Page(kDiscCdR, o);
  EXPECT_EQ(p[3], 0x04);

  o.FinalizeDisc = false;
  o.TestWrite = true;
  o.TestWriteCapable = true;
  p = Page(kDiscCdR, o);
  EXPECT_EQ(p[3], 0x04);
  EXPECT_EQ(p[2], 0x51);

  // A drive without test-write support writes for real: the bit stays clear.
  o.TestWriteCapable = false;
  p = Page(kDiscCdR, o);
  EXPECT_EQ(p[2] & 0x10, 0);
}

TEST(WriteParameters, UnderrunFlagNeedsProtectionAndDriveSupport) {
  WriteParameterOptions o;
  o.UnderrunFree = true;
  EXPECT_EQ(Page(kDiscCdR, o)[2], 0x01);
  o.UnderrunFree = false;
  o.UnderrunProtection = true;
  EXPECT_EQ(Page(kDiscCdR, o)[2], 0x01);
  o.BufferUnderrunCapable = true;  // the capabilities page alone is enough
  EXPECT_EQ(Page(kDiscCdR, o)[2], 0x41);
  o.LinkSizeQuirk = true;
  EXPECT_EQ(Page(kDiscCdRw, o)[2], 0x61);
}

TEST(WriteParameters, DvdR) {
  WriteParameterOptions o;
  o.FinalizeDisc = true;
  const auto p = Page(kDiscDvdR, o);
  EXPECT_EQ(p[2], 0x60 & ~0x40);  // BUFE cleared without protection
  EXPECT_EQ(p[3], 0xE5);
  EXPECT_EQ(p[4], 8);
  EXPECT_EQ(p[5], 16);
  EXPECT_EQ(PacketSize(p), 16u);
  // Before the close of the session that ends the disc: no next border.
  o.LastSession = true;
  EXPECT_EQ(Page(kDiscDvdR, o)[3], 0x25);
}

TEST(WriteParameters, DvdRwIsFixedWhateverTheOptions) {
  for (int type : {kDiscDvdRwRestricted, kDiscDvdRwSequential}) {
    for (int bits = 0; bits < 16; ++bits) {
      WriteParameterOptions o;
      o.TestWrite = bits & 1;
      o.UnderrunProtection = bits & 2;
      o.TestWriteCapable = o.UnderrunFree = o.BufferUnderrunCapable = true;
      o.FinalizeDisc = bits & 4;
      o.CloseFlag = bits & 8;
      const auto p = Page(type, o);
      EXPECT_EQ(p[2], 0x20) << type << "/" << bits;
      EXPECT_EQ(p[3], 0xC5);
      EXPECT_EQ(p[5], 16);
      EXPECT_EQ(PacketSize(p), 0u);
    }
  }
}

TEST(WriteParameters, DvdPlusRwAndDvdPlusR) {
  WriteParameterOptions o;
  auto p = Page(kDiscDvdPlusRw, o);
  EXPECT_EQ(p[2], 0x22);
  EXPECT_EQ(p[3], 0x04);
  EXPECT_EQ(p[5], 16);
  EXPECT_EQ(PacketSize(p), 0u);

  p = Page(kDiscDvdPlusR, o);
  EXPECT_EQ(p[2], 0x22);
  EXPECT_EQ(p[3], 0xC4);
  EXPECT_EQ(p[5], 0);
  EXPECT_EQ(PacketSize(p), 16u);
}

TEST(WriteParameters, DvdPlusRDoubleLayerTakesMultiSessionFromCloseFlag) {
  WriteParameterOptions o;
  o.CloseFlag = true;
  o.UnderrunProtection = true;
  o.UnderrunFree = true;
  auto p = Page(kDiscDvdPlusRDl, o);
  EXPECT_EQ(p[2], 0x62);
  EXPECT_EQ(p[3], 0xC4);
  EXPECT_EQ(p[5], 0);
  EXPECT_EQ(PacketSize(p), 0u);
  o.CloseFlag = false;
  p = Page(kDiscDvdPlusRDl, o);
  EXPECT_EQ(p[3], 0x04);
}

TEST(WriteParameters, LocateModePageOrder) {
  std::vector<uint8_t> a(32, 0);
  a[7] = 0x05;
  EXPECT_EQ(LocateModePage(a, 0x05), 7u);
  a[8] = 0x05;
  EXPECT_EQ(LocateModePage(a, 0x05), 8u);
  a[16] = 0x05;
  EXPECT_EQ(LocateModePage(a, 0x05), 16u);
  a.resize(17);  // the length byte at 17 did not come back
  EXPECT_EQ(LocateModePage(a, 0x05), 8u);
}

}  // namespace
}  // namespace brennix
