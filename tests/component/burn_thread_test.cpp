// Whole recordings on the virtual recorder: every disc type, further sessions, the options
// that change the end of a recording, and every way a recording can fail. Each reads the
// disc back with an independent reader and compares the files with their sources.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "burn_harness.h"
#include "device/disc_types.h"
#include "platform/clock.h"
#include "platform/main_thread.h"
#include "recording/cache_thread.h"
#include "recording/write_preparation.h"
#include "recording/writer_thread.h"

namespace brennix {
namespace {

using burntest::BurnOutcome;
using burntest::CompareSession;
using burntest::LoggedCommand;
using burntest::Rig;
using burntest::TempDir;
using burntest::WriteFile;

constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kSynchronizeCache = 0x35;
constexpr uint8_t kCloseTrackSession = 0x5B;
constexpr uint8_t kStartStopUnit = 0x1B;
constexpr uint8_t kFormatUnit = 0x04;

class BurnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!burntest::HaveXorriso()) GTEST_SKIP() << "xorriso is not installed";
  }

  // A small tree: its files land in the root of the disc.
  std::map<std::string, std::string> MakeTree(const std::string& name, uint32_t seed) {
    const std::string root = dir_ / name;
    std::map<std::string, std::string> files = {
        {"one byte.txt", root + "/one byte.txt"},
        {"data.bin", root + "/data.bin"},
        {"sub/exact.bin", root + "/sub/exact.bin"},
        {"sub/deeper/Mixed Case Name.dat", root + "/sub/deeper/Mixed Case Name.dat"},
    };
    WriteFile(files["one byte.txt"], 1, seed);
    WriteFile(files["data.bin"], 70001, seed + 1);
    WriteFile(files["sub/exact.bin"], 2048, seed + 2);
    WriteFile(files["sub/deeper/Mixed Case Name.dat"], 2049, seed + 3);
    return files;
  }

  static std::vector<LoggedCommand> After(const std::vector<LoggedCommand>& log, size_t from) {
    return std::vector<LoggedCommand>(log.begin() + static_cast<std::ptrdiff_t>(from), log.end());
  }
  static size_t LastWrite(const std::vector<LoggedCommand>& log) {
    size_t last = 0;
    for (size_t i = 0; i < log.size(); ++i)
      if (log[i].opcode == kWrite10) last = i;
    return last;
  }
  static int Count(const std::vector<LoggedCommand>& log, uint8_t opcode) {
    return static_cast<int>(std::count_if(log.begin(), log.end(),
                                          [&](const LoggedCommand& c) { return c.opcode == opcode; }));
  }

  ScopedTestClock clock_;  // before the rig: no thread may run while clocks change
  TempDir dir_;
};

// A test name from the profile's name ("DVD+R" -> "DVDPR").
std::string ProfileTestName(MediaProfile profile) {
  std::string name(ProfileName(profile));
  std::replace(name.begin(), name.end(), '-', '_');
  std::replace(name.begin(), name.end(), '+', 'P');
  return name;
}

struct ProfileCase {
  MediaProfile profile;
  int16_t discType;  // after the recording: the quick format leaves a DVD-RW in restricted overwrite
  bool overwritable;
};

class FirstSession : public BurnTest, public ::testing::WithParamInterface<ProfileCase> {};

TEST_P(FirstSession, IsReadBackWhole) {
  const ProfileCase p = GetParam();
  const auto files = MakeTree("src", 7);
  Rig rig(dir_ / "disc.img", p.profile);
  ASSERT_TRUE(rig.ok()) << rig.error();
  rig.burner().Verify = true;
  ASSERT_TRUE(rig.Queue({dir_ / "src"}));
  const int64_t sectors = rig.burner().SectorsToWrite();
  const BurnOutcome out = rig.Burn();
  EXPECT_TRUE(out.started);
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.doneCalls, 1);
  EXPECT_TRUE(out.finalizingRaised);
  EXPECT_EQ(out.bytesWritten, sectors * 2048);
  EXPECT_EQ(DiscType.load(), p.discType);
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, files), "");

  const auto log = rig.drive().Log();
  const auto first = std::find_if(log.begin(), log.end(),
                                  [](const LoggedCommand& c) { return c.opcode == kWrite10; });
  ASSERT_NE(first, log.end());
  // Overwritable discs get the new volume's head at sector 0 first.
  EXPECT_EQ(first->lba == 0 && p.overwritable, p.overwritable);
  EXPECT_EQ(Count(log, kCloseTrackSession) > 0, p.profile != MediaProfile::DvdRam);
  // The drive is given back loaded and unlocked.
  EXPECT_GT(Count(After(log, LastWrite(log)), kStartStopUnit), 0);
  // Then the whole session is read back, 32 sectors at a time.
  EXPECT_GE(Count(After(log, LastWrite(log)), 0x28), (sectors + 31) / 32);
  EXPECT_EQ(rig.burner().VerifyProgress(), 100);
}

