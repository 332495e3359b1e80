#include <gtest/gtest.h>

#include <cstring>

#include "device/capabilities.h"
#include "device/scsi_device.h"
#include "support/selected_device.h"

namespace brennix {
namespace {

using testing::Address;
using testing::AddressedDrive;
using testing::CapabilitiesPage;
using testing::FakeDrive;
using testing::ScopedFakeDrives;
using Recorder = testing::SelectedDevice;

TEST(Capabilities, PageBitsWithAndWithoutBlockDescriptor) {
  for (bool descriptor : {false, true}) {
    auto drive = AddressedDrive();
    drive->blockDescriptor = descriptor;
    drive->modePages[0x2A] = CapabilitiesPage(0x3F, 0x37, 0x80, 7056, 8467, 2822);
    Recorder r(drive);
    ASSERT_TRUE(r.device.ReadCapabilities());
    EXPECT_EQ(r.device.Capabilities,
              cap::ReadCDR | cap::ReadCDRW | cap::Method2 | cap::ReadDVDROM | cap::ReadDVDR |
                  cap::ReadDVDRW | cap::ReadDVDRAM | cap::WriteCDR | cap::WriteCDRW |
                  cap::TestWriteCapable | cap::WriteDVDR | cap::WriteDVDRW | cap::WriteDVDRAM |
                  cap::UnderrunFree)
        << descriptor;
    EXPECT_EQ(r.device.DeviceMaxReadSpeed, 7056);
    EXPECT_EQ(r.device.DeviceMaxWriteSpeed, 8467);
    EXPECT_EQ(r.device.CapabilityPage[0], 0x2A);
    EXPECT_EQ(r.device.CapabilityWord(20), 2822) << "host order after the read";
    EXPECT_EQ(r.device.QueryCurrentWriteSpeed(), 2822);
    EXPECT_EQ(r.device.QueryMaxReadSpeed(), 7056);
    EXPECT_EQ(r.device.CapabilityWord(12), 0x0800);
  }
}

TEST(Capabilities, FeaturesAddDvdPlusAndDvdMinusBits) {
  auto drive = AddressedDrive();
  drive->modePages[0x2A] = CapabilitiesPage(0x01, 0x01, 0, 1000, 1000, 1000);
  drive->features[0x002A] = {0x00, 0x2A, 0x01, 0x04, 0x01, 0, 0, 0};
  drive->features[0x003B] = {0x00, 0x3B, 0x01, 0x04, 0x00, 0, 0, 0};
  drive->features[0x002F] = {0x00, 0x2F, 0x01, 0x04, 0x01, 0, 0, 0};
  Recorder r(drive);
  ASSERT_TRUE(r.device.ReadCapabilities());
  const uint32_t c = r.device.Capabilities;
  EXPECT_TRUE(c & cap::ReadDVDPlusR);
  EXPECT_TRUE(c & cap::ReadDVDPlusRW);
  EXPECT_TRUE(c & cap::WriteDVDPlusR);
  EXPECT_TRUE(c & cap::WriteDVDPlusRW);
  EXPECT_TRUE(c & cap::ReadDVDPlusRDL);
  EXPECT_FALSE(c & cap::WriteDVDPlusRDL) << "first feature byte is not 1";
  EXPECT_TRUE(c & cap::WriteDVDR);
  EXPECT_TRUE(c & cap::ReadDVDRW);
  EXPECT_FALSE(c & cap::UnderrunFree);
}

TEST(Capabilities, FeatureAnswersAreCheckedAgainstWhatCameBack) {
  const uint8_t answer[13] = {0, 0, 0, 8, 0, 0, 0, 0, 0x00, 0x2A, 1, 4, 1};
  EXPECT_EQ(CapabilitiesFromFeature(0x002A, answer, 13),
            cap::ReadDVDPlusR | cap::ReadDVDPlusRW | cap::WriteDVDPlusR | cap::WriteDVDPlusRW);
  EXPECT_EQ(CapabilitiesFromFeature(0x002A, answer, 12), cap::ReadDVDPlusR | cap::ReadDVDPlusRW)
      << "the feature byte was not sent";
  EXPECT_EQ(CapabilitiesFromFeature(0x002A, answer, 9), 0u);
  EXPECT_EQ(CapabilitiesFromFeature(0x002F, answer, 13), 0u) << "another feature answered";
}

TEST(Capabilities, ZeroSpeedsDefaultTo1385) {
  auto drive = AddressedDrive();
  drive->modePages[0x2A] = CapabilitiesPage(0x01, 0x01, 0, 0, 0, 0);
  Recorder r(drive);
  ASSERT_TRUE(r.device.ReadCapabilities());
  EXPECT_EQ(r.device.DeviceMaxWriteSpeed, 1385);
  EXPECT_EQ(r.device.QueryCurrentWriteSpeed(), 1385);
  EXPECT_EQ(r.device.DeviceMaxReadSpeed, 0);
}

TEST(Capabilities, DvdRamWriterWithoutSpeedsGetsOne) {
  auto drive = AddressedDrive();
  drive->modePages[0x2A] = CapabilitiesPage(0x20, 0x20, 0, 0, 0, 0);
  bool defaults = true;
  drive->onCommand = [&](PassThroughRequest& req) {
    // The current values are refused: only the default-values answer counts.
    if (req.Cdb[0] == 0x5A && (req.Cdb[2] & 0xC0) == 0 && !defaults) {
      FakeDrive::Check(req, 5, 0x24, 0);
      return true;
    }
    return false;
  };
  Recorder r(drive);
  defaults = false;
  EXPECT_FALSE(r.device.ReadCapabilities());
  EXPECT_EQ(r.device.DeviceMaxWriteSpeed, 1);
  EXPECT_EQ(r.device.DeviceMaxReadSpeed, 1);
  EXPECT_TRUE(r.device.Capabilities & cap::WriteDVDRAM);
}

TEST(Capabilities, RefusedPageMeansNothingAndZeroSpeeds) {
  Recorder r(AddressedDrive());
  EXPECT_FALSE(r.device.ReadCapabilities());
  EXPECT_EQ(r.device.Capabilities, 0u);
  EXPECT_EQ(r.device.DeviceMaxWriteSpeed, 0);
  EXPECT_EQ(r.device.QueryMaxReadSpeed(), 0);
}

TEST(Capabilities, Page30OrTheModelGiveUnderrunProtection) {
  auto drive = AddressedDrive();
  drive->modePages[0x2A] = CapabilitiesPage(0x01, 0x01, 0, 1000, 1000, 1000);
  drive->modePages[0x30] = {0x30, 0x02, 0, 0};
  Recorder r(drive);
  ASSERT_TRUE(r.device.ReadCapabilities());
  EXPECT_TRUE(r.device.Capabilities & cap::UnderrunFree);

  auto model = AddressedDrive("CD-W512EB");
  model->modePages[0x2A] = CapabilitiesPage(0x01, 0x01, 0, 1000, 1000, 1000);
  auto plain = AddressedDrive();
  plain->address = Address(0, 1);
  plain->modePages[0x2A] = model->modePages[0x2A];
  ScopedFakeDrives drives({model, plain});
  TSCSIDevice device;
  ASSERT_EQ(device.Devices.size(), 2u);
  device.SetDevice(device.Devices[0]);
  EXPECT_TRUE(device.ForceUnderrunFree);
  EXPECT_TRUE(device.Capabilities & cap::UnderrunFree) << "already on the first selection";
  device.SetDevice(device.Devices[1]);
  EXPECT_FALSE(device.ForceUnderrunFree);
  EXPECT_FALSE(device.Capabilities & cap::UnderrunFree) << "not the model selected before";
}

TEST(Capabilities, ShortAndAbsurdAnswersAreReadOnlyAsFarAsTheyGo) {
  auto drive = AddressedDrive();
  drive->onCommand = [](PassThroughRequest& req) {
    if (req.Cdb[0] != 0x5A) return false;
    // Eight header bytes and the first two bytes of the page; a length that claims much more.
    FakeDrive::Answer(req, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0x2A, 0xFF});
    return true;
  };
  Recorder r(drive);
  std::memset(r.device.TransferBuffer.data(), 0xFF, 512);
  ASSERT_TRUE(r.device.ReadCapabilities());
  EXPECT_EQ(r.device.Capabilities, 0u) << "bits past the answer are not read";
  EXPECT_EQ(r.device.DeviceMaxReadSpeed, 0);
  EXPECT_EQ(r.device.DeviceMaxWriteSpeed, 1385);
  r.device.ProbeWriteModes();
  EXPECT_EQ(r.device.WriteModes, 0);
  EXPECT_TRUE(drive->modeSelects.empty()) << "no MODE SELECT from a page that was not sent";
}

TEST(WriteModes, ProbeSetsTheAcceptedTypesAndLeavesTrackAtOnce) {
  for (bool descriptor : {false, true}) {
    auto drive = AddressedDrive();
    drive->blockDescriptor = descriptor;
    auto page = testing::WriteParametersPage05();
    page[0] = 0x85;  // savable
    page[3] = 0x55;
    page[14] = 0x12;
    drive->modePages[0x05] = page;
    drive->acceptedWriteTypes = {1, 2};
    Recorder r(drive);
    r.device.ProbeWriteModes();
    EXPECT_EQ(r.device.WriteModes, wmode::SAO | wmode::TAO);
    ASSERT_EQ(drive->modeSelects.size(), 3u);
    const auto& raw = drive->modeSelects[0];
    ASSERT_EQ(raw.size(), 0x32u + 10);
    EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.begin() + 8), std::vector<uint8_t>(8, 0));
    EXPECT_EQ(raw[8], 0x05) << "savable bit cleared";
    EXPECT_EQ(raw[10], 3);
    EXPECT_EQ(raw[12], 1);
    EXPECT_EQ(raw[11], 0);
    EXPECT_EQ(raw[22], 0x00);
    EXPECT_EQ(raw[23], 0x96);
    EXPECT_EQ(drive->modeSelects[2][10], 1);
    EXPECT_EQ(drive->modeSelects[2][12], 0);
    EXPECT_EQ(drive->commands.back()[0], 0x55);
    EXPECT_EQ(drive->commands.back()[8], 0x32 + 10);
    EXPECT_EQ(r.device.WriteParametersPage[0], 0x85) << "the page as sensed";
  }
}

