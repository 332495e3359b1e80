// Disc information, start address and recording commands against a scripted drive, byte for
// byte: the cases where a wrong offset or an unchecked answer would go unnoticed on a
// well-behaved drive.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "device/disc_types.h"
#include "device/scsi_device.h"
#include "disc_fake_drive.h"
#include "platform/clock.h"

namespace brennix {
namespace {

using test::AtipAnswer;
using test::DiscInfoAnswer;
using test::FakeAnswer;
using test::ProfileAnswer;
using test::TrackInfoAnswer;

class DiscInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    DiscType = 0;
    drive = test::AttachFakeDrive(device);
    ASSERT_FALSE(device.Device().empty());
  }
  void TearDown() override { test::DetachFakeDrives(); }

  void Answer(uint8_t opcode, FakeAnswer answer) {
    drive->Handlers[opcode] = [answer](const uint8_t*, const uint8_t*, uint32_t) { return answer; };
  }
  // READ TRACK INFORMATION answered per track number.
  void Tracks(std::map<uint32_t, std::vector<uint8_t>> answers) {
    drive->Handlers[0x52] = [answers](const uint8_t* cdb, const uint8_t*, uint32_t) {
      const auto found = answers.find(ReadBE32(cdb + 2));
      if (found == answers.end()) return FakeAnswer::Check(0x05, 0x24, 0x00);
      return FakeAnswer::Good(found->second);
    };
  }
  // READ(10) of one sector: the volume descriptor of `volumeSectors` at `at`, zeros elsewhere.
  void VolumeDescriptorAt(uint32_t at, uint32_t volumeSectors) {
    drive->Handlers[0x28] = [at, volumeSectors](const uint8_t* cdb, const uint8_t*, uint32_t) {
      std::vector<uint8_t> sector(2048, 0);
      if (ReadBE32(cdb + 2) == at) {
        sector[0] = 1;
        std::memcpy(&sector[1], "CD001", 5);
        sector[80] = static_cast<uint8_t>(volumeSectors);
        sector[81] = static_cast<uint8_t>(volumeSectors >> 8);
        sector[82] = static_cast<uint8_t>(volumeSectors >> 16);
      }
      return FakeAnswer::Good(sector);
    };
  }

  ScopedTestClock clock;  // readiness waits take virtual time
  TSCSIDevice device;
  std::shared_ptr<test::DiscFakeDrive> drive;
};

TEST_F(DiscInfo, TypeFromProfileThenFromAtipByte6) {
  Answer(0x46, FakeAnswer::Good(ProfileAnswer(0x0009)));
  EXPECT_EQ(device.GetDiscType(), kDiscCdR);
  Answer(0x46, FakeAnswer::Check(0x05, 0x20, 0x00));  // GET CONFIGURATION refused
  Answer(0x43, FakeAnswer::Good(AtipAnswer(0xC0, 79, 59, 74)));
  EXPECT_EQ(device.GetDiscType(), kDiscCdRw);
  Answer(0x43, FakeAnswer::Good(AtipAnswer(0x80, 79, 59, 74)));
  EXPECT_EQ(device.GetDiscType(), kDiscCdR);
  Answer(0x43, FakeAnswer::Good(AtipAnswer(0x00, 79, 59, 74)));
  EXPECT_EQ(device.GetDiscType(), kDiscCdRom);
  // No ATIP: the erasable bit of the disc information decides; nothing at all and a ready
  // unit is a pressed disc; not ready is nothing.
  Answer(0x43, FakeAnswer::Check(0x05, 0x24, 0x00));
  Answer(0x51, FakeAnswer::Good(DiscInfoAnswer(0, 0, true, 1)));
  EXPECT_EQ(device.GetDiscType(), kDiscCdRw);
  Answer(0x51, FakeAnswer::Check(0x05, 0x24, 0x00));
  EXPECT_EQ(device.GetDiscType(), kDiscCdRom);
  Answer(0x00, FakeAnswer::Check(0x02, 0x3A, 0x00));
  EXPECT_EQ(device.GetDiscType(), kDiscUnknown);
  // A profile answer cut short is no profile.
  Answer(0x46, FakeAnswer::Good({0, 0, 0, 4, 0, 0, 0}));
  EXPECT_EQ(device.GetDiscType(), kDiscUnknown);
}

