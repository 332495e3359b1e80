// The writer against a scripted drive: what it sends, how it retries, how each way out of a
// recording ends (flush, close, restore) and what it reports.
#include "recording/writer_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image/iso_image.h"
#include "image/memory_stream.h"
#include "platform/clock.h"
#include "recording/cache_thread.h"

namespace brennix {
namespace {

// A drive that keeps the sectors it is sent and a log of every command.
class ScriptedDrive : public TRecorderDrive {
 public:
  struct Failure {
    bool busy = false;
    bool noAnswer = false;  // the drive did not answer: no sense data at all
    uint8_t asc = 0;
    std::string text = "SCRIPTED FAILURE";
  };

  explicit ScriptedDrive(int16_t type = kDiscDvdPlusR) : discType(type) {}

  int16_t discType;
  uint16_t sessions = 0;
  bool bufferWorks = true;
  uint32_t bufferSize = 2 * 1024 * 1024;
  uint32_t freeSize = 1024 * 1024;
  std::vector<uint32_t> freeSizes;  // the free size each buffer query reports, in turn
  // Decides each WRITE: nullopt-like "ok" when it returns false.
  std::function<bool(uint32_t lba, int call, Failure& failure)> failWrite;
  int closeSessionBusy = 0;        // CLOSE SESSION answers busy this many times
  int discInfoNotReady = 0;        // READ DISC INFORMATION answers 04h this many times
  std::function<void()> onWrite;   // runs on every WRITE (after it is logged)

  std::vector<std::string> log;
  std::map<uint32_t, std::vector<uint8_t>> sectors;
  std::vector<std::pair<uint32_t, uint16_t>> writes;
  std::vector<std::pair<uint32_t, uint32_t>> bufferFigures;  // set by the writer

