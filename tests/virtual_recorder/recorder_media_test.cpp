// The medium as the disc-information, start-address and recording code reads and writes
// it: disc and track information, ATIP, capacities, write rules and session layout.
#include <gtest/gtest.h>

#include <filesystem>

#include "recorder_harness.h"

namespace brennix::testing {
namespace {

class RecorderMedia : public ::testing::Test {
 protected:
  TempFolder folder;
};

struct DiscInfo {
  uint8_t status, lastState, sessions;
  bool erasable;
};
DiscInfo Parse(const Answer& answer) {
  return {static_cast<uint8_t>(answer.data[2] & 3), static_cast<uint8_t>((answer.data[2] >> 2) & 3),
          answer.data[4], (answer.data[2] & 0x10) != 0};
}

TEST_F(RecorderMedia, BlankCdRAnswersLikeAFreshDisc) {
  Drive drive(folder.File("disc"), std::nullopt);  // no profile, no disc yet: a blank CD-R
  ASSERT_TRUE(drive.ok()) << drive.error();
  const Answer info = drive.DiscInformation();
  ASSERT_TRUE(info.Good());
  EXPECT_EQ(info.transferred, 34u);
  const DiscInfo parsed = Parse(info);
  EXPECT_EQ(parsed.status, 0);
  EXPECT_EQ(parsed.lastState, 0);
  EXPECT_EQ(parsed.sessions, 1);
  EXPECT_FALSE(parsed.erasable);
  const Answer track = drive.TrackInformation(1);
  ASSERT_TRUE(track.Good());
  EXPECT_EQ(Be32(track.data, 8), 0u);        // start
  EXPECT_EQ(Be32(track.data, 12), 0u);       // next writable address
  EXPECT_EQ(Be32(track.data, 16), 359849u);  // free blocks of an 80-minute disc
  EXPECT_TRUE(track.data[7] & 0x01);         // NWA valid
  EXPECT_TRUE(drive.TrackInformation(2).Sense(0x05, 0x24, 0x00));
  // ATIP: present, not rewritable, lead-out 79:59:74 (= 359,999 frames).
  const Answer atip = drive.In({0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 26, 0}, 26);
  ASSERT_TRUE(atip.Good());
  EXPECT_EQ(atip.transferred, 26u);
  EXPECT_EQ(atip.data[6] & 0xC0, 0x80);
  EXPECT_EQ(atip.data[12] * 4500 + atip.data[13] * 75 + atip.data[14], 359999);
  // No TOC on a blank disc.
  EXPECT_TRUE(drive.In({0x43, 0, 0, 0, 0, 0, 0, 0, 255, 0}, 255).Sense(0x05, 0x24, 0x00));
}

TEST_F(RecorderMedia, CdRwAtipIsRewritableAndDvdHasNone) {
  Drive cdrw(folder.File("a"), MediaProfile::CdRw);
  const Answer atip = cdrw.In({0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 26, 0}, 26);
  ASSERT_TRUE(atip.Good());
  EXPECT_EQ(atip.data[6] & 0xC0, 0xC0);
  EXPECT_TRUE(Parse(cdrw.DiscInformation()).erasable);
  RecorderOptions options;
  options.cdSize = CdSize::Minutes74;
  Drive small(folder.File("b"), MediaProfile::CdR, options);
  EXPECT_EQ(Be32(small.TrackInformation(1).data, 16), 332850u);
  Drive dvd(folder.File("c"), MediaProfile::DvdR);
  EXPECT_TRUE(dvd.In({0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 26, 0}, 26).Sense(0x05, 0x24, 0x00));
}

TEST_F(RecorderMedia, StrictMmcKeepsTrackZeroForCdAndFormatCapacitiesForRewritables) {
  RecorderOptions strict;
  strict.strictMmc = true;
  for (const MediaProfile profile : {MediaProfile::DvdR, MediaProfile::DvdPlusR,
                                     MediaProfile::DvdPlusRDl, MediaProfile::DvdRwSequential,
                                     MediaProfile::DvdPlusRw}) {
    SCOPED_TRACE(ProfileName(profile));
    Drive drive(folder.File(std::string(ProfileName(profile))), profile, strict);
    EXPECT_TRUE(drive.TrackInformation(0).Sense(0x05, 0x24, 0x00));
    EXPECT_EQ(drive.TrackInformation(0xFF).Good(), IsSequentialMedia(profile));
    EXPECT_EQ(Be32(drive.In({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8).data, 0), 0u);
    const bool writeOnce = !IsErasableMedia(profile);
    const Answer formats = drive.In({0x23, 0, 0, 0, 0, 0, 0, 0, 252, 0}, 252);
    EXPECT_EQ(formats.Sense(0x05, 0x20, 0x00), writeOnce);
  }
}

TEST_F(RecorderMedia, SequentialWritesOnlyAtTheNextWritableAddressAndWithinCapacity) {
  Drive drive(folder.File("disc"), MediaProfile::CdR);
  ASSERT_TRUE(drive.ok());
  EXPECT_TRUE(drive.Write(5, 1).Sense(0x05, 0x21, 0x02));
  EXPECT_TRUE(drive.Write(0, 27).Good());
  EXPECT_TRUE(drive.Write(0, 27).Sense(0x05, 0x21, 0x02)) << "no rewriting on a CD-R";
  EXPECT_TRUE(drive.Write(27, 27).Good());
  EXPECT_TRUE(drive.Write(359849, 1).Sense(0x05, 0x21, 0x00));
  EXPECT_TRUE(drive.Write(359840, 27).Sense(0x05, 0x21, 0x00));
  // The transfer length and the data sent must agree.
  EXPECT_TRUE(drive.Out({0x2A, 0, 0, 0, 0, 54, 0, 0, 2, 0}, std::vector<uint8_t>(2048)).Sense(0x05, 0x24, 0x00));
  const Answer track = drive.TrackInformation(1);
  EXPECT_EQ(Be32(track.data, 12), 54u);
  EXPECT_EQ(Be32(track.data, 28), 53u);  // last recorded address
  const Answer read = drive.Read(27, 2);
  ASSERT_TRUE(read.Good());
  EXPECT_EQ(read.data[0], 0x5A);
  EXPECT_EQ(read.data[4095], 0x5A);
  EXPECT_TRUE(drive.Read(54, 1).Sense(0x08, 0x00, 0x00)) << "nothing recorded there";
  EXPECT_TRUE(drive.In({0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 2048).Sense(0x05, 0x24, 0x00))
      << "a buffer smaller than the transfer is refused";
  EXPECT_TRUE(drive.Read(0xFFFFFFFF, 1).Sense(0x05, 0x21, 0x00));
}

TEST_F(RecorderMedia, CdSessionsAreLaidOutWithLeadOutLeadInAndPreGap) {
  Drive drive(folder.File("disc"), MediaProfile::CdR);
  ASSERT_TRUE(drive.ok());
  ASSERT_TRUE(drive.SetWriteParameters(0x01, 0xC4).Good());  // next session allowed
  ASSERT_TRUE(drive.Write(0, 1000).Good());
  ASSERT_TRUE(drive.None({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
  ASSERT_TRUE(drive.CloseSession().Good());
  DiscInfo info = Parse(drive.DiscInformation());
  EXPECT_EQ(info.status, 1);     // incomplete: appendable
  EXPECT_EQ(info.lastState, 0);  // the new last session is empty
  EXPECT_EQ(info.sessions, 2);
  Answer second = drive.TrackInformation(2);
  ASSERT_TRUE(second.Good());
  EXPECT_EQ(Be32(second.data, 12), 1000u + 11400u);
  EXPECT_EQ(second.data[3], 2);  // session 2
  EXPECT_TRUE(drive.Write(1000, 1).Sense(0x05, 0x21, 0x00 + 0x02));
  ASSERT_TRUE(drive.Write(12400, 500).Good());
  info = Parse(drive.DiscInformation());
  EXPECT_EQ(info.lastState, 1);  // incomplete while written
  ASSERT_TRUE(drive.CloseSession().Good());
  EXPECT_EQ(Be32(drive.TrackInformation(3).data, 12), 12900u + 6900u);
  // The TOC lists the two tracks and the lead-out after the last session's data; the
  // session format points at the last session's first track.
  const Answer toc = drive.In({0x43, 0, 0, 0, 0, 0, 0, 0, 255, 0}, 255);
  ASSERT_TRUE(toc.Good());
  EXPECT_EQ(toc.data[2], 1);
  EXPECT_EQ(toc.data[3], 2);
  EXPECT_EQ(Be32(toc.data, 4 + 8 + 4), 12400u);
  EXPECT_EQ(toc.data[4 + 16 + 2], 0xAA);
  EXPECT_EQ(Be32(toc.data, 4 + 16 + 4), 12900u);
  const Answer sessions = drive.In({0x43, 0, 1, 0, 0, 0, 0, 0, 12, 0}, 12);
  ASSERT_TRUE(sessions.Good());
  EXPECT_EQ(sessions.data[3], 2);
  EXPECT_EQ(sessions.data[6], 2);
  EXPECT_EQ(Be32(sessions.data, 8), 12400u);
  // Finalizing: the write parameters say no next session.
  ASSERT_TRUE(drive.SetWriteParameters(0x01, 0x04).Good());
  ASSERT_TRUE(drive.Write(19800, 100).Good());
  ASSERT_TRUE(drive.CloseSession().Good());
  info = Parse(drive.DiscInformation());
  EXPECT_EQ(info.status, 2);
  EXPECT_EQ(info.lastState, 3);
  EXPECT_EQ(info.sessions, 3);
  EXPECT_TRUE(drive.Write(19900 + 6900, 1).Sense(0x05, 0x21, 0x02));
  EXPECT_TRUE(drive.TrackInformation(4).Sense(0x05, 0x24, 0x00));
}

TEST_F(RecorderMedia, TestWriteRecordsNothing) {
  Drive drive(folder.File("disc"), MediaProfile::CdR);
  ASSERT_TRUE(drive.SetWriteParameters(0x11, 0x04).Good());
  EXPECT_TRUE(drive.Write(0, 27).Good());
  EXPECT_TRUE(drive.Write(27, 27).Good()) << "the simulated address advances";
  EXPECT_TRUE(drive.None({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
  EXPECT_EQ(Parse(drive.DiscInformation()).status, 0);
  EXPECT_EQ(std::filesystem::file_size(folder.File("disc")), 0u);
}

TEST_F(RecorderMedia, DvdMinusRReservedTrackAndBorderZone) {
  Drive drive(folder.File("disc"), MediaProfile::DvdR);
  ASSERT_TRUE(drive.ok());
  ASSERT_TRUE(drive.SetWriteParameters(0x60, 0xE5).Good());
  ASSERT_TRUE(drive.None({0x53, 0, 0, 0, 0, 0, 0, 0x04, 0x00, 0, 0, 0}).Good());  // 1024
  Answer track = drive.TrackInformation(1);
  EXPECT_EQ(Be32(track.data, 24), 1024u);
  EXPECT_TRUE(track.data[6] & 0x80) << "reserved track";
  EXPECT_EQ(Be32(drive.TrackInformation(2).data, 8), 1024u) << "invisible track after it";
  EXPECT_TRUE(drive.None({0x53, 0, 0, 0, 0, 0, 0, 0x04, 0x00, 0, 0, 0}).Good());
  for (uint32_t lba = 0; lba < 1024; lba += 32) ASSERT_TRUE(drive.Write(lba, 32).Good()) << lba;
  EXPECT_TRUE(drive.Write(1024, 32).Good()) << "the second reserved track";
  EXPECT_TRUE(drive.Write(1056 + 32, 32).Sense(0x05, 0x21, 0x02));
  // The close sequence of a recording: track n, n+1, then the session.
  EXPECT_TRUE(drive.CloseTrack(1).Good());
  EXPECT_TRUE(drive.CloseTrack(2).Good());
  EXPECT_TRUE(drive.CloseTrack(3).Good());
  EXPECT_TRUE(drive.CloseTrack(9).Sense(0x05, 0x24, 0x00));
  EXPECT_TRUE(drive.None({0x5B, 0, 2, 0, 0, 3, 0, 0, 0, 0}).Good());
  const DiscInfo info = Parse(drive.DiscInformation());
  EXPECT_EQ(info.status, 1);
  EXPECT_EQ(info.sessions, 2);
  // DVD: track 0 names the last (invisible) track; it starts past the border zone.
  track = drive.TrackInformation(0);
  ASSERT_TRUE(track.Good());
  EXPECT_EQ(Be32(track.data, 12), 2048u + 32768u);
  EXPECT_EQ(Be32(track.data, 16) + Be32(track.data, 12), 2295104u);
  // Reserving while the invisible track holds data is a sequence error.
  ASSERT_TRUE(drive.Write(2048 + 32768, 32).Good());
  EXPECT_TRUE(drive.None({0x53, 0, 0, 0, 0, 0, 0, 0x04, 0x00, 0, 0, 0}).Sense(0x05, 0x2C, 0x00));
}

TEST_F(RecorderMedia, DvdPlusRSessionsStayAppendableUntilFinalized) {
  Drive drive(folder.File("disc"), MediaProfile::DvdPlusRDl);
  ASSERT_TRUE(drive.Write(0, 32).Good());
  EXPECT_TRUE(drive.CloseTrack(1).Good());
  EXPECT_TRUE(drive.None({0x5B, 0, 2, 0, 0, 0, 0, 0, 0, 0}).Good());
  EXPECT_EQ(Parse(drive.DiscInformation()).status, 1);
  const uint32_t next = Be32(drive.TrackInformation(0).data, 12);
  EXPECT_GT(next, 32u);
  EXPECT_EQ(next % 16, 0u);
  EXPECT_EQ(Be32(drive.TrackInformation(0).data, 16) + next, 4173824u);
  ASSERT_TRUE(drive.Write(next, 32).Good());
  EXPECT_TRUE(drive.None({0x5B, 0, 6, 0, 0, 0, 0, 0, 0, 0}).Good());  // finalize
  EXPECT_EQ(Parse(drive.DiscInformation()).status, 2);
  EXPECT_TRUE(drive.Write(next + 32, 32).Sense(0x05, 0x21, 0x02));
}

TEST_F(RecorderMedia, UnformattedDvdPlusRwRefusesTheFirstWriteUntilFormatted) {
  Drive drive(folder.File("disc"), MediaProfile::DvdPlusRw);
  ASSERT_TRUE(drive.ok());
  const Answer refused = drive.Write(0, 32);
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.asc, 0x30);
  // Format capacities: the DVD+RW descriptor 98 00 00 00 with 2,295,104 blocks.
  Answer capacities = drive.In({0x23, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0}, 248);
  ASSERT_TRUE(capacities.Good());
  EXPECT_EQ(capacities.data[3], 16);
  EXPECT_EQ(Be32(capacities.data, 12), 2295104u);
  EXPECT_EQ(Be32(capacities.data, 16), 0x98000000u);
  const std::vector<uint8_t> list = {0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40,
                                     0x98, 0x00, 0x00, 0x00};
  ASSERT_TRUE(drive.Out({0x04, 0x11, 0, 0, 0, 0}, list).Good());
  EXPECT_TRUE(drive.Write(0, 32).Good());
  EXPECT_TRUE(drive.Write(5000, 32).Good()) << "any address once formatted";
  EXPECT_TRUE(drive.Write(0, 32).Good()) << "and again";
  EXPECT_TRUE(drive.Write(2295104 - 16, 32).Sense(0x05, 0x21, 0x00));
  const Answer capacity = drive.In({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
  EXPECT_EQ(Be32(capacity.data, 0), 2295103u);
  EXPECT_EQ(Be32(capacity.data, 4), 2048u);
  // A short parameter list is refused rather than read past.
  EXPECT_TRUE(drive.Out({0x04, 0x11, 0, 0, 0, 0}, std::vector<uint8_t>(4)).Sense(0x05, 0x1A, 0x00));
  EXPECT_TRUE(drive.Out({0x04, 0x11, 0, 0, 0, 0}, {0, 0x82, 0, 8, 0, 0, 0, 0, 0x54, 0, 0, 0x10})
                  .Sense(0x05, 0x26, 0x00));
}

TEST_F(RecorderMedia, FormattingDvdRwTurnsItIntoRestrictedOverwriteAndBlankingBack) {
  Drive drive(folder.File("disc"), MediaProfile::DvdRwSequential);
  ASSERT_TRUE(drive.Write(0, 32).Good());
  EXPECT_TRUE(drive.Write(64, 32).Sense(0x05, 0x21, 0x02));
  // Quick format (type 15h) as the recording start sends it.
  ASSERT_TRUE(drive.Out({0x04, 0x11, 0, 0, 0, 0}, {0, 0xA2, 0, 8, 0, 0, 0x03, 0xE8, 0x54, 0, 0, 0x10}).Good());
  Answer config = drive.In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114);
  EXPECT_EQ(Be16(config.data, 6), 0x13u);
  EXPECT_TRUE(drive.Write(64, 32).Good()) << "restricted overwrite takes any address";
  Answer track = drive.TrackInformation(1);
  EXPECT_EQ(Be32(track.data, 24), 2295104u);
  EXPECT_EQ(Be32(track.data, 12), 96u);
  // Grow format keeps the data.
  ASSERT_TRUE(drive.Out({0x04, 0x11, 0, 0, 0, 0}, {0, 0x82, 0, 8, 0, 0, 0, 0, 0x4C, 0, 0, 0x10}).Good());
  EXPECT_EQ(drive.Read(64, 1).data[0], 0x5A);
  // Blanking returns it to sequential recording, empty.
  ASSERT_TRUE(drive.None({0xA1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
  config = drive.In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114);
  EXPECT_EQ(Be16(config.data, 6), 0x14u);
  EXPECT_EQ(Parse(drive.DiscInformation()).status, 0);
  EXPECT_TRUE(drive.Read(64, 1).Sense(0x08, 0x00, 0x00));
}

TEST_F(RecorderMedia, OnlyRewritableMediaBlankAndFormat) {
  Drive cdr(folder.File("a"), MediaProfile::CdR);
  EXPECT_TRUE(cdr.None({0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Sense(0x05, 0x30, 0x05));
  EXPECT_TRUE(cdr.Out({0x04, 0x11, 0, 0, 0, 0}, {0, 0x82, 0, 8, 0, 0, 0, 0, 0x98, 0, 0, 0}).Sense(0x05, 0x30, 0x05));
  Drive rom(folder.File("b"), MediaProfile::DvdRom);
  EXPECT_TRUE(rom.Write(0, 1).Sense(0x05, 0x30, 0x05));
  Drive cdrw(folder.File("c"), MediaProfile::CdRw);
  EXPECT_TRUE(cdrw.None({0xA1, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Sense(0x05, 0x24, 0x00));
}

TEST_F(RecorderMedia, DvdRamIsFormattedAndReadsZerosWhereNothingWasWritten) {
  Drive drive(folder.File("disc"), MediaProfile::DvdRam);
  const Answer capacities = drive.In({0x23, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0}, 248);
  ASSERT_TRUE(capacities.Good());
  EXPECT_EQ(Be32(capacities.data, 4), 2236704u);
  EXPECT_EQ(Be32(capacities.data, 16), 0x00000800u);
  ASSERT_TRUE(drive.Write(100, 1).Good());
  const Answer read = drive.Read(99, 3);
  ASSERT_TRUE(read.Good());
  EXPECT_EQ(read.data[0], 0);
  EXPECT_EQ(read.data[2048], 0x5A);
  EXPECT_EQ(read.data[4096], 0);
  EXPECT_EQ(Parse(drive.DiscInformation()).status, 3);
  EXPECT_TRUE(drive.None({0x5B, 0, 3, 0, 0, 0xFF, 0, 0, 0, 0}).Good());
}

TEST_F(RecorderMedia, SpeedBufferAndStreamingCommands) {
  Drive drive(folder.File("disc"), MediaProfile::DvdR);
  EXPECT_TRUE(drive.None({0xBB, 0, 0xFF, 0xFF, 0, 2, 0, 0, 0, 0, 0, 0}).Good());
  Answer page = drive.In({0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 255, 0}, 255);
  EXPECT_EQ(Be16(page.data, 8 + 20), 1385u) << "2 kB/s is raised to the slowest speed";
  EXPECT_TRUE(drive.None({0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}).Good());
  page = drive.In({0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 255, 0}, 255);
  EXPECT_EQ(Be16(page.data, 8 + 20), 22160u);
  std::vector<uint8_t> descriptor(28, 0);
  descriptor[10] = 0x23, descriptor[11] = 0x12, descriptor[12] = 0x7F;
  descriptor[22] = 0x16, descriptor[23] = 0xA8;  // 5800 KB
  descriptor[26] = 0x03, descriptor[27] = 0xE8;  // per 1000 ms
  EXPECT_TRUE(drive.Out({0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, descriptor).Sense(0x05, 0x26, 0x00))
      << "a read time of 0 is refused";
  descriptor[14] = 0x16, descriptor[15] = 0xA8, descriptor[18] = 0x03, descriptor[19] = 0xE8;
  EXPECT_TRUE(drive.Out({0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, descriptor).Good());
  page = drive.In({0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 255, 0}, 255);
  EXPECT_EQ(Be16(page.data, 8 + 20), 5800u);
  EXPECT_TRUE(drive.Out({0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, std::vector<uint8_t>(20))
                  .Sense(0x05, 0x24, 0x00));
  std::vector<uint8_t> stamp = {0x00, 0x14, 0, 0, 0, 0, 0, 0};
  for (char c : std::string("20261207093000")) stamp.push_back(static_cast<uint8_t>(c));
  EXPECT_TRUE(drive.Out({0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0}, stamp).Good());
  EXPECT_TRUE(drive.None({0x54, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
  const Answer buffer = drive.In({0x5C, 0, 0, 0, 0, 0, 0, 0, 32, 0}, 32);
  ASSERT_TRUE(buffer.Good());
  EXPECT_EQ(buffer.transferred, 12u);
  EXPECT_EQ(Be32(buffer.data, 4), 2u << 20);
  EXPECT_EQ(Be32(buffer.data, 8), 2u << 20);
  Drive cd(folder.File("cd"), MediaProfile::CdR);
  EXPECT_TRUE(cd.Out({0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0}, stamp).Sense(0x05, 0x30, 0x02));
}

}  // namespace
}  // namespace brennix::testing