TEST_F(DiscInfo, CdCapacityFromAtipLeadOut) {
  Answer(0x46, FakeAnswer::Good(ProfileAnswer(0x0009)));
  Answer(0x51, FakeAnswer::Good(DiscInfoAnswer(0, 0, false, 1)));
  Answer(0x43, FakeAnswer::Good(AtipAnswer(0x80, 79, 59, 74)));
  EXPECT_EQ(device.DiscCapacity(), 359999u);
  // An ATIP too short to hold the lead-out falls back to the track information.
  Answer(0x43, FakeAnswer::Good({0, 6, 0, 0, 0, 0, 0x80, 0}));
  Answer(0x23, FakeAnswer::Check(0x05, 0x20, 0x00));
  Tracks({{0, TrackInfoAnswer(0, 0, 300000, 0)}, {1, TrackInfoAnswer(0, 0, 300000, 0)}});
  EXPECT_EQ(device.DiscCapacity(), 300000u);
}

TEST_F(DiscInfo, FailingDiscInformationAndEmptyLastSession) {
  Answer(0x51, FakeAnswer::Check(0x02, 0x3A, 0x00));
  EXPECT_EQ(device.DiscStatus(), -1);
  EXPECT_EQ(device.SessionCount(), 0);
  Answer(0x51, FakeAnswer::Good(DiscInfoAnswer(1, 0, false, 2)));
  EXPECT_EQ(device.DiscStatus(), 1);
  EXPECT_EQ(device.SessionCount(), 1);
  Answer(0x51, FakeAnswer::Good(DiscInfoAnswer(0, 0, false, 1)));
  EXPECT_EQ(device.SessionCount(), 0);
  // Declares more than it sends: only what came back counts, and it is too little.
  Answer(0x51, FakeAnswer::Good({0, 32, 0x01, 1}));
  EXPECT_EQ(device.DiscStatus(), -1);
}

TEST_F(DiscInfo, ErasableFromDiscInformationOrTheMediumType) {
  Answer(0x51, FakeAnswer::Good(DiscInfoAnswer(2, 3, true, 1)));
  EXPECT_TRUE(device.IsErasable());
  Answer(0x51, FakeAnswer::Check(0x05, 0x24, 0x00));
  Answer(0x46, FakeAnswer::Good(ProfileAnswer(0x0012)));
  EXPECT_TRUE(device.IsErasable());
  EXPECT_EQ(DiscType.load(), kDiscDvdRam);
  Answer(0x46, FakeAnswer::Good(ProfileAnswer(0x001B)));
  EXPECT_FALSE(device.IsErasable());
}

TEST_F(DiscInfo, DvdPlusRwUsedIsItsVolumeSize) {
  Answer(0x46, FakeAnswer::Good(ProfileAnswer(0x001A)));
  Answer(0x51, FakeAnswer::Good(DiscInfoAnswer(2, 3, true, 1)));
  Tracks({{0, TrackInfoAnswer(0, 0, 0, 2295104)}});
  VolumeDescriptorAt(16, 5000);
  EXPECT_EQ(device.UsedSectors(), 5000u);
  VolumeDescriptorAt(999, 5000);
  EXPECT_EQ(device.UsedSectors(), 0u);
  // Sectors that come back short are not descriptors.
  drive->Handlers[0x28] = [](const uint8_t*, const uint8_t*, uint32_t) {
    std::vector<uint8_t> head = {1, 'C', 'D', '0', '0', '1'};
    return FakeAnswer::Good(head);
  };
  EXPECT_EQ(device.UsedSectors(), 0u);
}

TEST_F(DiscInfo, DvdWithoutTrackZeroAsksTheLastTrackThenTheInvisibleOne) {
  Answer(0x46, FakeAnswer::Good(ProfileAnswer(0x001B)));  // DVD+R, one closed session
  for (const uint8_t lastTrack : {2, 0}) {  // 0: a drive that leaves the field empty
    auto info = DiscInfoAnswer(1, 0, false, 2);
    info[6] = lastTrack;
    Answer(0x51, FakeAnswer::Good(info));
    Tracks({{lastTrack == 0 ? 0xFFu : 2u, TrackInfoAnswer(8512, 8512, 2286592, 2286592)}});
    EXPECT_EQ(device.DiscCapacity(), 2295104u);
    EXPECT_EQ(device.UsedSectors(), 8512u);
  }
}