TEST(WriteModes, LongestDescribablePageFitsTheParameterList) {
  auto drive = AddressedDrive();
  // Built whole rather than grown with resize(): g++ 12 at -O3 warns about the grown copy.
  const auto base = testing::WriteParametersPage05();
  std::vector<uint8_t> page(257, 0x5A);
  std::copy(base.begin(), base.end(), page.begin());
  page[1] = 0xFF;
  drive->modePages[0x05] = page;
  drive->acceptedWriteTypes = {1};
  Recorder r(drive);
  r.device.ProbeWriteModes();
  EXPECT_EQ(r.device.WriteModes, wmode::TAO);
  ASSERT_EQ(drive->modeSelects.size(), 3u);
  EXPECT_EQ(drive->modeSelects[2].size(), 8u + 257u);
  EXPECT_EQ(drive->modeSelects[2].back(), 0x5A);
}

TEST(Quirks, EveryFlagFromTheIdentity) {
  auto quirks = [](const std::string& vendor, const std::string& product) {
    uint8_t inquiry[36];
    std::memset(inquiry, ' ', sizeof inquiry);
    std::memcpy(inquiry + 8, vendor.data(), std::min<size_t>(vendor.size(), 8));
    std::memcpy(inquiry + 16, product.data(), std::min<size_t>(product.size(), 16));
    return QuirksFromInquiry(inquiry);
  };
  const DriveQuirks plain = quirks("PLEXTOR", "DVDR   PX-716A");
  EXPECT_FALSE(plain.ForceUnderrunFree || plain.LinkSizeQuirk || plain.SlowReadyQuirk ||
               plain.SlowReadyModel);
  EXPECT_TRUE(plain.CloseImmediate);
  EXPECT_TRUE(quirks("YAMAHA", "CD-W512EB").ForceUnderrunFree);
  EXPECT_TRUE(quirks("YAMAHA", "  CD-W512EB  ").ForceUnderrunFree);
  EXPECT_TRUE(quirks("SONY", "CRX175E").LinkSizeQuirk);
  EXPECT_TRUE(quirks("SONY", "CD-RW  CRX800E").LinkSizeQuirk);
  EXPECT_FALSE(quirks("SONY", "CD-RW CRX800E").LinkSizeQuirk);
  EXPECT_TRUE(quirks("MATSHITA", "UJDA720 DVD/CDRW").SlowReadyQuirk);
  EXPECT_TRUE(quirks("TDK", "CDRW121032").SlowReadyQuirk);
  EXPECT_FALSE(quirks("TD", "CDRW121032").SlowReadyQuirk) << "short vendor becomes spaces";
  EXPECT_TRUE(quirks("PIONEER", "DVD-RW  DVR-103").SlowReadyModel);
  EXPECT_TRUE(quirks("PIONEER", "DVD-RW  DVR-104").SlowReadyModel);
  EXPECT_FALSE(quirks("PIONEER", "DVD-RW  DVR-105").SlowReadyModel);
  EXPECT_FALSE(quirks("LITE-ON", "CDRW321040X").CloseImmediate);
}

TEST(Quirks, SelectionSetsTheProcessWideFlags) {
  auto drive = AddressedDrive("UJDA720 DVD/CDRW");
  ScopedFakeDrives drives({drive});
  TSCSIDevice device;
  device.SetDevice(device.Devices.at(0));
  EXPECT_TRUE(SlowReadyQuirk.load());
  auto other = AddressedDrive("CDRW321040X");
  ScopedFakeDrives more({other});
  TSCSIDevice second;
  second.SetDevice(second.Devices.at(0));
  EXPECT_FALSE(SlowReadyQuirk.load());
  EXPECT_FALSE(CloseImmediate.load());
  CloseImmediate.store(true);
}

}  // namespace
}  // namespace brennix