TEST_F(BurnTest, VerifyCatchesASectorTheDriveStoredWrong) {
  const auto files = MakeTree("src", 191);
  for (const MediaProfile profile : {MediaProfile::CdR, MediaProfile::DvdPlusRw}) {
    RecorderOptions options;
    options.badSectors = {150};
    Rig rig(dir_ / (std::string(ProfileName(profile)) + ".img"), profile, options);
    ASSERT_TRUE(rig.ok()) << rig.error();
    rig.burner().Verify = true;
    ASSERT_TRUE(rig.Queue({dir_ / "src"}));
    EXPECT_EQ(rig.Burn().error, "VERIFY FAILED AT SECTOR 150") << ProfileName(profile);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryDiscType, FirstSession,
    ::testing::Values(ProfileCase{MediaProfile::CdR, kDiscCdR, false},
                      ProfileCase{MediaProfile::DvdR, kDiscDvdR, false},
                      ProfileCase{MediaProfile::DvdPlusR, kDiscDvdPlusR, false},
                      ProfileCase{MediaProfile::DvdPlusRDl, kDiscDvdPlusRDl, false},
                      ProfileCase{MediaProfile::DvdRwSequential, kDiscDvdRwRestricted, true},
                      ProfileCase{MediaProfile::DvdRwRestricted, kDiscDvdRwRestricted, true},
                      ProfileCase{MediaProfile::DvdPlusRw, kDiscDvdPlusRw, true},
                      ProfileCase{MediaProfile::DvdRam, kDiscDvdRam, true}),
    [](const auto& param) { return ProfileTestName(param.param.profile); });

TEST_F(BurnTest, AFreshDVDPlusRWIsFormattedOnTheWay) {
  const auto files = MakeTree("src", 11);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusRw);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  EXPECT_EQ(rig.Burn().error, "");
  EXPECT_EQ(Count(rig.drive().Log(), kFormatUnit), 1);
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, files), "");
}

TEST_F(BurnTest, ADVDPlusRWHoldingAVolumeGetsTheNewOneAfterIt) {
  const auto first = MakeTree("first", 21);
  const auto second = MakeTree("second", 31);
  int64_t firstVolume = 0;
  {
    Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusRw);
    ASSERT_TRUE(rig.Ready({dir_ / "first"})) << rig.error();
    ASSERT_EQ(rig.Burn().error, "");
    firstVolume = rig.burner().VolumeSectors;
  }
  Rig rig(dir_ / "disc.img", std::nullopt);
  ASSERT_TRUE(rig.ok()) << rig.error();
  // The drive is not ready when the head comes: it is tried again, never skipped.
  bool armed = false;
  rig.drive().beforeCommand = [&](const LoggedCommand& c) {
    if (c.opcode != kWrite10 || c.lba != 0 || armed) return;
    armed = true;
    rig.drive().AddFault({.kind = RecorderFault::Kind::NotReady, .opcode = kWrite10, .count = 3, .ascq = 0x08});
  };
  ASSERT_TRUE(rig.Queue({dir_ / "second"}));
  ASSERT_EQ(rig.Burn().error, "");
  EXPECT_TRUE(armed);
  EXPECT_EQ(rig.burner().StartSector, firstVolume);
  // The start of the disc was rewritten, after the data: a reader that starts at sector 0
  // finds the new tree.
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, second), "");
  const auto log = rig.drive().Log();
  EXPECT_EQ(log[LastWrite(log)].lba, 0u);
}


class SecondSession : public BurnTest, public ::testing::WithParamInterface<MediaProfile> {};

