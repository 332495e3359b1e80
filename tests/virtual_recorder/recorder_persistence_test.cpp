// The disc outlives the drive object: state file, sparse sector file, profile rules on
// attach, session export; and the time model: blanking progress and the drive buffer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "recorder_harness.h"
#include "virtual_recorder/attach.h"
#include "virtual_recorder/session_export.h"

namespace brennix::testing {
namespace {

class RecorderPersistence : public ::testing::Test {
 protected:
  TempFolder folder;
};

std::vector<uint8_t> VolumeDescriptor(uint8_t type, uint32_t volumeSpace) {
  std::vector<uint8_t> sector(2048, 0);
  sector[0] = type;
  std::memcpy(&sector[1], "CD001", 5);
  sector[6] = 1;
  for (int i = 0; i < 4; ++i) {
    sector[80 + i] = static_cast<uint8_t>(volumeSpace >> (8 * i));
    sector[87 - i] = static_cast<uint8_t>(volumeSpace >> (8 * i));
  }
  return sector;
}

Answer WriteSectors(Drive& drive, uint32_t lba, const std::vector<uint8_t>& data) {
  const uint32_t sectors = static_cast<uint32_t>(data.size() / 2048);
  return drive.Out({0x2A, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                    static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0,
                    static_cast<uint8_t>(sectors >> 8), static_cast<uint8_t>(sectors), 0},
                   data);
}

// A session of `sectors` sectors at lba whose descriptors at lba+16 give its volume size.
void RecordSession(Drive& drive, uint32_t lba, uint32_t sectors, uint8_t fill) {
  std::vector<uint8_t> data(static_cast<size_t>(sectors) * 2048, fill);
  const auto primary = VolumeDescriptor(1, lba + sectors);
  const auto terminator = VolumeDescriptor(255, 0);
  std::copy(primary.begin(), primary.end(), data.begin() + 16 * 2048);
  std::copy(terminator.begin(), terminator.end(), data.begin() + 17 * 2048);
  ASSERT_TRUE(WriteSectors(drive, lba, data).Good());
  ASSERT_TRUE(drive.CloseSession().Good());
}

TEST_F(RecorderPersistence, ASecondRecorderFindsTheSameDiscAndAppendsASession) {
  const std::string path = folder.File("disc.iso");
  {
    Drive first(path, std::nullopt);
    ASSERT_TRUE(first.ok()) << first.error();
    ASSERT_TRUE(first.SetWriteParameters(0x01, 0xC4).Good());
    RecordSession(first, 0, 100, 0x11);
  }
  {
    Drive second(path, std::nullopt);
    ASSERT_TRUE(second.ok()) << second.error();
    const Answer info = second.DiscInformation();
    EXPECT_EQ(info.data[2] & 3, 1);
    EXPECT_EQ(info.data[4], 2);
    EXPECT_EQ(Be32(second.TrackInformation(2).data, 12), 11500u);
    ASSERT_TRUE(second.SetWriteParameters(0x01, 0xC4).Good());
    RecordSession(second, 11500, 50, 0x22);
    // Written but not closed: the growth must survive too.
    ASSERT_TRUE(second.Write(11500 + 50 + 6900, 3).Good());
  }
  Drive third(path, MediaProfile::CdR);  // the same kind named explicitly is fine
  ASSERT_TRUE(third.ok()) << third.error();
  EXPECT_EQ(third.DiscInformation().data[4], 3);
  EXPECT_EQ(Be32(third.TrackInformation(3).data, 12), 11500u + 50 + 6900 + 3);
  EXPECT_EQ(third.Read(11500, 1).data[0], 0x22);
  // The first session from sector 0 is an ordinary image file: its size is the volume's.
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, static_cast<off_t>(11500 + 50 + 6900 + 3) * 2048);
  std::ifstream image(path, std::ios::binary);
  std::vector<char> sector(2048);
  image.seekg(16 * 2048);
  image.read(sector.data(), 2048);
  EXPECT_EQ(std::string(sector.data() + 1, 5), "CD001");
}

TEST_F(RecorderPersistence, BlankAreasStayHolesInTheFile) {
  const std::string path = folder.File("dvd");
  Drive drive(path, MediaProfile::DvdRam);
  ASSERT_TRUE(drive.Write(2000000, 32).Good());
  ASSERT_TRUE(drive.Write(0, 32, 0).Good()) << "zeros";
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, static_cast<off_t>(2000032) * 2048);
  EXPECT_LT(static_cast<uint64_t>(info.st_blocks) * 512, 4u << 20) << "only the written block takes room";
  // Zeros written over data punch it out again; reads return zeros.
  ASSERT_TRUE(drive.Write(2000000, 32, 0).Good());
  EXPECT_EQ(drive.Read(2000000, 1).data[0], 0);
}