  int16_t GetDiscType() override { return discType; }
  uint16_t SessionCount() override { return sessions; }
  bool ReadDiscInformation() override {
    log.push_back("READ DISC INFORMATION");
    if (discInfoNotReady > 0) {
      --discInfoNotReady;
      return Fail(false, 0x04);
    }
    return Ok();
  }
  bool WaitReady(uint32_t budget, uint32_t interval) override {
    log.push_back("WAIT READY " + std::to_string(budget) + " " + std::to_string(interval));
    return Ok();
  }
  bool TestUnitReady(uint32_t) override { return Log("TEST UNIT READY"); }
  bool LoadTray() override { return Log("LOAD"); }
  bool RezeroUnit() override { return Log("REZERO"); }
  bool AllowRemoval() override { return Log("ALLOW REMOVAL"); }
  bool SetCDSpeed(uint16_t r, uint16_t w) override {
    return Log("SET CD SPEED " + std::to_string(r) + " " + std::to_string(w));
  }
  uint16_t QueryCurrentWriteSpeed() override { return 5540; }
  uint16_t QueryMaxReadSpeed() override { return 8310; }
  bool SetWriteParameters(bool t, bool u, bool f, int16_t d, bool, bool) override {
    return Log("WRITE PARAMETERS " + std::to_string(t) + std::to_string(u) + std::to_string(f) +
               " " + std::to_string(d));
  }
  bool SetStreaming(uint32_t s, uint32_t e, uint32_t r, uint32_t w, uint32_t, uint32_t) override {
    return Log("STREAMING " + std::to_string(s) + " " + std::to_string(e) + " " +
               std::to_string(r) + " " + std::to_string(w));
  }
  bool SendStreamingDescriptor(const uint8_t*, uint32_t length) override {
    return Log("STREAMING DESCRIPTOR " + std::to_string(length));
  }
  bool SendTimestamp() override { return Log("TIMESTAMP"); }
  bool ReserveTrack(uint32_t n) override { return Log("RESERVE " + std::to_string(n)); }
  bool SendOPC() override { return Log("OPC"); }
  bool FormatUnit(const std::array<uint8_t, 12>& list) override {
    return Log("FORMAT " + std::to_string(list[8]));
  }
  bool ReadBufferCapacity() override {
    log.push_back("READ BUFFER CAPACITY");
    if (!bufferWorks) return Fail(false, 0x20);
    if (!freeSizes.empty()) {
      freeSize = freeSizes.front();
      freeSizes.erase(freeSizes.begin());
    }
    return Ok();
  }
  uint32_t DeviceBufferSize() override { return bufferSize; }
  uint32_t DeviceFreeBufferSize() override { return freeSize; }
  void SetDeviceBufferSizes(uint32_t size, uint32_t free) override {
    bufferFigures.emplace_back(size, free);
  }
  bool WriteSectors(uint32_t lba, uint16_t count, const uint8_t* data, uint32_t bytes) override {
    const int call = static_cast<int>(writes.size());
    writes.emplace_back(lba, count);
    if (onWrite) onWrite();
    EXPECT_EQ(bytes, count * 2048u);
    Failure failure;
    if (failWrite && failWrite(lba, call, failure)) {
      const bool failed = Fail(failure.busy, failure.asc, failure.text);
      sense_ = !failure.noAnswer && !failure.busy;
      return failed;
    }
    for (uint16_t i = 0; i < count; ++i) {
      sectors[lba + i].assign(data + i * 2048, data + (i + 1) * 2048);
    }
    return Ok();
  }
  bool ReadSectors(uint32_t lba, uint16_t count, uint8_t* data, uint32_t) override {
    log.push_back("READ " + std::to_string(lba) + " " + std::to_string(count));
    for (uint16_t i = 0; i < count; ++i) {
      const auto found = sectors.find(lba + i);
      if (found == sectors.end()) return Fail(false, 0x21);
      std::copy(found->second.begin(), found->second.end(), data + i * 2048);
    }
    return Ok();
  }
  bool SynchronizeCache(uint32_t timeout, bool immediate) override {
    return Log("SYNC " + std::to_string(timeout) + (immediate ? " IMMED" : ""));
  }
  bool CloseTrackSession(const CloseCommand& c) override {
    return Log("CLOSE " + std::to_string(c.Immediate) + " " + std::to_string(c.Function) + " " +
               std::to_string(c.Byte5));
  }
  bool CloseSession(bool, bool immediate, bool) override {
    log.push_back(std::string("CLOSE SESSION") + (immediate ? " IMMED" : ""));
    if (closeSessionBusy > 0) {
      --closeSessionBusy;
      return Fail(true, 0);
    }
    return Ok();
  }
  bool CloseImmediate() override { return false; }
  bool TargetBusy() override { return busy_; }
  bool HadSense() override { return sense_; }
  uint8_t LastAsc() override { return asc_; }
  std::string LastErrorText() override { return text_; }
  void SetErrorLogDone(bool) override {}
  void RecordingEnded() override { log.push_back("ENDED"); }
  void DebugMessage(const std::string& text, uint8_t) override { log.push_back(text); }

  int Count(const std::string& prefix) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& s) {
      return s.rfind(prefix, 0) == 0;
    }));
  }
  bool Has(const std::string& prefix) const { return Count(prefix) > 0; }
  // Index of the first log line starting with prefix at or after from; -1 when none.
  int Find(const std::string& prefix, int from = 0) const {
    for (int i = from; i < static_cast<int>(log.size()); ++i) {
      if (log[i].rfind(prefix, 0) == 0) return i;
    }
    return -1;
  }

 private:
  bool Log(const std::string& line) {
    log.push_back(line);
    return Ok();
  }
  bool Ok() {
    busy_ = false;
    sense_ = false;
    asc_ = 0;
    text_.clear();
    return true;
  }
  bool Fail(bool busy, uint8_t asc, const std::string& text = "SCRIPTED FAILURE") {
    busy_ = busy;
    sense_ = !busy;
    asc_ = asc;
    text_ = text;
    return false;
  }
  bool busy_ = false;
  bool sense_ = false;
  uint8_t asc_ = 0;
  std::string text_;
};

// Sector i of the test image starts with its number and is otherwise filled with one byte.
uint8_t FillByte(uint32_t i) { return static_cast<uint8_t>(i % 251 + 1); }