TEST_P(SecondSession, FollowsAnOpenFirstSession) {
  const auto first = MakeTree("first", 41);
  const auto second = MakeTree("second", 51);
  {
    Rig rig(dir_ / "disc.img", GetParam());
    ASSERT_TRUE(rig.Ready({dir_ / "first"})) << rig.error();
    ASSERT_EQ(rig.Burn().error, "");
    EXPECT_EQ(rig.burner().StartSector, 0);
  }
  Rig rig(dir_ / "disc.img", std::nullopt);
  ASSERT_TRUE(rig.Ready({dir_ / "second"})) << rig.error();
  const BurnOutcome out = rig.Burn();
  ASSERT_EQ(out.error, "");
  EXPECT_GT(rig.burner().StartSector, 0);
  const auto log = rig.drive().Log();
  const auto firstWrite = std::find_if(log.begin(), log.end(),
                                       [](const LoggedCommand& c) { return c.opcode == kWrite10; });
  ASSERT_NE(firstWrite, log.end());
  EXPECT_EQ(firstWrite->lba, static_cast<uint32_t>(rig.burner().StartSector));
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, second), "");
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 1, first), "");
}

INSTANTIATE_TEST_SUITE_P(CDAndDVD, SecondSession,
                         ::testing::Values(MediaProfile::CdR, MediaProfile::DvdPlusR),
                         [](const ::testing::TestParamInfo<MediaProfile>& param) {
                           return param.param == MediaProfile::CdR ? "CDR" : "DVDPlusR";
                         });

class CloseDisc : public BurnTest, public ::testing::WithParamInterface<MediaProfile> {};

TEST_P(CloseDisc, LeavesTheDiscCompleteAndRefusesTheNextBurn) {
  const auto files = MakeTree("src", 61);
  {
    Rig rig(dir_ / "disc.img", GetParam());
    ASSERT_TRUE(rig.ok()) << rig.error();
    rig.burner().FinalizeDisc = true;
    ASSERT_TRUE(rig.Queue({dir_ / "src"}));
    ASSERT_EQ(rig.Burn().error, "");
    EXPECT_EQ(rig.burner().DiscStatus(), 2);  // complete: no further session
    EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, files), "");
  }
  // A later process finds the same closed disc, and the drive itself refuses to write.
  Rig rig(dir_ / "disc.img", std::nullopt);
  ASSERT_TRUE(rig.ok()) << rig.error();
  EXPECT_EQ(rig.burner().DiscStatus(), 2);
  ASSERT_TRUE(rig.Queue({dir_ / "src"}));
  EXPECT_EQ(rig.Burn().error, kDiscClosedText);
  std::vector<uint8_t> sector(2048, 0);
  EXPECT_FALSE(rig.burner().WriteSectors(static_cast<uint32_t>(rig.burner().UsedSectors()) + 1000,
                                         1, 2048, sector.data()));
}

INSTANTIATE_TEST_SUITE_P(WriteOnce, CloseDisc,
                         ::testing::Values(MediaProfile::CdR, MediaProfile::DvdR,
                                           MediaProfile::DvdPlusR, MediaProfile::DvdPlusRDl),
                         [](const auto& param) { return ProfileTestName(param.param); });

TEST_F(BurnTest, AnOpenSessionLeavesTheDiscAppendable) {
  MakeTree("src", 62);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  ASSERT_EQ(rig.Burn().error, "");
  EXPECT_EQ(rig.burner().DiscStatus(), 1);
}

class TestWrite : public BurnTest, public ::testing::WithParamInterface<MediaProfile> {};

TEST_P(TestWrite, SendsNoCloseAndLeavesTheDiscAsItWas) {
  MakeTree("src", 71);
  const auto files = MakeTree("real", 72);
  Rig rig(dir_ / "disc.img", GetParam());
  ASSERT_TRUE(rig.ok()) << rig.error();
  rig.burner().TestWrite = true;
  ASSERT_TRUE(rig.Queue({dir_ / "src"}));
  const BurnOutcome out = rig.Burn();
  EXPECT_EQ(out.error, "");
  const auto log = rig.drive().Log();
  EXPECT_GT(Count(log, kWrite10), 0);
  EXPECT_GT(Count(After(log, LastWrite(log)), kSynchronizeCache), 0);
  EXPECT_EQ(Count(log, kCloseTrackSession), 0);
  EXPECT_EQ(rig.burner().DiscStatus(), 0);  // still blank, no reserved track either
  // The real recording that follows starts where the simulated one did.
  rig.burner().TestWrite = false;
  ASSERT_TRUE(rig.Queue({dir_ / "real"}));
  EXPECT_EQ(rig.Burn().error, "");
  EXPECT_EQ(rig.burner().StartSector, 0);
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, files), "");
}

INSTANTIATE_TEST_SUITE_P(Simulating, TestWrite,
                         ::testing::Values(MediaProfile::CdR, MediaProfile::DvdR));