TEST_F(RecorderPersistence, ProfileOnAttachRules) {
  std::string error;
  const std::string path = folder.File("disc");
  {
    Drive drive(path, MediaProfile::CdRw);
    ASSERT_TRUE(drive.Write(0, 1).Good());
  }
  // Another kind over a disc with data: refused, with a message that names both.
  Drive other(path, MediaProfile::DvdR);
  EXPECT_FALSE(other.ok());
  EXPECT_NE(other.error().find("cd-rw"), std::string::npos) << other.error();
  // A DVD-RW formatted to restricted overwrite is still the DVD-RW named on attach.
  {
    Drive dvdrw(folder.File("rw"), MediaProfile::DvdRwSequential);
    ASSERT_TRUE(dvdrw.Out({0x04, 0x11, 0, 0, 0, 0}, {0, 0x82, 0, 8, 0, 0, 0, 0, 0x54, 0, 0, 0x10}).Good());
    ASSERT_TRUE(dvdrw.Write(0, 32).Good());
  }
  Drive sameDisc(folder.File("rw"), MediaProfile::DvdRwSequential);
  ASSERT_TRUE(sameDisc.ok()) << sameDisc.error();
  EXPECT_EQ(sameDisc.recorder().Disc().profile, MediaProfile::DvdRwRestricted);
  // Blank it and the file may take a disc of another kind.
  {
    Drive drive(path, std::nullopt);
    ASSERT_TRUE(drive.ok());
    ASSERT_TRUE(drive.None({0xA1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
  }
  Drive fresh(path, MediaProfile::DvdPlusR);
  ASSERT_TRUE(fresh.ok()) << fresh.error();
  EXPECT_EQ(Be16(fresh.In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114).data, 6), 0x1Bu);
  fresh.Release();
  // A plain image without state is a pressed disc holding it.
  const std::string image = folder.File("image.iso");
  {
    std::ofstream out(image, std::ios::binary);
    std::vector<char> zeros(2048 * 20, 0);
    out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  Drive pressed(image, std::nullopt);
  ASSERT_TRUE(pressed.ok());
  EXPECT_EQ(Be16(pressed.In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114).data, 6), 0x08u);
  EXPECT_EQ(Be32(pressed.In({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8).data, 0), 19u);
  // The same disc cannot sit in two drives.
  Drive twice(image, std::nullopt);
  EXPECT_FALSE(twice.ok());
}

TEST_F(RecorderPersistence, DamagedStateIsRefusedNotTrusted) {
  const std::string path = folder.File("disc");
  { Drive drive(path, MediaProfile::CdR); }
  const std::string cases[] = {
      "garbage\n",
      "brennix-virtual-disc 1\nprofile cd-r\ntrack 1 400000 0 10 1\nclosed-sessions 1\n",
      "brennix-virtual-disc 1\nprofile cd-r\ntrack 1 0 0 10 1\ntrack 1 5 0 10 1\nclosed-sessions 1\n",
      "brennix-virtual-disc 1\nprofile cd-r\nclosed-sessions 4\n",
      "brennix-virtual-disc 1\nprofile blu-ray\n",
      "brennix-virtual-disc 1\nprofile cd-r\nhigh-water 99999999999\n",
  };
  for (const auto& text : cases) {
    std::ofstream(path + ".state", std::ios::trunc) << text;
    Drive drive(path, std::nullopt);
    EXPECT_FALSE(drive.ok()) << text;
  }
}

TEST_F(RecorderPersistence, SpecSplitsAtTheLastColonOnlyForProfileNames) {
  std::string path;
  std::optional<MediaProfile> profile;
  SplitRecorderText("/tmp/a:b/disc.iso:dvd+r-dl", path, profile);
  EXPECT_EQ(path, "/tmp/a:b/disc.iso");
  EXPECT_EQ(profile, MediaProfile::DvdPlusRDl);
  SplitRecorderText("/tmp/a:b/disc.iso", path, profile);
  EXPECT_EQ(path, "/tmp/a:b/disc.iso");
  EXPECT_FALSE(profile.has_value());
  SplitRecorderText("c:none", path, profile);
  EXPECT_EQ(path, "c");
  EXPECT_EQ(profile, MediaProfile::None);
  RecorderOptions options;
  std::string error;
  EXPECT_TRUE(ParseRecorderOptions("speed=simulated,address=2:1:0,product=CD-W512EB,strict-mmc=1",
                                   options, error));
  EXPECT_TRUE(options.strictMmc);
  EXPECT_EQ(options.speed, SpeedModel::Simulated);
  EXPECT_EQ(options.address->PortNumber, 2);
  EXPECT_EQ(options.product, "CD-W512EB");
  EXPECT_FALSE(ParseRecorderOptions("speed=warp", options, error));
  EXPECT_FALSE(ParseRecorderOptions("colour=red", options, error));
  EXPECT_EQ(options.speed, SpeedModel::Simulated) << "a failed parse changes nothing";

  // Scripted faults and a sector stored wrong, as scripts give them.
  ASSERT_TRUE(ParseRecorderOptions(
      "fault=busy:2a:5,fault=not-ready:any:3000ms:08,fault=sense:28:2:3/11/00,"
      "fault=no-answer:35:1,fault=slow:1b:1:10000ms,bad-sector=20,bad-sector=7",
      options, error)) << error;
  ASSERT_EQ(options.faults.size(), 5u);
  EXPECT_EQ(options.faults[0].kind, RecorderFault::Kind::Busy);
  EXPECT_EQ(options.faults[0].opcode, 0x2A);
  EXPECT_EQ(options.faults[0].count, 5u);
  EXPECT_EQ(options.faults[1].opcode, -1);
  EXPECT_EQ(options.faults[1].durationMs, 3000u);
  EXPECT_EQ(options.faults[1].ascq, 0x08);
  EXPECT_EQ(options.faults[2].key, 0x03);
  EXPECT_EQ(options.faults[2].asc, 0x11);
  EXPECT_EQ(options.faults[3].kind, RecorderFault::Kind::NoAnswer);
  EXPECT_EQ(options.faults[4].kind, RecorderFault::Kind::Slow);
  EXPECT_EQ(options.faults[4].delayMs, 10000u);
  EXPECT_EQ(options.badSectors, (std::vector<uint32_t>{20, 7}));
  for (const char* bad : {"fault=busy", "fault=busy:2a", "fault=late:2a:1", "fault=busy:2a:0",
                          "fault=busy:zz:1", "fault=sense:2a:1:3/0c", "fault=busy:2a:1:3/0c/00",
                          "fault=slow:1b:1", "fault=slow:1b:1:10", "bad-sector=-1"}) {
    EXPECT_FALSE(ParseRecorderOptions(bad, options, error)) << bad;
  }
}

TEST_F(RecorderPersistence, AttachRegistersAnExtraDrive) {
  ClearExtraDrives();
  std::string error;
  ASSERT_TRUE(AttachVirtualRecorder(folder.File("one") + ":dvd-ram", error)) << error;
  ASSERT_TRUE(AttachVirtualRecorder(folder.File("two"), error)) << error;
  EXPECT_FALSE(AttachVirtualRecorder(":cd-r", error));
  const auto drives = ExtraDrives();
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0]->DevicePath(), folder.File("one"));
  const DriveHandle a = drives[0]->Open();
  const DriveHandle b = drives[1]->Open();
  ScsiAddress first, second;
  ASSERT_TRUE(drives[0]->QueryAddress(a, first));
  ASSERT_TRUE(drives[1]->QueryAddress(b, second));
  EXPECT_EQ(first.PortNumber, second.PortNumber);
  EXPECT_EQ(second.TargetId, first.TargetId + 1);
  ClearExtraDrives();
}

TEST_F(RecorderPersistence, ExportedSessionIsAnOrdinaryImage) {
  const std::string path = folder.File("disc");
  {
    Drive drive(path, MediaProfile::CdR);
    ASSERT_TRUE(drive.SetWriteParameters(0x01, 0xC4).Good());
    RecordSession(drive, 0, 40, 0x11);
    RecordSession(drive, 11440, 30, 0x22);
  }
  std::string error;
  const std::string out = folder.File("second.iso");
  {
    // From a drive that still holds the disc, with growth not yet saved.
    Drive drive(path, std::nullopt);
    ASSERT_TRUE(drive.Write(11470 + 6900, 2).Good());
    ASSERT_TRUE(drive.recorder().ExportSession(0, out, error)) << error;
    EXPECT_EQ(std::filesystem::file_size(out), (11470u + 6900 + 2) * 2048);
  }
  ASSERT_TRUE(ExportSessionIso(path, 2, out, error)) << error;
  std::ifstream in(out, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), static_cast<size_t>(11470) * 2048);
  // Its descriptors sit where readers look, and give the session's volume size.
  EXPECT_EQ(bytes[16 * 2048], 1);
  EXPECT_EQ(bytes[16 * 2048 + 80] | (bytes[16 * 2048 + 81] << 8), 11470);
  EXPECT_EQ(bytes[17 * 2048], 255);
  EXPECT_EQ(bytes[20 * 2048], 0) << "the first session's data is not carried over";
  EXPECT_EQ(bytes[11440 * 2048], 0x22);
  ASSERT_TRUE(ExportSessionIso(path, 1, out, error)) << error;
  EXPECT_EQ(std::filesystem::file_size(out), 40u * 2048);
  EXPECT_FALSE(ExportSessionIso(path, 4, out, error));
}