struct Outcome {
  std::string result;
  int lowestFill = -2;
  int finishedCalls = 0;
  int finalizingCalls = 0;
  int64_t bytesWritten = 0;
};

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override { image_.ClearAll(100, 100); }  // the cache walks the shared tree

  // Records an image of `imageSectors` sectors (held in the header, no files) through the
  // writer to `drive`, starting at `start`.
  Outcome Record(ScriptedDrive& drive, uint32_t imageSectors, TWriteSettings settings = {},
             uint32_t start = 0, std::function<void(std::atomic<bool>&)> onFinalizing = {}) {
    TMemoryStream header;
    std::vector<uint8_t> sector(2048);
    for (uint32_t i = 0; i < imageSectors; ++i) {
      std::fill(sector.begin(), sector.end(), FillByte(i));
      sector[0] = static_cast<uint8_t>(i);
      sector[1] = static_cast<uint8_t>(i >> 8);
      header.Write(sector.data(), sector.size());
    }
    header.Seek(0);
    std::recursive_mutex lock;
    const int64_t sectorsToWrite = imageSectors;
    TCacheThread cache(8392704, &header, int64_t{imageSectors} * 2048, false,
                       WriteBlockBytes(drive.discType), lock);
    for (int i = 0; i < 100000 && !cache.CacheFilled.load(); ++i) SleepMs(1);

    std::atomic<bool> abortFlag{false};
    std::atomic<int64_t> bytesWritten{0};
    Outcome run;
    TWriteJob job;
    job.Drive = &drive;
    job.Cache = &cache;
    job.Lock = &lock;
    job.Settings = settings;
    job.StartSector = start;
    job.SectorsToWrite = sectorsToWrite;
    job.DescriptorCopy.assign(65537, 0xFF);
    std::fill(job.DescriptorCopy.begin(), job.DescriptorCopy.begin() + 19 * 2048, 0xD5);
    job.AbortFlag = &abortFlag;
    job.BytesWritten = &bytesWritten;
    TWriteStats stats;
    job.Stats = &stats;
    job.OnFinalizingTrack = [&] {
      ++run.finalizingCalls;
      if (onFinalizing) onFinalizing(abortFlag);
    };
    job.OnFinished = [&](const std::string& error) {
      ++run.finishedCalls;
      run.result = error;
    };
    abort_ = &abortFlag;
    {
      TThWrite writer(std::move(job));
      writer.Resume();
      writer.WaitFor();
    }
    abort_ = nullptr;
    run.bytesWritten = bytesWritten.load();
    run.lowestFill = stats.LowestBufferFill.load();
    EXPECT_GE(stats.DataEndMs.load(), stats.FirstWriteMs.load());
    return run;
  }

  // The sectors the drive holds from `from` on match the image.
  static void ExpectImage(const ScriptedDrive& drive, uint32_t from, uint32_t imageSectors) {
    for (uint32_t i = 0; i < imageSectors; ++i) {
      const auto found = drive.sectors.find(from + i);
      ASSERT_NE(found, drive.sectors.end()) << "sector " << i << " missing";
      ASSERT_EQ(found->second[0], static_cast<uint8_t>(i)) << i;
      ASSERT_EQ(found->second[2047], FillByte(i)) << i;
    }
  }

  ScopedTestClock clock_;
  TIsoImage image_;
  std::atomic<bool>* abort_ = nullptr;
};