TEST_F(BurnTest, FinalizeTrackOffSendsNoClose) {
  MakeTree("src", 81);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.ok()) << rig.error();
  rig.burner().FinalizeTrack = false;
  ASSERT_TRUE(rig.Queue({dir_ / "src"}));
  EXPECT_EQ(rig.Burn().error, "");
  const auto log = rig.drive().Log();
  EXPECT_EQ(Count(log, kCloseTrackSession), 0);
  EXPECT_GT(Count(After(log, LastWrite(log)), kStartStopUnit), 0);  // the restore still runs
}

struct EndedCase {
  MediaProfile profile;
  bool abort;  // else the drive refuses a WRITE for good
};

class EndedEarly : public BurnTest, public ::testing::WithParamInterface<EndedCase> {};

// A write-once disc is sealed and takes the next burn; an overwritable one keeps its old
// volume whole and visible.
TEST_P(EndedEarly, LeavesTheDiscUsable) {
  const EndedCase c = GetParam();
  const bool overwritable = IsOverwritableMedia(c.profile);
  WriteFile(dir_ / "big/big.bin", 3 << 20, 3);
  const auto first = MakeTree("first", 171);
  const auto files = MakeTree("src", 161);
  Rig rig(dir_ / "disc.img", c.profile);
  ASSERT_TRUE(rig.ok()) << rig.error();
  if (overwritable) {
    ASSERT_TRUE(rig.Queue({dir_ / "first"}));
    ASSERT_EQ(rig.Burn().error, "");
  }
  const int writesBefore = rig.drive().Writes();
  bool lockedWhileWriting = false;
  rig.drive().beforeCommand = [&](const LoggedCommand& command) {
    if (command.opcode != kWrite10 || rig.drive().Writes() != writesBefore + 10) return;
    lockedWhileWriting = rig.drive().TrayLocked();
    if (c.abort) {
      rig.burner().Abort();
      return;
    }
    // The writer stops at the first refusal.
    rig.drive().AddFault({.opcode = kWrite10, .key = 0x03, .asc = 0x0C});
  };
  ASSERT_TRUE(rig.Queue({dir_ / "big"}));
  const BurnOutcome out = rig.Burn();
  rig.drive().beforeCommand = nullptr;
  EXPECT_TRUE(out.started);
  EXPECT_EQ(out.doneCalls, 1);
  EXPECT_EQ(out.error.rfind(c.abort ? "OPERATION ABORTED BY USER" : "WRITER ERROR [", 0), 0u)
      << out.error;
  EXPECT_LT(out.bytesWritten, rig.burner().SectorsToWrite() * 2048);
  // The tray is locked while the data flows, and unlocked however the recording ended.
  EXPECT_TRUE(lockedWhileWriting);
  EXPECT_FALSE(rig.drive().TrayLocked());
  if (overwritable) {
    EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, first), "");
    return;
  }
  // The track and session were sealed; the disc stays open.
  const auto log = rig.drive().Log();
  EXPECT_GT(Count(After(log, LastWrite(log)), kCloseTrackSession), 0);
  EXPECT_EQ(rig.burner().DiscStatus(), 1);
  ASSERT_TRUE(rig.Queue({dir_ / "src"}));
  EXPECT_EQ(rig.Burn().error, "");
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, files), "");
}

// Aborts on five kinds of disc, refusals on three.
std::vector<EndedCase> EveryEnd() {
  std::vector<EndedCase> cases;
  for (const MediaProfile profile : {MediaProfile::CdR, MediaProfile::DvdR, MediaProfile::DvdPlusR,
                                     MediaProfile::DvdPlusRw, MediaProfile::DvdRam})
    cases.push_back({profile, true});
  for (const MediaProfile profile : {MediaProfile::CdRw, MediaProfile::DvdR, MediaProfile::DvdRwRestricted})
    cases.push_back({profile, false});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryKind, EndedEarly, ::testing::ValuesIn(EveryEnd()));

TEST_F(BurnTest, AbortAfterTheLastBlockStillSucceeds) {
  const auto files = MakeTree("src", 91);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  const BurnOutcome out = rig.Burn([&rig] { rig.burner().Abort(); });
  EXPECT_EQ(out.error, "");
  EXPECT_GT(Count(rig.drive().Log(), kCloseTrackSession), 0);
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, files), "");
}

