// The drive as the device layer first meets it: identity, tray, mode pages, features, and
// answers that must never run past what the caller asked for or provided.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "recorder_harness.h"

namespace brennix::testing {
namespace {

class RecorderIdentity : public ::testing::Test {
 protected:
  TempFolder folder;
};

TEST_F(RecorderIdentity, InquiryCarriesTheConfiguredIdentityPaddedToItsFields) {
  RecorderOptions options;
  options.vendor = "TDK";
  options.product = "CDRW321040X";
  options.revision = "1.2";
  Drive drive(folder.File("disc"), std::nullopt, options);
  ASSERT_TRUE(drive.ok()) << drive.error();
  const Answer answer = drive.In({0x12, 0, 0, 0, 0x80, 0}, 131);
  ASSERT_TRUE(answer.Good());
  EXPECT_EQ(answer.transferred, 96u);
  EXPECT_EQ(answer.data[0], 0x05);
  EXPECT_EQ(answer.data[1], 0x80);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&answer.data[8]), 28),
            "TDK     CDRW321040X     1.2 ");
  EXPECT_EQ(answer.data[96], 0xEE) << "nothing beyond the answer is touched";
}

TEST_F(RecorderIdentity, AnswersAreClampedToAllocationLengthAndBuffer) {
  Drive drive(folder.File("disc"), std::nullopt);
  ASSERT_TRUE(drive.ok()) << drive.error();
  // Allocation 36, generous buffer: 36 bytes.
  Answer answer = drive.In({0x12, 0, 0, 0, 36, 0}, 128);
  ASSERT_TRUE(answer.Good());
  EXPECT_EQ(answer.transferred, 36u);
  EXPECT_EQ(answer.data[36], 0xEE);
  // Allocation 255 but a 10-byte buffer: the buffer wins, nothing is written past it.
  answer = drive.In({0x12, 0, 0, 0, 0xFF, 0}, 10);
  ASSERT_TRUE(answer.Good());
  EXPECT_EQ(answer.transferred, 10u);
  // No data phase at all although the command asks for data.
  answer = drive.None({0x12, 0, 0, 0, 0x80, 0});
  ASSERT_TRUE(answer.Good());
  EXPECT_EQ(answer.transferred, 0u);
  // A command block shorter than its group demands is refused, not read past its end.
  answer = drive.In({0x51, 0, 0}, 34);
  EXPECT_TRUE(answer.Sense(0x05, 0x24, 0x00));
}