class RecorderTiming : public ::testing::Test {
 protected:
  ScopedTestClock clock;
  TempFolder folder;
  RecorderOptions Simulated() {
    RecorderOptions options;
    options.speed = SpeedModel::Simulated;
    return options;
  }
};

TEST_F(RecorderTiming, ImmediateBlankReportsProgressUntilDone) {
  Drive drive(folder.File("disc"), MediaProfile::CdRw, Simulated());
  ASSERT_TRUE(drive.Write(0, 100).Good());
  const uint64_t start = TickCount();
  ASSERT_TRUE(drive.None({0xA1, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good());  // full, immediate
  EXPECT_EQ(TickCount(), start) << "immediate returns at once";
  int last = -1;
  int polls = 0;
  while (true) {
    const Answer tur = drive.TestUnitReady();
    if (tur.Good()) break;
    ASSERT_TRUE(tur.Sense(0x02, 0x04, 0x07));
    ASSERT_EQ(tur.sense[15], 0x80) << "progress indication valid";
    const int progress = (tur.sense[16] << 8) | tur.sense[17];
    EXPECT_GE(progress, last);
    last = progress;
    EXPECT_TRUE(drive.In({0x12, 0, 0, 0, 36, 0}, 36).Good()) << "identity answers while busy";
    SleepMs(5000);
    ASSERT_LT(++polls, 1000);
  }
  EXPECT_GT(last, 30000);
  // Full blank of 359,849 sectors at 32x CD-RW (5,645 kB/s): about 130 s.
  EXPECT_NEAR(static_cast<double>(TickCount() - start), 359849.0 * 2048 / 5645, 5000);
  EXPECT_EQ(drive.DiscInformation().data[2] & 3, 0);
  // Without the immediate bit the command itself takes the time; a time-out shorter
  // than that fails the call.
  const uint64_t before = TickCount();
  EXPECT_TRUE(drive.None({0xA1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 4800).Good());
  EXPECT_EQ(TickCount() - before, 20000u);
  EXPECT_FALSE(drive.None({0xA1, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 10).answered);
}

TEST_F(RecorderTiming, ImmediateFormatReportsFormatInProgress) {
  Drive drive(folder.File("disc"), MediaProfile::DvdPlusRw, Simulated());
  ASSERT_TRUE(drive.Out({0x04, 0x11, 0, 0, 0, 0}, {0, 0x82, 0, 8, 0, 0x23, 0x05, 0x40, 0x98, 0, 0, 0}).Good());
  const Answer busy = drive.DiscInformation();
  EXPECT_TRUE(busy.Sense(0x02, 0x04, 0x04));
  EXPECT_EQ(busy.sense[15], 0x80);
  EXPECT_TRUE(drive.Write(0, 32).Sense(0x02, 0x04, 0x04)) << "the writer waits on ASC 04h";
  SleepMs(2000);
  EXPECT_TRUE(drive.DiscInformation().Good());
  EXPECT_TRUE(drive.Write(0, 32).Good());
}

TEST_F(RecorderTiming, BufferFillsWithWritesAndDrainsAtTheRecordingSpeed) {
  Drive drive(folder.File("disc"), MediaProfile::CdR, Simulated());
  auto freeBytes = [&] { return Be32(drive.In({0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12).data, 8); };
  EXPECT_EQ(freeBytes(), 2u << 20);
  uint32_t lba = 0;
  for (int i = 0; i < 10; ++i, lba += 27) ASSERT_TRUE(drive.Write(lba, 27).Good());
  const double afterTen = freeBytes();
  EXPECT_NEAR(afterTen, (2u << 20) - 10u * 27 * 2048, 1024);
  // Writing far more than the buffer holds: the writes wait, the buffer stays full.
  const uint64_t start = TickCount();
  for (int i = 0; i < 200; ++i, lba += 27) ASSERT_TRUE(drive.Write(lba, 27).Good());
  EXPECT_LT(freeBytes(), 27u * 2048);
  const double expectedMs = (210.0 * 27 * 2048 - (2u << 20)) / 7620;
  EXPECT_NEAR(static_cast<double>(TickCount() - start), expectedMs, 300);
  SleepMs(100);
  EXPECT_GT(freeBytes(), 700000u) << "it drains at 7,620 kB/s";
  // SYNCHRONIZE CACHE waits for the rest.
  ASSERT_TRUE(drive.None({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
  EXPECT_EQ(freeBytes(), 2u << 20);
}

TEST_F(RecorderTiming, ImmediateCloseKeepsTheDriveBusyWithALongWrite) {
  Drive drive(folder.File("disc"), MediaProfile::CdR, Simulated());
  ASSERT_TRUE(drive.SetWriteParameters(0x01, 0xC4).Good());
  ASSERT_TRUE(drive.Write(0, 27).Good());
  ASSERT_TRUE(drive.None({0x5B, 0x01, 2, 0, 0, 0, 0, 0, 0, 0}).Good());
  EXPECT_TRUE(drive.DiscInformation().Sense(0x02, 0x04, 0x08));
  SleepMs(10000);
  EXPECT_TRUE(drive.DiscInformation().Good());
}

TEST_F(RecorderPersistence, AReadOnlyDiscCanStillBeInspected) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not hold for root";
  const std::string folderPath = folder.File("ro");
  ::mkdir(folderPath.c_str(), 0755);
  const std::string path = folderPath + "/disc.iso";
  {
    Drive first(path, MediaProfile::CdR);
    ASSERT_TRUE(first.ok()) << first.error();
    ASSERT_TRUE(first.SetWriteParameters(0x01, 0xC4).Good());
    RecordSession(first, 0, 100, 0x11);
  }
  ::chmod(path.c_str(), 0444);
  ::chmod(folderPath.c_str(), 0555);
  {
    Drive drive(path, std::nullopt);
    ASSERT_TRUE(drive.ok()) << drive.error();
    EXPECT_EQ(drive.DiscInformation().data[2] & 3, 1);
    EXPECT_EQ(drive.Read(0, 1).data[0], 0x11);
    EXPECT_FALSE(drive.Write(11500, 1).Good());
  }
  ::chmod(folderPath.c_str(), 0755);
}

}  // namespace
}  // namespace brennix::testing