TEST_F(BurnTest, ADriveNotReadyForAFewSecondsIsWaitedOut) {
  const auto files = MakeTree("src", 101);
  WriteFile(dir_ / "src/big.bin", 1 << 20, 5);
  auto withBig = files;
  withBig["big.bin"] = dir_ / "src/big.bin";
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.ok()) << rig.error();
  bool armed = false;
  rig.drive().beforeCommand = [&](const LoggedCommand& c) {
    if (c.opcode == kWrite10 && rig.drive().Writes() == 5 && !armed) {
      armed = true;
      rig.drive().AddFault({.kind = RecorderFault::Kind::NotReady, .opcode = kWrite10, .count = 0,
                            .durationMs = 4000, .asc = 0x04, .ascq = 0x08});
    }
  };
  ASSERT_TRUE(rig.Queue({dir_ / "src"}));
  const uint64_t before = TickCount();
  const BurnOutcome out = rig.Burn();
  EXPECT_EQ(out.error, "");
  EXPECT_GE(TickCount() - before, 4000u);
  // The refused attempts came 600 ms apart: about 4000 / 600 of them.
  const int blocks = static_cast<int>((rig.burner().SectorsToWrite() + 31) / 32);
  EXPECT_GE(Count(rig.drive().Log(), kWrite10), blocks + 6);
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, withBig), "");
}

// A WRITE the drive refuses for good, never answers, or is busy for ever: the recording ends
// at the first refusal, at once, or after 10000 tries, and says what happened.
struct WriteTroubleCase {
  const char* name;
  RecorderFault fault;  // on every WRITE(10)
  const char* error;
  int writes;  // WRITE(10)s sent
};

class WriteTrouble : public BurnTest, public ::testing::WithParamInterface<WriteTroubleCase> {};

TEST_P(WriteTrouble, EndsTheRecordingAndSaysWhy) {
  const WriteTroubleCase& c = GetParam();
  MakeTree("src", 111);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.ok()) << rig.error();
  rig.drive().AddFault(c.fault);
  ASSERT_TRUE(rig.Queue({dir_ / "src"}));
  const BurnOutcome out = rig.Burn();
  EXPECT_TRUE(out.started);
  EXPECT_EQ(out.doneCalls, 1);
  EXPECT_EQ(out.error, c.error);
  EXPECT_FALSE(rig.drive().TrayLocked());
  EXPECT_EQ(Count(rig.drive().Log(), kWrite10), c.writes);
  EXPECT_EQ(Count(rig.drive().Log(), kCloseTrackSession), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, WriteTrouble,
    ::testing::Values(
        WriteTroubleCase{"RefusedForGood",
                         {.kind = RecorderFault::Kind::Sense, .opcode = kWrite10, .count = 1000,
                          .key = 0x03, .asc = 0x0C, .ascq = 0x00},
                         "WRITER ERROR [MEDIUM ERROR (WRITE ERROR)]", 1},
        WriteTroubleCase{"NeverAnswering",
                         {.kind = RecorderFault::Kind::NoAnswer, .opcode = kWrite10, .count = 100000},
                         "WRITER ERROR [COMMAND TIMEOUT]", 1},
        WriteTroubleCase{"BusyForTenThousandTries",
                         {.kind = RecorderFault::Kind::Busy, .opcode = kWrite10, .count = 20000},
                         "WRITER BUSY/BUFFER FULL", 10000}),
    [](const auto& row) { return std::string(row.param.name); });

// A drive still at work when the burn starts (busy, or becoming ready) is given the time it
// needs rather than called unable to write.
TEST_F(BurnTest, ADriveStillAtWorkWhenTheBurnStartsIsWaitedFor) {
  MakeTree("src", 141);
  for (const RecorderFault::Kind kind : {RecorderFault::Kind::Busy, RecorderFault::Kind::NotReady}) {
    Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
    ASSERT_TRUE(rig.ok()) << rig.error();
    rig.drive().AddFault({.kind = kind, .count = 6, .ascq = 0x01});
    ASSERT_TRUE(rig.Queue({dir_ / "src"}));
    const BurnOutcome out = rig.Burn();
    EXPECT_EQ(out.error, "") << static_cast<int>(kind);
    EXPECT_GT(Count(rig.drive().Log(), kWrite10), 0);
    std::filesystem::remove(dir_ / "disc.img");
  }
}

TEST_F(BurnTest, ASourceThatVanishedEndsBeforeTheWriterStarts) {
  MakeTree("src", 131);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  std::filesystem::remove(dir_ / "src/data.bin");
  const BurnOutcome out = rig.Burn();
  EXPECT_FALSE(out.started);
  EXPECT_EQ(out.doneCalls, 1);
  EXPECT_EQ(out.error, "CAN'T OPEN FILE \"" + (dir_ / "src/data.bin") +
                           "\" OR FILE IS IN USES BY OTHER SOFTWARE");
  EXPECT_EQ(Count(rig.drive().Log(), kWrite10), 0);
  EXPECT_FALSE(rig.burner().Recording());
}

