#include "recording/writer_thread.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "recording/cache_fan_out.h"
#include "platform/disc_units.h"
#include "recording/cache_thread.h"

namespace brennix {

namespace {

constexpr uint32_t kFlushTimeoutMs = 30 * 60 * 1000;
constexpr uint32_t kCloseFlushTimeoutMs = 120 * 1000;
constexpr uint32_t kBlockWaitMs = 5;

}  // namespace

std::string VerifyFailedText(int64_t sector) {
  return "VERIFY FAILED AT SECTOR " + std::to_string(sector);
}

std::string WriterErrorText(const std::string& lastErrorText) {
  return "WRITER ERROR [" + (lastErrorText.empty() ? std::string(kNoAnswer) : lastErrorText) +
         "]";
}

TThWrite::TThWrite(TWriteJob job)
    : TThread(true), job_(std::move(job)), transfer_(kDVDBlockBytes), data_(transfer_.data()) {
  SetPriority(ThreadPriority::TimeCritical);
}

TThWrite::~TThWrite() {
  // Execute uses this object's members: it must be over before they go.
  WaitFor();
}

void TThWrite::Execute() {
  const std::string result = Record();
  job_.Drive->RecordingEnded();
  // The read-ahead cache may still be opening a source (a network mount that hangs): the end
  // is reported only once it has stopped, so whoever frees the tree on that report never
  // frees it under the reader.
  if (job_.FanOut != nullptr) {
    job_.FanOut->Leave(job_.Tap);
  } else {
    job_.Cache->Abort();
    job_.Cache->WaitFor();
  }
  if (job_.OnFinished) job_.OnFinished(result);
}

bool TThWrite::CacheFailed() {
  if (!ownError_.empty()) return true;
  std::lock_guard<std::recursive_mutex> guard(*job_.Lock);
  return !job_.Cache->ErrorText().empty();
}

void TThWrite::Fail(const std::string& text) {
  if (job_.FanOut != nullptr) {
    // The other writers on the cache go on without this one.
    if (ownError_.empty()) ownError_ = text;
    job_.FanOut->Leave(job_.Tap);
    return;
  }
  {
    std::lock_guard<std::recursive_mutex> guard(*job_.Lock);
    if (job_.Cache->ErrorText().empty()) job_.Cache->SetErrorText(text);
  }
  job_.Cache->Abort();
}

int32_t TThWrite::TakeFromCache() {
  data_ = transfer_.data();
  if (job_.FanOut != nullptr) return job_.FanOut->GetBlock(job_.Tap, transfer_.data());
  std::lock_guard<std::recursive_mutex> guard(*job_.Lock);
  // The block sent last goes back for reuse; the next one is sent from where the cache read
  // it, without a copy.
  if (held_) job_.Cache->ReturnBlock(std::move(held_));
  const int32_t got = job_.Cache->TakeBlock(held_);
  if (held_) data_ = held_->Data;
  return got;
}

TThWrite::Next TThWrite::TakeBlock(int32_t& c, bool checkAbort) {
  c = 0;
  for (;;) {
    // Once every sector of the recording has been sent an abort has nothing left to stop:
    // the disc is finished as if it had come a moment later.
    if (checkAbort && job_.AbortFlag->load() && sectorsSent_.load() < job_.SectorsToWrite) {
      Fail(kAbortedByUser);
      return Next::End;
    }
    // Counted before the look at the queue: a block queued after it ends the wait below.
    const uint64_t seen = job_.Cache->Events();
    int32_t got = TakeFromCache();
    if (CacheFailed()) return Next::End;
    if (got > 0) {
      c = std::min(got, kDVDBlockBytes);
      return Next::Data;
    }
    if (got == 0) return Next::End;
    // Nothing ready yet. A reader that has ended for good will never deliver more (a writer
    // held back by a slower one has more to come all the same).
    if (got != TCacheFanOut::kHeldBack && job_.Cache->TThread::Finished()) {
      got = TakeFromCache();
      if (got > 0) {
        c = std::min(got, kDVDBlockBytes);
        return Next::Data;
      }
      return Next::End;
    }
    // Woken as soon as the cache queues a block, ends or fails; the bound keeps the abort
    // flag, which the cache does not see, looked at often.
    job_.Cache->WaitForEvent(seen, kBlockWaitMs);
  }
}

const uint8_t* TThWrite::HoldBackDescriptors(int64_t lba, int32_t sectors) {
  if (!holdDescriptors_ || lba >= job_.DescriptorEnd) return data_;
  const int64_t first = std::max<int64_t>(lba, kFirstDescriptorSector);
  const int64_t end = std::min<int64_t>(lba + sectors, job_.DescriptorEnd);
  if (first >= end) return data_;
  masked_.assign(data_, data_ + static_cast<std::ptrdiff_t>(sectors) * kSectorSize);
  for (int64_t s = first; s < end; ++s) {
    uint8_t* p = masked_.data() + static_cast<size_t>(s - lba) * kSectorSize;
    std::memset(p, 0, kSectorSize);
    if (s == kFirstDescriptorSector) {
      p[0] = 255;  // volume descriptor set terminator
      std::memcpy(p + 1, "CD001", 5);
      p[6] = 1;
    }
  }
  return masked_.data();
}

bool TThWrite::WriteDiscStart() {
  // The new volume's descriptors go to sector 16 onward, so that a reader that starts at the
  // beginning of the disc finds the new tree. They go last, once every sector they point to
  // is on the disc: a recording that fails before leaves the old volume whole and visible.
  // An image that itself starts at sector 0 carries them already, held back until now.
  uint32_t first = 0;
  uint32_t sectors = 0;
  TRecorderDrive& drive = *job_.Drive;
  if (job_.StartSector == 0) {
    if (!holdDescriptors_) return true;
    // Only the descriptors: the sectors after them already hold what the image has there.
    first = kFirstDescriptorSector;
    sectors = job_.DescriptorEnd - first;
  } else {
    sectors = std::min<uint32_t>({job_.StartSector, kDVDBlockBytes / kSectorSize,
                                  std::max<uint32_t>(job_.DiscStartSectors, 1)});
  }
  head_.assign(static_cast<size_t>(sectors) * kSectorSize, 0xFF);
  const size_t from = size_t{first} * kSectorSize;
  if (job_.DescriptorCopy.size() > from) {
    std::memcpy(head_.data(), job_.DescriptorCopy.data() + from,
                std::min(head_.size(), job_.DescriptorCopy.size() - from));
  }
  // The same rules as for a data block: a busy or not-ready drive is given time; without
  // this sector the new session would be invisible, so it is never skipped.
  if (WriteWithRetry(first, static_cast<uint16_t>(sectors), head_.data(),
                     static_cast<uint32_t>(head_.size()), false) != WriteResult::Written) {
    Fail(WriterErrorText(drive.LastErrorText()));
    return false;
  }
  drive.SynchronizeCache(kFlushTimeoutMs, false);
  return true;
}

std::string TThWrite::Record() {
  TRecorderDrive& drive = *job_.Drive;
  job_.BytesWritten->store(0);
  sectorsSent_.store(0);
  // The cache's message is not cleared here: a file that failed while the writer was being
  // started must still end the recording.

  // One digest per sector of the image, made before the data flows.
  if (job_.Settings.Verify) {
    digests_.assign(static_cast<size_t>(std::max<int64_t>(job_.SectorsToWrite, 0)), 0);
  }
  prep_ = PrepareWrite(drive, job_.Settings, job_.StartSector, job_.SectorsToWrite);
  bufferQueries_ = prep_.BufferQueryWorks;
  bufferCountdown_ = 5;
  const int16_t type = prep_.DiscType;
  holdDescriptors_ = IsOverwritableDVD(type) && job_.StartSector == 0 && !job_.Settings.TestWrite &&
                     job_.DescriptorEnd > kFirstDescriptorSector &&
                     job_.DescriptorEnd <= kDVDBlockBytes / kSectorSize;

  int32_t c = 0;
  // A fresh DVD+RW refuses writing until it is formatted; twice at most.
  int formats = 0;
  const auto formatOnce = [&] {
    if (type != kDiscDvdPlusRw || drive.LastAsc() != 0x30 || formats >= 2) return false;
    ++formats;
    FormatDVDPlusRW(drive);
    return true;
  };
  Next next = TakeBlock(c, false);

  while (next == Next::Data) {
    const int32_t send = PadWriteBlock(type, data_, c);
    job_.BytesWritten->store(AddBytesWritten(job_.BytesWritten->load(), send, job_.SectorsToWrite));

    if (bufferCountdown_ == 0 && bufferQueries_) {
      if (drive.ReadBufferCapacity()) {
        bufferCountdown_ = 5;
        NoteBufferFill();
      } else {
        bufferQueries_ = false;
      }
    }
    if (bufferCountdown_ > 0) --bufferCountdown_;

    const int64_t lba = static_cast<int64_t>(job_.StartSector) + sectorsSent_.load();
    const int32_t sectors = send / kSectorSize;
    const WriteResult written =
        WriteWithRetry(static_cast<uint32_t>(lba), static_cast<uint16_t>(sectors),
                       HoldBackDescriptors(lba, sectors), static_cast<uint32_t>(send), true, formatOnce);
    if (written != WriteResult::Written) {
      Fail(written == WriteResult::Aborted   ? std::string(kAbortedByUser)
           : written == WriteResult::Refused ? WriterErrorText(drive.LastErrorText())
                                             : std::string(kWriterBusy));
      break;
    }
    if (job_.Stats != nullptr && sectorsSent_.load() == 0) job_.Stats->FirstWriteMs.store(TickCount());
    if (job_.Settings.Verify) KeepDigests(data_, sectorsSent_.load(), sectors);
    sectorsSent_.fetch_add(sectors);
    next = TakeBlock(c, true);
  }

  if (job_.Stats != nullptr) job_.Stats->DataEndMs.store(TickCount());
  EndOfData();
  if (job_.Settings.Verify && !job_.Settings.TestWrite && !CacheFailed() &&
      job_.Cache->FileErrors().empty() && sectorsSent_.load() >= job_.SectorsToWrite) {
    const std::string failed = VerifyRecording();
    if (!failed.empty()) Fail(failed);
  }

  std::string result = ownError_;
  if (result.empty()) {
    std::lock_guard<std::recursive_mutex> guard(*job_.Lock);
    result = job_.Cache->ErrorText();
  }
  // A file that shrank was written padded with zeros; the disc is whole but not what the
  // user queued, so the recording must not count as a success.
  if (result.empty()) result = job_.Cache->FileErrors();
  if (result.empty() && sectorsSent_.load() < job_.SectorsToWrite) {
    result = WriterErrorText("IMAGE ENDED AFTER " + std::to_string(sectorsSent_.load()) + " OF " +
                             std::to_string(job_.SectorsToWrite) + " SECTORS");
  }
  return result;
}

void TThWrite::KeepDigests(const uint8_t* data, int64_t firstOffset, int32_t sectors) {
  // Only the image's own sectors: the padding of a last DVD block is not part of it.
  const auto total = static_cast<int64_t>(digests_.size());
  for (int32_t i = 0; i < sectors && firstOffset + i < total; ++i) {
    digests_[static_cast<size_t>(firstOffset + i)] =
        SectorDigest(data + static_cast<size_t>(i) * kSectorSize);
  }
}

bool ReadWithRetry(TRecorderDrive& drive, uint32_t lba, uint16_t sectors, uint8_t* out) {
  for (int busy = 0, failed = 0;;) {
    if (drive.ReadSectors(lba, sectors, out, uint32_t{sectors} * kSectorSize)) return true;
    if (drive.LastSenseKey() == kSenseBlankCheck) return false;
    if (IsTransientWriteFailure(drive)) {
      if (++busy >= kMaxVerifyBusyAttempts) return false;
    } else if (++failed >= kMaxVerifyReadAttempts) {
      return false;
    }
    SleepMs(kBusyRetryMs);
  }
}

TThWrite::WriteResult TThWrite::WriteWithRetry(uint32_t lba, uint16_t sectors, const uint8_t* data,
                                               uint32_t bytes, bool abortable,
                                               const std::function<bool()>& mend) {
  TRecorderDrive& drive = *job_.Drive;
  for (int attempts = 0;;) {
    if (abortable && job_.AbortFlag->load()) return WriteResult::Aborted;
    if (drive.WriteSectors(lba, sectors, data, bytes)) return WriteResult::Written;
    if (mend && mend()) continue;
    if (!IsTransientWriteFailure(drive)) return WriteResult::Refused;
    if (++attempts >= kMaxWriteAttempts) return WriteResult::Busy;
    SleepMs(kBusyRetryMs);
  }
}

std::string TThWrite::VerifyRecording() {
  constexpr int64_t kReadSectors = kDVDBlockBytes / kSectorSize;  // 32 per READ
  const int64_t total = job_.SectorsToWrite;
  const int64_t headSectors = static_cast<int64_t>(head_.size()) / kSectorSize;
  std::vector<uint8_t> buffer(kDVDBlockBytes);
  const auto setPercent = [this](int percent) {
    if (job_.Stats != nullptr) job_.Stats->VerifyPercent.store(percent);
  };
  setPercent(0);
  std::string result;
  const auto check = [&](uint32_t lba, int64_t count, const auto& expected) {
    if (!ReadWithRetry(*job_.Drive, lba, static_cast<uint16_t>(count), buffer.data())) {
      result = VerifyFailedText(lba);
      return false;
    }
    for (int64_t i = 0; i < count; ++i) {
      if (SectorDigest(buffer.data() + i * kSectorSize) != expected(i)) {
        result = VerifyFailedText(lba + i);
        return false;
      }
    }
    return true;
  };
  // The head written at sector 0 of an overwritable disc is part of what was recorded (a
  // volume that starts at sector 0 has its own head among the digests).
  if (headSectors > 0 && job_.StartSector != 0 &&
      !check(0, headSectors, [&](int64_t i) { return SectorDigest(head_.data() + i * kSectorSize); })) {
    return result;
  }
  if (digests_.size() != static_cast<size_t>(std::max<int64_t>(total, 0))) {
    return VerifyFailedText(job_.StartSector);
  }
  for (int64_t offset = 0; offset < total; offset += kReadSectors) {
    if (job_.AbortFlag->load()) {
      result = kAbortedByUser;
      break;
    }
    const int64_t count = std::min(kReadSectors, total - offset);
    const auto lba = static_cast<uint32_t>(job_.StartSector + offset);
    if (!check(lba, count, [&](int64_t i) { return digests_[static_cast<size_t>(offset + i)]; }))
      break;
    setPercent(static_cast<int>((offset + count) * 100 / total));
  }
  return result;
}

void TThWrite::NoteBufferFill() {
  if (job_.Stats == nullptr) return;
  const uint32_t size = job_.Drive->DeviceBufferSize();
  const uint32_t free = job_.Drive->DeviceFreeBufferSize();
  if (size == 0) return;
  const int fill = static_cast<int>((uint64_t{size} - std::min(free, size)) * 100 / size);
  // The buffer starts empty: its fill counts once it has been half full, so that the figure
  // tells whether the drive was ever starved, not how fast it was first filled.
  if (!bufferPrimed_) {
    if (fill < 50) return;
    bufferPrimed_ = true;
  }
  int lowest = job_.Stats->LowestBufferFill.load();
  while ((lowest < 0 || fill < lowest) &&
         !job_.Stats->LowestBufferFill.compare_exchange_weak(lowest, fill)) {
  }
}

void TThWrite::EndOfData() {
  TRecorderDrive& drive = *job_.Drive;
  const int16_t type = prep_.DiscType;
  if (type != kDiscDvdRam) drive.ReadBufferCapacity();

  if (type == kDiscDvdR || IsDVDRW(type)) {
    if (job_.OnFinalizingTrack) job_.OnFinalizingTrack();
    drive.SynchronizeCache(kFlushTimeoutMs, true);
    // The drive answers again once it has written out its buffer; meanwhile the display
    // shows the buffer draining.
    const uint32_t size = drive.DeviceBufferSize();
    uint32_t free = size;
    drive.SetDeviceBufferSizes(size, free);
    // Bounded in time as well as in steps: a drive that does not answer makes each step
    // last a whole command time-out.
    const uint64_t start = TickCount();
    for (uint32_t step = 0; step < kFlushDrainMaxSteps; ++step) {
      if (TickCount() - start >= kFlushDrainMaxSteps * 1000ull) break;
      if (drive.ReadDiscInformation()) break;
      const uint32_t drop = size / 960;
      free = free > drop ? free - drop : 0;
      drive.SetDeviceBufferSizes(size, free);
      SleepMs(1000);
    }
  } else {
    if (job_.OnFinalizingTrack) job_.OnFinalizingTrack();
    if (!drive.SynchronizeCache(kCloseFlushTimeoutMs, false)) {
      drive.SynchronizeCache(kCloseFlushTimeoutMs, true);
    }
  }
  drive.SetDeviceBufferSizes(0, 0);

  const TWriteSettings& s = job_.Settings;
  if (!CacheFailed() && IsOverwritableDVD(type) && !s.TestWrite) WriteDiscStart();
  if (CacheFailed()) {
    // A track left open on a write-once disc makes the disc unusable: no next address, and
    // a next session that readers cannot reach. Once data is on it, the track and session
    // are sealed (never the disc); the recording still reports why it ended.
    if (!s.TestWrite && s.FinalizeTrack && IsSequentialRecording(type) && sectorsSent_.load() > 0) {
      drive.DebugMessage(">>> CLOSING THE TRACK OF THE ENDED RECORDING", 1);
      if (type != kDiscDvdR) {
        drive.SetWriteParameters(false, s.UnderrunProtection, false, type, false, false);
      }
      RunCloseSequence(drive, type, prep_.TrackNumber, false);
      RestoreDrive(drive, type, false);
    }
    return;
  }
  if (!s.TestWrite && type != kDiscDvdRam && s.FinalizeTrack) {
    // A DVD-R keeps the page of the preparation, unless this session is to end the disc.
    if (type != kDiscDvdR || s.FinalizeDisc) {
      drive.SetWriteParameters(s.TestWrite, s.UnderrunProtection, s.FinalizeDisc, type,
                               s.FinalizeDisc, s.FinalizeDisc);
    }
    RunCloseSequence(drive, type, prep_.TrackNumber, s.FinalizeDisc);
  }
  RestoreDrive(drive, type, s.FinalizeDisc);
}

}  // namespace brennix