TEST_F(WriterTest, DVDPlusRWritesWholeBlocksClosesAndRestores) {
  ScriptedDrive drive;
  drive.sessions = 1;
  // 165 sectors: five full blocks and one of 5 sectors, which still goes as 32.
  const Outcome run = Record(drive, 165, {}, 3000);
  EXPECT_EQ(run.result, "");
  EXPECT_EQ(run.finishedCalls, 1);
  EXPECT_EQ(run.finalizingCalls, 1);
  EXPECT_EQ(run.bytesWritten, 165 * 2048);
  ASSERT_EQ(drive.writes.size(), 6u);
  for (size_t i = 0; i < drive.writes.size(); ++i) {
    EXPECT_EQ(drive.writes[i].first, 3000 + 32 * i);
    EXPECT_EQ(drive.writes[i].second, 32);
  }
  ExpectImage(drive, 3000, 165);
  // The padding of the last WRITE is zeros, not what the transfer buffer held before.
  for (uint32_t lba = 3165; lba < 3192; ++lba) {
    const auto& s = drive.sectors.at(lba);
    ASSERT_TRUE(std::all_of(s.begin(), s.end(), [](uint8_t b) { return b == 0; })) << lba;
  }
  EXPECT_TRUE(drive.Has("STARTING WRITE PROCESS ON DVD+R AT 4.0X (5,540 KB/s)") ||
              drive.Has(">>> STARTING WRITE PROCESS ON DVD+R AT 4.0X (5,540 KB/s)"));
  EXPECT_TRUE(drive.Has("STREAMING 3000 3165"));
  // Flush, the real page, the close of track 2 and session, then the drive restored.
  const int sync = drive.Find("SYNC 120000");
  const int page = drive.Find("WRITE PARAMETERS 010 11", sync);
  const int closeTrack = drive.Find("CLOSE 0 1 2", page);
  const int closeSession = drive.Find("CLOSE 0 2 255", closeTrack);
  const int reset = drive.Find("WRITE PARAMETERS 000 1", closeSession);
  ASSERT_GE(sync, 0);
  EXPECT_GT(page, sync);
  EXPECT_GT(closeTrack, page);
  EXPECT_GT(closeSession, closeTrack);
  EXPECT_GT(reset, closeSession);
  EXPECT_GE(drive.Find("SET CD SPEED 8310 2", reset), 0);
  EXPECT_GE(drive.Find("ALLOW REMOVAL", reset), 0);
  EXPECT_EQ(drive.log.back(), "ENDED");
}

TEST_F(WriterTest, CDRUses27SectorWritesAndWaitsOutABusyClose) {
  ScriptedDrive drive(kDiscCdR);
  drive.closeSessionBusy = 3;
  const Outcome run = Record(drive, 300, {.PerformOPC = true}, 11400);
  EXPECT_EQ(run.result, "");
  ASSERT_EQ(drive.writes.size(), 12u);  // 11 x 27 + 3
  EXPECT_EQ(drive.writes.back().second, 3);
  ExpectImage(drive, 11400, 300);
  EXPECT_EQ(drive.Count("CLOSE SESSION"), 4);
  EXPECT_FALSE(drive.Has("STREAMING"));
  EXPECT_TRUE(drive.Has("OPC"));
  EXPECT_EQ(run.bytesWritten, 300 * 2048);
}

TEST_F(WriterTest, ADriveBusyForAFewSecondsIsWaitedOut) {
  ScriptedDrive drive;
  drive.failWrite = [](uint32_t, int call, ScriptedDrive::Failure& f) {
    if (call < 3 || call > 9) return false;
    f.asc = call % 2 ? 0x04 : 0x00;
    f.busy = call == 5;
    return true;
  };
  const uint64_t before = TickCount();
  const Outcome run = Record(drive, 300);
  EXPECT_EQ(run.result, "");
  EXPECT_EQ(drive.writes.size(), 10u + 7u);
  ExpectImage(drive, 0, 300);
  EXPECT_GE(TickCount() - before, 7u * 600u);
}