TEST_F(BurnTest, AFileThatShrankIsNeverASuccess) {
  const auto files = MakeTree("src", 141);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  std::filesystem::resize_file(dir_ / "src/data.bin", 100);
  const BurnOutcome out = rig.Burn();
  EXPECT_EQ(out.doneCalls, 1);
  EXPECT_NE(out.error, "");
  EXPECT_NE(out.error.find(dir_ / "src/data.bin"), std::string::npos) << out.error;
}

TEST_F(BurnTest, ALastBlockOfFiveSectorsGoesAsAWholeWrite) {
  // A root-only head (with Joliet) ends before sector 150: 150 + 175 = 325 = 10 x 32 + 5.
  WriteFile(dir_ / "src/file.bin", 175 * 2048, 9);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  ASSERT_EQ(rig.burner().SectorsToWrite(), 325);
  const BurnOutcome out = rig.Burn();
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.bytesWritten, 325 * 2048);
  const auto log = rig.drive().Log();
  const LoggedCommand& last = log[LastWrite(log)];
  EXPECT_EQ(last.lba, 320u);
  EXPECT_EQ(last.sectors, 32);
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, {{"file.bin", dir_ / "src/file.bin"}}), "");
}

TEST_F(BurnTest, AComponentDestroyedMidRecordingStopsItsThreadsFirst) {
  WriteFile(dir_ / "src/big.bin", 3 << 20, 4);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  std::atomic<int> reports{0};
  rig.burner().OnWriteDone = [&](TKorbBurner*, const std::string&) { reports.fetch_add(1); };
  std::atomic<bool> writing{false};
  rig.drive().beforeCommand = [&](const LoggedCommand& c) {
    if (c.opcode != kWrite10 || rig.drive().Writes() != 3) return;
    writing.store(true);
    // Hold the writer in the middle of the data until the destructor has asked it to stop.
    for (int i = 0; i < 10000 && !AbortFlag.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  ASSERT_TRUE(rig.burner().Burn());
  while (!writing.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  rig.DestroyBurner();  // aborts and joins: the writer never touches the freed component
  PumpMainThread();
  EXPECT_EQ(reports.load(), 0);  // a component that is gone gets no event
  // The DVD+R's open track was still sealed before the writer ended.
  EXPECT_GT(Count(rig.drive().Log(), kCloseTrackSession), 0);
  EXPECT_EQ(ActiveBurner.load(), nullptr);
}

TEST_F(BurnTest, ARecorderHeldElsewhereIsNamedBeforeAnythingIsWritten) {
  MakeTree("src", 131);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdRwSequential);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  ASSERT_TRUE(rig.drive().Hold().Free());  // another user of the drive, an erase say
  const BurnOutcome out = rig.Burn();
  EXPECT_FALSE(out.started);
  EXPECT_EQ(out.error.rfind("THE RECORDER IS IN USE BY ", 0), 0u) << out.error;
  EXPECT_NE(out.error.find("(PID " + std::to_string(::getpid()) + ")"), std::string::npos);
  // Not even the DVD-RW's format.
  EXPECT_EQ(Count(rig.drive().Log(), kWrite10) + Count(rig.drive().Log(), kFormatUnit), 0);
  EXPECT_FALSE(rig.drive().TrayLocked());
  rig.drive().Release();
  EXPECT_EQ(rig.Burn().error, "");
  // The recording let go of the drive: it can be held again.
  EXPECT_TRUE(rig.drive().Hold().Free());
  rig.drive().Release();
}

// Burn on a worker, as the burn job runs it: a cancel while the read-ahead cache cannot fill
// ends the wait before anything is written, and that early end reaches the main thread.
TEST_F(BurnTest, OnAWorkerACancelEndsTheWaitForTheCache) {
  MakeTree("src", 141);
  Rig rig(dir_ / "disc.img", MediaProfile::CdR);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  std::atomic<bool> cancel{false};
  std::string error;
  std::thread::id reportedOn;
  rig.burner().OnWriteDone = [&](TKorbBurner*, const std::string& text) {
    error = text;
    reportedOn = std::this_thread::get_id();
  };
  std::unique_lock reader(rig.burner().Lock);  // no block reaches the cache
  bool started = true;
  std::thread worker([&] { started = rig.burner().Burn(&cancel); });
  while (!rig.burner().Recording()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  cancel.store(true);
  reader.unlock();
  worker.join();
  EXPECT_EQ(error, "");  // not on the worker
  PumpMainThread();
  rig.burner().OnWriteDone = nullptr;
  EXPECT_FALSE(started);
  EXPECT_EQ(error, kAbortedByUser);
  EXPECT_EQ(reportedOn, std::this_thread::get_id());
  EXPECT_EQ(Count(rig.drive().Log(), kWrite10), 0);
  EXPECT_EQ(rig.burner().DiscStatus(), 0);
  EXPECT_EQ(ActiveBurner.load(), nullptr);
}

// A reader held inside a source's open (a network mount that hangs) while the writer fails:
// the end is reported only once the reader has let go, and until then the tree cannot be
// freed under it (AddressSanitizer would see the reader touch a freed entry).
std::atomic<bool> g_holdOpen{false};
std::atomic<bool> g_inOpen{false};

void HoldSecondSource(const std::string& path) {
  if (path.find("late.bin") == std::string::npos) return;
  g_inOpen.store(true);
  for (int i = 0; i < 30000 && g_holdOpen.load(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST_F(BurnTest, TheEndWaitsForAReaderStillOpeningASource) {
  WriteFile(dir_ / "src/first.bin", 3 << 20, 9);
  WriteFile(dir_ / "src/late.bin", 5000, 10);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.ok()) << rig.error();
  rig.burner().SetCacheSize(2097152);  // filled by the first file alone
  ASSERT_TRUE(rig.Queue({dir_ / "src/first.bin", dir_ / "src/late.bin"}));
  g_holdOpen.store(true);
  g_inOpen.store(false);
  SetSourceOpenHook(HoldSecondSource);
  // The writer goes slowly until the reader is held; then a WRITE fails for good.
  std::atomic<bool> faulted{false};
  rig.drive().beforeCommand = [&](const LoggedCommand& c) {
    if (c.opcode != kWrite10) return;
    if (!g_inOpen.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } else if (!faulted.exchange(true)) {
      rig.drive().AddFault({RecorderFault::Kind::Sense, kWrite10, 1, 0, 0x03, 0x0C, 0x00});
    }
  };
  std::string error;
  int reports = 0;
  rig.burner().OnWriteDone = [&](TKorbBurner*, const std::string& text) {
    error = text;
    ++reports;
  };
  ASSERT_TRUE(rig.burner().Burn());
  for (int i = 0; i < 20000 && !faulted.load(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(faulted.load());
  for (int i = 0; i < 300; ++i) {
    PumpMainThread();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(reports, 0);
  EXPECT_FALSE(rig.burner().ClearAll(600000, 20000));
  g_holdOpen.store(false);
  for (int i = 0; i < 20000 && reports == 0; ++i) {
    PumpMainThread();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  SetSourceOpenHook(nullptr);
  EXPECT_EQ(reports, 1);
  EXPECT_NE(error, "");
  EXPECT_TRUE(rig.burner().ClearAll(600000, 20000));
  rig.burner().OnWriteDone = nullptr;
}

TEST_F(BurnTest, OneRecordingAtATime) {
  WriteFile(dir_ / "src/big.bin", 2 << 20, 6);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  TKorbBurner other;
  std::string refused;
  other.OnWriteDone = [&](TKorbBurner*, const std::string& error) { refused = error; };
  const BurnOutcome out = rig.Burn([&] {
    // Still recording: the other component may not start one.
    EXPECT_FALSE(other.Burn());
  });
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(refused, kRecordingRunningText);
  EXPECT_EQ(ActiveBurner.load(), nullptr);
}


// ---- The check before the first command that changes the disc

constexpr uint8_t kFirstDiscChangingOpcodes[] = {kWrite10, kFormatUnit, 0x54 /* OPC */,
                                                 0x55 /* MODE SELECT */, 0x53 /* RESERVE */,
                                                 kCloseTrackSession, 0xA1 /* BLANK */};

struct RefusalCase {
  const char* name;
  MediaProfile profile;
  uint64_t sourceBytes;      // one sparse file
  bool testWrite;
  uint32_t sectorsOnDisc;    // an image already in the disc file
  const char* error;         // the refusal, or its beginning
};

class Refused : public BurnTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refused, BeforeAnythingChangesTheDisc) {
  const RefusalCase c = GetParam();
  // Sparse files of at most 2 GiB each: the size is all the check looks at.
  std::filesystem::create_directories(dir_ / "src");
  for (uint64_t left = c.sourceBytes, n = 0; left != 0; ++n) {
    const std::string name = dir_ / ("src/file" + std::to_string(n) + ".bin");
    { std::ofstream(name).put('x'); }
    std::filesystem::resize_file(name, std::min<uint64_t>(left, 2ull << 30));
    left -= std::min<uint64_t>(left, 2ull << 30);
  }
  if (c.sectorsOnDisc != 0) WriteFile(dir_ / "disc.img", c.sectorsOnDisc * 2048u, 3);
  Rig rig(dir_ / "disc.img", c.profile);
  ASSERT_TRUE(rig.ok()) << rig.error();
  rig.burner().TestWrite = c.testWrite;
  ASSERT_TRUE(rig.Queue({dir_ / "src"}));
  const std::string checked = rig.burner().CheckDiscForImage();
  EXPECT_EQ(checked.rfind(c.error, 0), 0u) << checked;
  const size_t before = rig.drive().Log().size();
  const BurnOutcome out = rig.Burn();
  EXPECT_FALSE(out.started);
  EXPECT_EQ(out.doneCalls, 1);
  EXPECT_EQ(out.error.rfind(c.error, 0), 0u) << out.error;
  for (const LoggedCommand& command : After(rig.drive().Log(), before)) {
    for (uint8_t opcode : kFirstDiscChangingOpcodes) EXPECT_NE(command.opcode, opcode);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Discs, Refused,
    ::testing::Values(
        RefusalCase{"EmptyTray", MediaProfile::None, 1000, false, 0, "NO DISC IN THE RECORDER"},
        RefusalCase{"Pressed", MediaProfile::CdRom, 1000, false, 300, "THE DISC CANNOT BE WRITTEN"},
        RefusalCase{"CDRTooSmall", MediaProfile::CdR, 800ull << 20, false, 0,
                    "NOT ENOUGH SPACE ON THE DISC: 800.2"},
        RefusalCase{"DVDRTooSmall", MediaProfile::DvdR, 5ull << 30, false, 0,
                    "NOT ENOUGH SPACE ON THE DISC: 5120.3"},
        RefusalCase{"DVDPlusRWTooSmall", MediaProfile::DvdPlusRw, 5ull << 30, false, 0,
                    "NOT ENOUGH SPACE ON THE DISC: 5120.3"},
        RefusalCase{"TestWriteOnDVDPlusR", MediaProfile::DvdPlusR, 1000, true, 0,
                    "THIS DISC OR RECORDER CANNOT SIMULATE A RECORDING"},
        RefusalCase{"TestWriteOnDVDRAM", MediaProfile::DvdRam, 1000, true, 0,
                    "THIS DISC OR RECORDER CANNOT SIMULATE A RECORDING"},
        RefusalCase{"SequentialDVDRWWithData", MediaProfile::DvdRwSequential, 1000, false, 400,
                    "THE DVD-RW HOLDS DATA IN SEQUENTIAL MODE: ERASE IT FIRST"}),
    [](const ::testing::TestParamInfo<RefusalCase>& param) { return param.param.name; });

TEST(NotEnoughSpace, TellsBothSizesInMegabytes) {
  EXPECT_EQ(NotEnoughSpaceText(415949, 359987),
            "NOT ENOUGH SPACE ON THE DISC: 812.40 MB NEEDED, 703.10 MB FREE");
}

TEST_F(BurnTest, ADriveThatGivesNoFreeBlockCountDoesNotBlockTheBurn) {
  const auto files = MakeTree("src", 151);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  rig.drive().AddFault({.opcode = 0x52 /* READ TRACK INFORMATION */, .count = 1000});
  EXPECT_EQ(rig.Burn().error, "");
  EXPECT_EQ(CompareSession(dir_ / "disc.img", 0, files), "");
}

TEST_F(BurnTest, AStateTheRecorderCannotSaveFailsTheRecording) {
  MakeTree("src", 181);
  Rig rig(dir_ / "disc.img", MediaProfile::DvdPlusR);
  ASSERT_TRUE(rig.Ready({dir_ / "src"})) << rig.error();
  // From now on the state file cannot be replaced, as on a full file system.
  std::filesystem::remove(dir_ / "disc.img.state");
  std::filesystem::create_directory(dir_ / "disc.img.state");
  const BurnOutcome out = rig.Burn();
  EXPECT_EQ(out.error.rfind("WRITER ERROR [", 0), 0u) << out.error;
}


}  // namespace
}  // namespace brennix