TEST_F(DiscInfo, CdUsedSectorsFromTheNextTrack) {
  Answer(0x46, FakeAnswer::Good(ProfileAnswer(0x0009)));
  Answer(0x51, FakeAnswer::Good(DiscInfoAnswer(1, 0, false, 2)));  // one closed session
  Tracks({{2, TrackInfoAnswer(16400, 16400, 300000, 0)}});
  EXPECT_EQ(device.UsedSectors(), 16400u);
  // Next writable address unknown: the track size.
  Tracks({{2, TrackInfoAnswer(16400, 0xFFFFFFFF, 0, 9000)}});
  EXPECT_EQ(device.UsedSectors(), 9000u);
}

TEST_F(DiscInfo, WaitReadyGivesUpAfterAboutThirtySecondsOfNotReady) {
  for (uint8_t op : {0x00, 0x51, 0x03}) Answer(op, FakeAnswer::Check(0x02, 0x04, 0x01));
  const uint64_t start = TickCount();
  const auto realStart = std::chrono::steady_clock::now();
  EXPECT_FALSE(device.WaitReady(30000, 5000));
  const uint64_t waited = TickCount() - start;
  EXPECT_GE(waited, 30000u);
  EXPECT_LE(waited, 36000u);
  EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(2));

  // Ready at once: true without a single sleep; an interval of 0 cannot spin forever.
  for (uint8_t op : {0x00, 0x51}) Answer(op, FakeAnswer::Good(DiscInfoAnswer(0, 0, false, 1)));
  Answer(0x03, FakeAnswer::Good(std::vector<uint8_t>(18, 0)));
  const uint64_t readyStart = TickCount();
  EXPECT_TRUE(device.WaitReady(30000, 5000));
  EXPECT_EQ(TickCount() - readyStart, 0u);
  for (uint8_t op : {0x00, 0x51, 0x03}) Answer(op, FakeAnswer::Check(0x02, 0x04, 0x01));
  EXPECT_FALSE(device.WaitReady(1000, 0));
}

