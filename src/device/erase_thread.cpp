#include "device/erase_thread.h"

#include <algorithm>
#include <cstring>

#include "device/disc_types.h"
#include "device/tray_lock.h"
#include "device/erase_plan.h"
#include "device/scsi_device.h"
#include "platform/clock.h"
#include "platform/disc_units.h"
#include "platform/main_thread.h"
#include "transport/aspi.h"

namespace brennix {

namespace {
constexpr uint8_t kNotReadyAsc = 0x04;
constexpr uint32_t kNapSliceMs = 500;  // how soon a stop request is noticed in a sleep
constexpr uint8_t kCloseDvdPlusRw = 3;
}  // namespace

TEraseThread::TEraseThread(TSCSIDevice& device, int16_t eraseDiscType, uint8_t blankType,
                           uint16_t estimate, std::shared_ptr<std::atomic<bool>> deviceAlive,
                           std::unique_ptr<TDriveHold> hold)
    : TThread(true),
      device_(device),
      eraseDiscType_(eraseDiscType),
      blankType_(blankType),
      estimate_(estimate),
      deviceAlive_(std::move(deviceAlive)),
      zeros_(size_t{kZeroFillBlocks} * kSectorSize, 0),
      hold_(std::move(hold)) {}

TEraseThread::~TEraseThread() {
  Terminate();
  WaitFor();
}

void TEraseThread::Update() {
  int p = EraseProgressStep(elapsed_, estimate_, progress_.load());
  // A drive that says how far it is gets believed when it is further than the estimate.
  const int reported = DriveReportedProgress(device_.LastSense, sizeof device_.LastSense);
  if (reported > p) p = std::min(reported, 99);
  progress_.store(p);
}

bool TEraseThread::NotReady() const { return device_.LastSense[12] == kNotReadyAsc; }

bool TEraseThread::Nap(uint32_t ms) {
  while (ms > 0 && !Terminated()) {
    const uint32_t slice = std::min(ms, kNapSliceMs);
    SleepMs(slice);
    ms -= slice;
  }
  return !Terminated();
}

bool TEraseThread::TestReady() {
  const bool ready = device_.TestUnitReady(5000);
  // A medium or hardware error while the erase runs is the drive saying that it failed.
  const uint8_t key = device_.LastSense[2] & 0x0F;
  if (!ready && (key == 0x03 || key == 0x04)) Fail(device_.LastErrorText);
  return ready;
}

bool TEraseThread::ZeroFill(uint32_t lastAddress) {
  const uint32_t bytes = kZeroFillBlocks * kSectorSize;
  filling_.store(true);
  bool filled = true;
  for (uint32_t address = 0; address <= lastAddress && filled; address += kZeroFillBlocks) {
    if (Terminated() || stopFill_.load()) {
      filled = false;
      break;
    }
    filled = device_.WriteSectors(address, kZeroFillBlocks, bytes, zeros_.data());
    // A full fill is most of the erase and takes minutes: let the progress follow it.
    const int done = static_cast<int>(uint64_t{address} * 95 / (uint64_t{lastAddress} + 1));
    if (filled && done > progress_.load()) progress_.store(done);
  }
  filling_.store(false);
  return filled;
}

void TEraseThread::WaitDvdRw() {
  // The seconds that really passed, naps and commands alike.
  const uint64_t start = TickCount();
  const double before = elapsed_;
  const auto count = [&] { elapsed_ = before + static_cast<double>(TickCount() - start) / 1000; };
  do {
    Update();
    if (!TestReady() && !Nap(2000)) return;
    count();
    Update();
  } while (NotReady() && elapsed_ <= estimate_);
  if (!Nap(5000)) return;
  do {
    Update();
    if (!TestReady() && !Nap(2000)) return;
    count();
  } while (NotReady() && elapsed_ <= estimate_);
}

void TEraseThread::FollowDvdPlusRw() {
  // The background format must have begun before the zero fill; a drive that never says so
  // is given up on after an hour and the erase ends with an error.
  double passes = 0;
  do {
    if (!Nap(2000)) return;
    device_.ReadDiscInfo();
    elapsed_ += 2;
    passes += 1;
    Update();
    if (passes >= kDvdPlusRwFormatWaitPasses && NotReady()) {
      device_.DebugMessage("DVD+RW STILL FORMATTING AFTER ONE HOUR", 0);
      Fail("DVD+RW STILL FORMATTING AFTER ONE HOUR");
      return;
    }
  } while (NotReady());

  const uint32_t last = blankType_ == kBlankQuick ? kQuickZeroFillLast : kFullZeroFillLast;
  if (!ZeroFill(last)) {
    if (Terminated()) return;
    if (!stopFill_.load()) return Fail(device_.LastErrorText);
    // Stopped by the user: the start of the disc is zero already, so the old volume is
    // gone; the drive still ends its format as after a whole fill.
    Fail("ERASE STOPPED BY USER");
  }
  if (!Nap(300)) return;
  elapsed_ += 1;
  Update();
  device_.SynchronizeCache(30000, false);
  device_.CloseTrackSession(false, kCloseDvdPlusRw, 0, 0, 0);
}

void TEraseThread::WaitAfterwards() {
  if (SlowReadyQuirk) {
    do {
      Update();
      elapsed_ += 2;
      if (!TestReady() && !Nap(2000)) return;
    } while (NotReady() && elapsed_ <= estimate_);
    device_.ReadDiscInfo();
    if (!Nap(5000)) return;
  }

  if (TestReady() && device_.ReadDiscInfo()) return;

  if (eraseDiscType_ != kDiscDvdRam) {
    do {
      Update();
      device_.ReadDiscInfo();
      elapsed_ += 5;
      if (NotReady() && !Nap(5000)) return;
    } while (NotReady() && elapsed_ <= estimate_);
  }
  do {
    Update();
    elapsed_ += 2;
    if (!TestReady() && !Nap(2000)) return;
  } while (NotReady() && elapsed_ <= estimate_);

  uint8_t sense[40] = {};
  do {
    Update();
    std::memset(sense, 0, sizeof sense);
    device_.RequestSense(sense, sizeof sense);
    elapsed_ += 2;
    if (sense[0] == 0xF0) sense[12] = kNotReadyAsc;
    if (!Nap(2000)) return;
  } while (sense[12] != 0 && elapsed_ <= estimate_);
}

void TEraseThread::RestoreDrive() {
  device_.SetWriteParameters(false, false, false, kDiscCdRom);
  device_.SetCDSpeed(device_.QueryMaxReadSpeed(), 2);
  device_.RezeroUnit();
  device_.PreventAllowRemoval(true);
  device_.StartStopUnit(false);
  device_.RezeroUnit();
  TestReady();
}

void TEraseThread::Execute() {
  const int16_t t = eraseDiscType_;
  if (t == kDiscDvdRwRestricted || t == kDiscDvdRwSequential) {
    WaitDvdRw();
  } else if (t == kDiscDvdPlusRw) {
    FollowDvdPlusRw();
  } else if (t == kDiscDvdRam && blankType_ == kBlankQuick) {
    if (!ZeroFill(kQuickZeroFillLast) && !Terminated())
      Fail(stopFill_.load() ? "ERASE STOPPED BY USER" : device_.LastErrorText);
    device_.SynchronizeCache(30000, false);
  }
  if (!Terminated()) {
    WaitAfterwards();
    // However long the waits ran, a drive that is still not ready has not finished.
    if (!Terminated() && !TestReady()) {
      device_.DebugMessage("ERASE NOT FINISHED: " + device_.LastErrorText, 0);
      Fail("ERASE NOT FINISHED: " + device_.LastErrorText);
    }
  }

  // The blanked disc may change what the system reports about the drive.
  if (!Terminated() && ASPIUsesEmulation()) ASPIReload();
  progress_.store(100);
  if (!Terminated()) RestoreDrive();
  // Let go before the event, so that whoever it tells finds the drive free.
  if (hold_ && Terminated()) hold_->Abandon();
  hold_.reset();
  Finish();
}

void TEraseThread::Fail(const std::string& reason) {
  if (errorText_.empty()) errorText_ = reason.empty() ? "ERASE FAILED" : reason;
  withError_.store(true);
}

void TEraseThread::Finish() {
  device_.Erasing = false;
  if (Terminated()) return;  // the device is going away: nobody to tell
  // Delivered on the main thread without waiting for it: the main thread may itself be
  // waiting for this thread.
  TSCSIDevice* device = &device_;
  const bool withError = withError_.load();
  auto alive = deviceAlive_;
  PostToMainThread([device, withError, alive, text = errorText_] {
    if (!alive->load()) return;
    device->EraseErrorText = text;
    if (device->OnEraseDone) device->OnEraseDone(device, withError);
  });
}

}  // namespace brennix