// A WRITE that fails for good ends the recording with the drive's reason: busy ten thousand
// times, refused, or never answered (not retried); the head of an overwritable disc refused
// or busy for ever, which would leave the new session invisible. What is sent after it
// depends on the disc.
TEST_F(WriterTest, AWriteThatNeverSucceedsEndsTheRecording) {
  struct Case {
    int16_t discType;
    uint32_t start, failingLba;
    ScriptedDrive::Failure failure;
    std::string result;
    size_t writes;
    std::vector<std::string> sent, notSent;  // log lines that start so
  };
  const Case cases[] = {
      // The drive's cache is still flushed and the DVD+R's open track sealed, never the disc.
      {kDiscDvdPlusR, 0, 64, {.busy = true}, "WRITER BUSY/BUFFER FULL", 2 + 10000,
       {"SYNC", "CLOSE 0 1 1"}, {"CLOSE 0 5"}},
      // Sealed with a page that leaves the disc open.
      {kDiscDvdPlusR, 0, 96, {.asc = 0x21, .text = "LOGICAL BLOCK ADDRESS OUT OF RANGE"},
       "WRITER ERROR [LOGICAL BLOCK ADDRESS OUT OF RANGE]", 4, {"WRITE PARAMETERS 010 11", "CLOSE 0 2 255"}, {}},
      {kDiscDvdPlusR, 0, 64, {.noAnswer = true, .text = "COMMAND TIMEOUT"}, "WRITER ERROR [COMMAND TIMEOUT]", 3, {}, {}},
      {kDiscDvdPlusR, 0, 0, {.noAnswer = true, .text = ""}, "WRITER ERROR [NO ANSWER FROM THE DRIVE]", 1, {}, {}},
      {kDiscDvdRwRestricted, 700, 0, {.asc = 0x27, .text = "WRITE PROTECTED"}, "WRITER ERROR [WRITE PROTECTED]",
       10 + 1, {}, {"CLOSE"}},
      {kDiscDvdRwRestricted, 700, 0, {.busy = true, .asc = 0x27, .text = "BUSY"}, "WRITER ERROR [BUSY]",
       10 + 10000, {}, {"CLOSE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    ScriptedDrive drive(c.discType);
    drive.failWrite = [&c](uint32_t lba, int, ScriptedDrive::Failure& f) {
      f = c.failure;
      return lba == c.failingLba;
    };
    const Outcome run = Record(drive, 300, {}, c.start);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(drive.writes.size(), c.writes);
    EXPECT_EQ(run.finishedCalls, 1);
    for (const std::string& line : c.sent) EXPECT_TRUE(drive.Has(line)) << line;
    for (const std::string& line : c.notSent) EXPECT_FALSE(drive.Has(line)) << line;
  }
}

TEST_F(WriterTest, AbortInTheMiddleFlushesAndSealsOnlyAWriteOnceDisc) {
  for (const int16_t type : {kDiscDvdPlusR, kDiscDvdPlusRw}) {
    ScriptedDrive drive(type);
    drive.onWrite = [&] {
      if (drive.writes.size() == 3) abort_->store(true);
    };
    const Outcome run = Record(drive, 300);
    EXPECT_EQ(run.result, "OPERATION ABORTED BY USER");
    EXPECT_EQ(drive.writes.size(), 3u);
    const int sync = drive.Find("SYNC");
    EXPECT_GE(sync, 0);
    // The open track and session of a DVD+R are closed (the disc stays open) and the drive
    // is given back; an overwritable disc is left as it is.
    const bool writeOnce = type == kDiscDvdPlusR;
    EXPECT_EQ(drive.Find("CLOSE 0 1 1", sync) > sync, writeOnce) << type;
    EXPECT_EQ(drive.Find("CLOSE 0 2 255", sync) > sync, writeOnce) << type;
    EXPECT_EQ(drive.Find("LOAD", sync) > sync, writeOnce) << type;
    EXPECT_EQ(run.finishedCalls, 1);
    EXPECT_LT(run.bytesWritten, 300 * 2048);
  }
}

TEST_F(WriterTest, AbortAfterTheLastBlockChangesNothing) {
  ScriptedDrive drive;
  const Outcome run = Record(drive, 300, {}, 0, [](std::atomic<bool>& abort) { abort.store(true); });
  EXPECT_EQ(run.result, "");
  EXPECT_TRUE(drive.Has("CLOSE 0 2 255"));
  // Also when the abort comes between the last WRITE and the end of the data.
  ScriptedDrive late;
  late.onWrite = [&] {
    if (late.writes.size() == 10) abort_->store(true);
  };
  const Outcome lateRun = Record(late, 300);
  EXPECT_EQ(lateRun.result, "");
  EXPECT_TRUE(late.Has("CLOSE 0 2 255"));
}

TEST_F(WriterTest, TestWriteAndFinalizeTrackOffSendNoClose) {
  ScriptedDrive drive;
  EXPECT_EQ(Record(drive, 300, {.TestWrite = true, .PerformOPC = true}).result, "");
  EXPECT_FALSE(drive.Has("CLOSE"));
  EXPECT_FALSE(drive.Has("OPC"));  // no calibration for a simulated write
  EXPECT_TRUE(drive.Has(">>> TEST/DUMMY WRITE"));
  EXPECT_TRUE(drive.Has("WRITE PARAMETERS 000 1"));  // the page is reset at the end
  EXPECT_TRUE(drive.Has("SYNC"));

  ScriptedDrive open;
  EXPECT_EQ(Record(open, 300, {.FinalizeTrack = false}).result, "");
  EXPECT_FALSE(open.Has("CLOSE"));
  EXPECT_TRUE(open.Has("WRITE PARAMETERS 000 1"));
  EXPECT_TRUE(open.Has("ALLOW REMOVAL"));
}

TEST_F(WriterTest, DVDRReservesClosesThreeTimesAndWaitsForTheDrainBounded) {
  ScriptedDrive drive(kDiscDvdR);
  drive.discInfoNotReady = 5;
  const Outcome run = Record(drive, 1000, {.FinalizeDisc = true}, 0);
  EXPECT_EQ(run.result, "");
  EXPECT_TRUE(drive.Has("RESERVE 1024"));
  EXPECT_TRUE(drive.Has("STREAMING DESCRIPTOR 28"));
  EXPECT_TRUE(drive.Has("TIMESTAMP"));
  EXPECT_TRUE(drive.Has("SYNC 1800000 IMMED"));
  const int close = drive.Find("CLOSE 0 1 1");
  EXPECT_GE(drive.Find("CLOSE 0 1 2", close), 0);
  EXPECT_GE(drive.Find("CLOSE 0 2 3", close), 0);
  // "Close Disc": the page goes out once more before the close, so that no border follows.
  EXPECT_EQ(drive.Count("WRITE PARAMETERS"), 3);
  // The display figure drains while the drive writes out its buffer, then goes to zero.
  const uint32_t size = drive.bufferSize;
  ASSERT_EQ(drive.bufferFigures.size(), 1u + 5u + 1u);
  EXPECT_EQ(drive.bufferFigures[0], std::make_pair(size, size));
  for (size_t i = 1; i <= 5; ++i) {
    EXPECT_EQ(drive.bufferFigures[i], std::make_pair(size, static_cast<uint32_t>(size - i * (size / 960)))) << i;
  }
  EXPECT_EQ(drive.bufferFigures.back(), std::make_pair(0u, 0u));

  // A drive that never answers again is left after the bound.
  ScriptedDrive stuck(kDiscDvdRwSequential);
  stuck.discInfoNotReady = 1 << 30;
  const uint64_t before = TickCount();
  EXPECT_EQ(Record(stuck, 300).result, "");
  EXPECT_EQ(stuck.Count("READ DISC INFORMATION"), static_cast<int>(kFlushDrainMaxSteps));
  for (size_t i = 1; i + 1 < stuck.bufferFigures.size(); ++i) {
    ASSERT_LE(stuck.bufferFigures[i].second, stuck.bufferFigures[i - 1].second);
  }
  EXPECT_LE(TickCount() - before, (kFlushDrainMaxSteps + 300) * 1000ull);
  EXPECT_EQ(stuck.bufferFigures.back(), std::make_pair(0u, 0u));
}

TEST_F(WriterTest, OverwritableDiscsGetTheNewHeadAtSectorZeroAfterTheData) {
  ScriptedDrive drive(kDiscDvdPlusRw);
  const Outcome run = Record(drive, 300, {}, 5000);
  EXPECT_EQ(run.result, "");
  ASSERT_GE(drive.writes.size(), 2u);
  EXPECT_EQ(drive.writes[0], std::make_pair(5000u, uint16_t{32}));
  EXPECT_EQ(drive.writes.back(), std::make_pair(0u, uint16_t{32}));
  EXPECT_EQ(drive.sectors.at(16)[0], 0xD5);  // the new descriptors
  EXPECT_EQ(drive.sectors.at(25)[0], 0xFF);
  ExpectImage(drive, 5000, 300);
  // The data is flushed before the head goes out, and the head before the close.
  const int sync = drive.Find("SYNC");
  EXPECT_GE(drive.Find("SYNC", sync + 1), 0);
  EXPECT_TRUE(drive.Has("CLOSE 0 3 255"));
  EXPECT_FALSE(drive.Has("REZERO") && drive.Find("REZERO") < drive.Find("WRITE PARAMETERS"));
}

TEST_F(WriterTest, AFreshDVDPlusRWIsFormattedWhenItRefusesTheFirstWrite) {
  ScriptedDrive drive(kDiscDvdPlusRw);
  bool formatted = false;
  drive.failWrite = [&](uint32_t, int, ScriptedDrive::Failure& f) {
    formatted = formatted || drive.Has("FORMAT");
    f.asc = 0x30;
    f.text = "INCOMPATIBLE MEDIUM INSTALLED";
    return !formatted;
  };
  drive.discInfoNotReady = 2;
  const Outcome run = Record(drive, 300);
  EXPECT_EQ(run.result, "");
  EXPECT_EQ(drive.Count("FORMAT 152"), 1);  // type 0x26 in the upper six bits
  EXPECT_EQ(drive.writes[0].first, 0u);
  EXPECT_EQ(drive.writes[1].first, 0u);     // the same block again, after the format
  ExpectImage(drive, 0, 300);
}

TEST_F(WriterTest, ABusyHeadWriteIsRetriedAsADataBlock) {
  ScriptedDrive drive(kDiscDvdRam);
  drive.failWrite = [](uint32_t lba, int call, ScriptedDrive::Failure& f) {
    f.asc = 0x04;
    return lba == 0 && call < 12;
  };
  const Outcome run = Record(drive, 300, {.PerformOPC = true}, 700);
  EXPECT_EQ(run.result, "");
  EXPECT_EQ(drive.writes[0].first, 700u);
  ASSERT_EQ(drive.writes.size(), 10u + 3u);  // ten blocks, then the head three times
  EXPECT_EQ(drive.writes.back().first, 0u);
  EXPECT_EQ(drive.sectors.at(16)[0], 0xD5);
  ExpectImage(drive, 700, 300);
  EXPECT_FALSE(drive.Has("OPC"));     // DVD-RAM: no calibration
  EXPECT_FALSE(drive.Has("CLOSE"));   // and no close
  EXPECT_EQ(drive.Count("WRITE PARAMETERS"), 2);
}

TEST_F(WriterTest, BufferQueriesStopAfterTheFirstFailureAndTrackTheLowestFill) {
  ScriptedDrive drive;
  drive.bufferWorks = false;
  const Outcome bad = Record(drive, 1000);
  EXPECT_EQ(bad.result, "");
  EXPECT_EQ(bad.lowestFill, -1);
  // Preparation, end of data and restore: never during the data.
  EXPECT_EQ(drive.Count("READ BUFFER CAPACITY"), 3);

  ScriptedDrive good;
  // Fill 10 % and 40 % while the buffer first fills (not counted), then 80, 30 and 60 %.
  const uint32_t size = good.bufferSize;
  good.freeSizes = {size, size / 10 * 9, size / 10 * 6, size / 10 * 2, size / 10 * 7,
                    size / 10 * 4};
  const Outcome run = Record(good, 1000);
  EXPECT_EQ(run.result, "");
  EXPECT_EQ(run.lowestFill, 30);
  // 32 blocks: a query before the 6th, 11th, ... block, plus the three outside the data.
  EXPECT_EQ(good.Count("READ BUFFER CAPACITY"), 3 + 6);
}

}  // namespace
}  // namespace brennix