TEST_F(RecorderIdentity, UnknownCommandsAreIllegalOperationCodes) {
  Drive drive(folder.File("disc"), std::nullopt);
  ASSERT_TRUE(drive.ok());
  for (uint8_t opcode : {0x08, 0x2B, 0xA8, 0xBE, 0xAD}) {
    const Answer answer = drive.In({opcode, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 64);
    EXPECT_TRUE(answer.Sense(0x05, 0x20, 0x00)) << int(opcode);
    EXPECT_EQ(answer.sense[0], 0x70) << "fixed-format sense";
    EXPECT_EQ(answer.sense[7], 10);
  }
}

TEST_F(RecorderIdentity, TrayOpensClosesAndHonoursTheLock) {
  Drive drive(folder.File("disc"), std::nullopt);
  ASSERT_TRUE(drive.ok());
  EXPECT_TRUE(drive.TestUnitReady().Good());
  EXPECT_TRUE(drive.None({0x1E, 0, 0, 0, 1, 0}).Good());  // prevent removal
  EXPECT_TRUE(drive.None({0x1B, 0, 0, 0, 0x02, 0}).Sense(0x05, 0x53, 0x02));
  EXPECT_TRUE(drive.None({0x1E, 0, 0, 0, 0, 0}).Good());  // allow
  EXPECT_TRUE(drive.None({0x1B, 0, 0, 0, 0x02, 0}).Good());
  EXPECT_TRUE(drive.TestUnitReady().Sense(0x02, 0x3A, 0x02));
  EXPECT_TRUE(drive.DiscInformation().Sense(0x02, 0x3A, 0x02));
  EXPECT_TRUE(drive.None({0xBE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Sense(0x05, 0x20, 0x00));
  // REQUEST SENSE reports the open tray as data.
  Answer sense = drive.In({0x03, 0, 0, 0, 18, 0}, 18);
  ASSERT_TRUE(sense.Good());
  EXPECT_EQ(sense.data[2], 0x02);
  EXPECT_EQ(sense.data[12], 0x3A);
  EXPECT_EQ(sense.data[13], 0x02);
  // With the tray open the drive has no current profile.
  Answer config = drive.In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114);
  ASSERT_TRUE(config.Good());
  EXPECT_EQ(Be16(config.data, 6), 0u);
  // The tray stays open for the next process that uses the disc.
  const std::string path = drive.recorder().Path();
  drive.Release();
  Drive later(path, std::nullopt);
  ASSERT_TRUE(later.ok());
  EXPECT_TRUE(later.TestUnitReady().Sense(0x02, 0x3A, 0x02));
  EXPECT_TRUE(later.None({0x1B, 0, 0, 0, 0x03, 0}).Good());
  EXPECT_TRUE(later.TestUnitReady().Good());
  sense = later.In({0x03, 0, 0, 0, 18, 0}, 18);
  EXPECT_EQ(sense.data[0], 0x70);
  EXPECT_EQ(sense.data[2], 0x00);
  EXPECT_EQ(sense.data[12], 0x00);
}

TEST_F(RecorderIdentity, EmptyDriveReportsNoMediumWithTheTrayClosed) {
  Drive drive(folder.File("disc"), MediaProfile::None);
  ASSERT_TRUE(drive.ok());
  EXPECT_TRUE(drive.TestUnitReady().Sense(0x02, 0x3A, 0x01));
  EXPECT_TRUE(drive.In({0x12, 0, 0, 0, 36, 0}, 36).Good());
  EXPECT_FALSE(std::filesystem::exists(folder.File("disc"))) << "an empty drive leaves PATH alone";
}

TEST_F(RecorderIdentity, CurrentProfileFollowsTheDisc) {
  const std::pair<MediaProfile, uint16_t> expected[] = {
      {MediaProfile::CdRom, 0x0008},           {MediaProfile::CdR, 0x0009},
      {MediaProfile::CdRw, 0x000A},            {MediaProfile::DvdRom, 0x0010},
      {MediaProfile::DvdR, 0x0011},            {MediaProfile::DvdRam, 0x0012},
      {MediaProfile::DvdRwRestricted, 0x0013}, {MediaProfile::DvdRwSequential, 0x0014},
      {MediaProfile::DvdPlusRw, 0x001A},       {MediaProfile::DvdPlusR, 0x001B},
      {MediaProfile::DvdPlusRDl, 0x002B},
  };
  int i = 0;
  for (const auto& [profile, number] : expected) {
    Drive drive(folder.File("disc" + std::to_string(i++)), profile);
    ASSERT_TRUE(drive.ok()) << drive.error();
    const Answer answer = drive.In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(Be16(answer.data, 6), number) << ProfileName(profile);
    // Feature 0 (profile list) follows the header and marks exactly one current profile.
    EXPECT_EQ(Be16(answer.data, 8), 0u);
    int current = 0;
    for (size_t at = 12; at + 4 <= 12u + answer.data[11]; at += 4) {
      if (answer.data[at + 2] & 1) {
        ++current;
        EXPECT_EQ(Be16(answer.data, at), number);
      }
    }
    EXPECT_EQ(current, 1);
  }
}

TEST_F(RecorderIdentity, OneFeatureRequestsReturnTheWriteFeatures) {
  Drive drive(folder.File("disc"), MediaProfile::DvdPlusRw);
  ASSERT_TRUE(drive.ok());
  struct Case {
    uint8_t feature;
    uint8_t firstByte;
  } cases[] = {{0x2A, 0x01}, {0x3B, 0x01}, {0x2F, 0x46}};
  for (const auto& c : cases) {
    const Answer answer = drive.In({0x46, 0x02, 0, c.feature, 0, 0, 0, 0, 114, 0}, 114);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(Be16(answer.data, 8), c.feature);
    EXPECT_EQ(answer.data[12], c.firstByte);
    EXPECT_EQ(Be32(answer.data, 0) + 4, answer.transferred);
  }
  // A feature the drive does not have: just the header.
  const Answer none = drive.In({0x46, 0x02, 0, 0x40, 0, 0, 0, 0, 114, 0}, 114);
  ASSERT_TRUE(none.Good());
  EXPECT_EQ(none.transferred, 8u);
  EXPECT_EQ(Be32(none.data, 0), 4u);
}

TEST_F(RecorderIdentity, ModeSenseWithAndWithoutBlockDescriptor) {
  for (bool descriptor : {true, false}) {
    RecorderOptions options;
    options.modeBlockDescriptor = descriptor;
    Drive drive(folder.File(descriptor ? "a" : "b"), MediaProfile::CdR, options);
    ASSERT_TRUE(drive.ok());
    const size_t offset = descriptor ? 16 : 8;
    // Capabilities page with default values, as discovery asks for it.
    Answer page = drive.In({0x5A, 0, 0x80 | 0x2A, 0, 0, 0, 0, 0, 255, 0}, 255);
    ASSERT_TRUE(page.Good());
    EXPECT_EQ(Be16(page.data, 6), descriptor ? 8u : 0u);
    EXPECT_EQ(page.data[offset], 0x2A);
    EXPECT_EQ(page.data[offset + 2], 0x3F);
    EXPECT_EQ(page.data[offset + 3], 0x37);
    EXPECT_TRUE(page.data[offset + 4] & 0x80);
    EXPECT_EQ(Be16(page.data, offset + 18), 9173u) << "52x on CD-R";
    EXPECT_EQ(Be16(page.data, 0) + 2, page.transferred);
    // Write parameters page.
    page = drive.In({0x5A, 0, 0x05, 0, 0, 0, 0, 0x02, 0x00, 0}, 512);
    ASSERT_TRUE(page.Good());
    EXPECT_EQ(page.data[offset], 0x05);
    EXPECT_EQ(page.data[offset + 1], 0x32);
    // DBD suppresses the descriptor whatever the drive's habit.
    page = drive.In({0x5A, 0x08, 0x05, 0, 0, 0, 0, 0x02, 0x00, 0}, 512);
    EXPECT_EQ(page.data[8], 0x05);
  }
}

TEST_F(RecorderIdentity, CapabilityPatchesPresentOtherDrives) {
  RecorderOptions options;
  options.product = "CD-W512EB";
  options.capabilityPagePatches = {{4, 0x00}, {18, 0}, {19, 0}, {20, 0}, {21, 0}, {0, 0x99}};
  Drive drive(folder.File("disc"), MediaProfile::CdR, options);
  const Answer page = drive.In({0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 255, 0}, 255);
  ASSERT_TRUE(page.Good());
  EXPECT_EQ(page.data[8], 0x2A) << "the page code is not patchable";
  EXPECT_EQ(page.data[8 + 4], 0x00);
  EXPECT_EQ(Be16(page.data, 8 + 18), 0u);
  EXPECT_EQ(Be16(page.data, 8 + 20), 0u);
}

TEST_F(RecorderIdentity, Page30OnlyWhenConfigured) {
  Drive plain(folder.File("a"), MediaProfile::CdR);
  EXPECT_TRUE(plain.In({0x5A, 0, 0x30, 0, 0, 0, 0, 0, 128, 0}, 128).Sense(0x05, 0x24, 0x00));
  EXPECT_TRUE(plain.In({0x5A, 0, 0xC0 | 0x05, 0, 0, 0, 0, 0, 128, 0}, 128).Sense(0x05, 0x39, 0x00));
  RecorderOptions options;
  options.answersPage30 = true;
  Drive withPage(folder.File("b"), MediaProfile::CdR, options);
  const Answer answer = withPage.In({0x5A, 0, 0x30, 0, 0, 0, 0, 0, 128, 0}, 128);
  ASSERT_TRUE(answer.Good());
  EXPECT_EQ(answer.data[16], 0x30);
}

TEST_F(RecorderIdentity, ModeSelectStoresTheWriteParametersAndRejectsBadPages) {
  Drive drive(folder.File("disc"), MediaProfile::DvdPlusRw);
  ASSERT_TRUE(drive.ok());
  EXPECT_TRUE(drive.SetWriteParameters(0x22, 0x04).Good());
  Answer page = drive.In({0x5A, 0x08, 0x05, 0, 0, 0, 0, 0x02, 0x00, 0}, 512);
  EXPECT_EQ(page.data[10], 0x22);
  EXPECT_EQ(page.data[11], 0x04);
  // Raw writing does not exist on DVD media: the write-mode probe must see it refused.
  EXPECT_TRUE(drive.SetWriteParameters(0x03, 0x04).Sense(0x05, 0x26, 0x00));
  // The page claims more bytes than the list holds.
  std::vector<uint8_t> list(20, 0);
  list[8] = 0x05;
  list[9] = 0x32;
  EXPECT_TRUE(drive.Out({0x55, 0x10, 0, 0, 0, 0, 0, 0, 20, 0}, list).Sense(0x05, 0x1A, 0x00));
  // The CDB asks for more parameter data than the caller sends.
  EXPECT_TRUE(drive.Out({0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, list).Sense(0x05, 0x24, 0x00));
  // On CD all three write types are taken.
  Drive cd(folder.File("cd"), MediaProfile::CdR);
  std::vector<uint8_t> raw(60, 0);
  raw[8] = 0x05;
  raw[9] = 0x32;
  raw[10] = 0x03;
  raw[12] = 0x01;
  EXPECT_TRUE(cd.Out({0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, raw).Good());
}

}  // namespace
}  // namespace brennix::testing