TEST_F(DiscInfo, StartAddressOnCdAndDvd) {
  Answer(0x46, FakeAnswer::Good(ProfileAnswer(0x0009)));
  // Empty CD-R: track 1.
  Answer(0x51, FakeAnswer::Good(DiscInfoAnswer(0, 0, false, 1)));
  Tracks({{1, TrackInfoAnswer(0, 0, 359849, 0)}, {2, TrackInfoAnswer(0, 777, 0, 0)}});
  uint32_t start = 99;
  EXPECT_TRUE(device.GetNextWritableAddress(start));
  EXPECT_EQ(start, 0u);
  // One closed session on an open disc: track 2.
  Answer(0x51, FakeAnswer::Good(DiscInfoAnswer(1, 0, false, 2)));
  Tracks({{1, TrackInfoAnswer(0, 0xFFFFFFFF, 0, 5000)}, {2, TrackInfoAnswer(16400, 16400, 300000, 0)}});
  EXPECT_TRUE(device.GetNextWritableAddress(start));
  EXPECT_EQ(start, 16400u);
  // No writable address reported.
  Tracks({{2, TrackInfoAnswer(16400, 0xFFFFFFFF, 0, 0)}});
  EXPECT_TRUE(device.GetNextWritableAddress(start));
  EXPECT_EQ(start, 0u);
  // An answer too short to hold the address: not read, start 0.
  Tracks({{2, {0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}});
  EXPECT_FALSE(device.GetNextWritableAddress(start));
  EXPECT_EQ(start, 0u);

  // DVD+RW holding a 5000-sector volume, then none.
  Answer(0x46, FakeAnswer::Good(ProfileAnswer(0x001A)));
  VolumeDescriptorAt(17, 5000);
  EXPECT_TRUE(device.GetNextWritableAddress(start));
  EXPECT_EQ(start, 5000u);
  VolumeDescriptorAt(999, 5000);
  EXPECT_TRUE(device.GetNextWritableAddress(start));
  EXPECT_EQ(start, 0u);
}

TEST_F(DiscInfo, WriteParametersGoOutAtOffset8AndNotForDvdRam) {
  drive->Handlers[0x5A] = [](const uint8_t* cdb, const uint8_t*, uint32_t) {
    std::vector<uint8_t> a(16 + 52, 0);
    a[1] = static_cast<uint8_t>(a.size() - 2);
    a[7] = 8;
    a[16] = (cdb[2] & 0x3F) == 0x05 ? 0x05 : 0x00;
    a[17] = 0x32;
    return FakeAnswer::Good(a);
  };
  std::vector<uint8_t> selected;
  drive->Handlers[0x55] = [&](const uint8_t* cdb, const uint8_t* data, uint32_t length) {
    EXPECT_EQ(cdb[1], 0x10);
    EXPECT_EQ(cdb[8], 60);
    selected.assign(data, data + length);
    return FakeAnswer::Good();
  };
  device.Capabilities = 0;
  device.FinalizeDisc = false;
  ASSERT_TRUE(device.SetWriteParameters(false, true, false, kDiscCdR));
  ASSERT_EQ(selected.size(), 60u);
  EXPECT_EQ(selected[8], 0x05);
  EXPECT_EQ(selected[9], 0x32);
  EXPECT_EQ(selected[10], 0x01);
  EXPECT_EQ(selected[11], 0xC4);
  EXPECT_EQ(device.WriteParametersPage[3], 0xC4);

  drive->Commands.clear();
  EXPECT_TRUE(device.SetWriteParameters(false, true, false, kDiscDvdRam));
  EXPECT_TRUE(drive->Commands.empty());

  // MODE SENSE refused, or an answer without the page: failure, nothing selected.
  selected.clear();
  Answer(0x5A, FakeAnswer::Check(0x05, 0x24, 0x00));
  EXPECT_FALSE(device.SetWriteParameters(false, true, false, kDiscCdR));
  Answer(0x5A, FakeAnswer::Good(std::vector<uint8_t>(20, 0)));
  EXPECT_FALSE(device.SetWriteParameters(false, true, false, kDiscCdR));
  EXPECT_TRUE(selected.empty());
}

TEST_F(DiscInfo, SpeedBufferAndCloseCommands) {
  std::vector<uint8_t> cdb;
  drive->Handlers[0xBB] = [&](const uint8_t* c, const uint8_t*, uint32_t) {
    cdb.assign(c, c + 12);
    return FakeAnswer::Good();
  };
  device.ReadSpeed = 0;
  device.SetWriteSpeed(0);
  ASSERT_EQ(cdb.size(), 12u);
  EXPECT_EQ(cdb[2], 0xFF); EXPECT_EQ(cdb[3], 0xFF); EXPECT_EQ(cdb[4], 0xFF); EXPECT_EQ(cdb[5], 0xFF);
  device.ReadSpeed = 1385;
  device.SetWriteSpeed(2770);
  EXPECT_EQ(cdb[2], 0x05); EXPECT_EQ(cdb[3], 0x69); EXPECT_EQ(cdb[4], 0x0A); EXPECT_EQ(cdb[5], 0xD2);
  EXPECT_EQ(device.WriteSpeed, 2770);

  std::vector<uint8_t> capacity(32, 0);
  capacity[5] = 0x20;                                      // 2 MiB buffer
  capacity[8] = capacity[9] = capacity[10] = capacity[11] = 0xFF;  // blank length unknown
  Answer(0x5C, FakeAnswer::Good(capacity));
  uint32_t total = 0, blank = 0;
  EXPECT_TRUE(device.ReadBufferCapacity(total, blank));
  EXPECT_EQ(device.DeviceBufferSize, 0x200000u);
  EXPECT_EQ(device.DeviceFreeBufferSize, 0x200000u);
  Answer(0x5C, FakeAnswer::Good(std::vector<uint8_t>(6, 0)));  // too short
  EXPECT_FALSE(device.ReadBufferCapacity(total, blank));
  EXPECT_EQ(device.DeviceFreeBufferSize, 0u);

  drive->Handlers[0xB6] = [&](const uint8_t* c, const uint8_t* data, uint32_t length) {
    cdb.assign(c, c + 12);
    EXPECT_EQ(length, 28u);
    EXPECT_EQ(ReadBE32(data + 4), 0u);
    EXPECT_EQ(ReadBE32(data + 8), 12345u);
    return FakeAnswer::Good();
  };
  EXPECT_TRUE(device.SetStreaming(500, 12345, 1, 2, 1000, 1000));
  EXPECT_EQ(cdb[10], 28);
}

}  // namespace
}  // namespace brennix
