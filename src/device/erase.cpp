// Starting an erase: the medium decides between BLANK, FORMAT UNIT and writing zeros; the
// erase thread follows the operation to its end.
#include <memory>
#include <vector>

#include "device/disc_types.h"
#include "device/tray_lock.h"
#include "device/erase_plan.h"
#include "device/erase_thread.h"
#include "device/cdb.h"
#include "device/scsi_device.h"
#include "platform/clock.h"
#include "platform/disc_units.h"

namespace brennix {

void TSCSIDevice::EraseThreadDeleter::operator()(TEraseThread* thread) const { delete thread; }

int TSCSIDevice::EraseProgress() const {
  if (!Erasing || !eraseThread_) return 0;
  return eraseThread_->Progress();
}

bool TSCSIDevice::EraseStoppable() const {
  return Erasing && eraseThread_ && eraseThread_->Filling();
}

void TSCSIDevice::StopErase() {
  if (Erasing && eraseThread_) eraseThread_->StopFill();
}

bool TSCSIDevice::StartErase(uint8_t blankType) {
  // A second erase on the same drive would pull the thread object from under the first.
  if (Erasing) return false;
  EraseErrorText.clear();
  // The previous thread has cleared Erasing and is about to return; its event, if still
  // queued, is delivered all the same.
  eraseThread_.reset();

  TestUnitReady(5000);
  StartStopUnit(false);
  const int16_t t = static_cast<int16_t>(GetDiscType());
  DiscType = t;
  BlankType = blankType;
  if (!TestUnitReady(5000) && !WaitReady(30000, 5000)) return false;

  // Held from here until the erase thread has restored the drive.
  auto hold = std::make_unique<TDriveHold>(*this);
  if (!hold->Held()) {
    LastErrorText = DriveBusyText(hold->Busy());
    DebugMessage(LastErrorText, 0);
    Erasing = false;
    if (OnEraseDone) OnEraseDone(this, true);
    return false;
  }

  if (t != kDiscDvdRam) {
    SetCDSpeed(ReadSpeed, WriteSpeed);
    SetWriteParameters(false, false, false, t);
  }
  const uint16_t speed = QueryCurrentWriteSpeed();
  if (!TestUnitReady(5000) && !WaitReady(30000, 5000)) return false;  // the hold lets go
  DebugMessage(std::string(">>> STARTING ERASE PROCESS ON ") + DiscTypeName(t) + " AT " +
                   EraseSpeedText(t, speed),
               1);

  bool started = false;
  if (t == kDiscDvdPlusRw) {
    started = FormatUnit(0x11, kDvdPlusRwFormatList.data(), kDvdPlusRwFormatList.size());
    if (!started) {
      RezeroUnit();
      SleepMs(1000);
      started = FormatUnit(0x11, kDvdPlusRwFormatList.data(), kDvdPlusRwFormatList.size());
    }
  } else if (t == kDiscDvdRam && blankType == kBlankQuick) {
    // Whole blocks of zeros: nothing left over from another command may reach the disc.
    const std::vector<uint8_t> zeros(size_t{kZeroFillBlocks} * kSectorSize, 0);
    for (uint32_t address = 0; address <= kDvdRamStartZeroFillLast; address += kZeroFillBlocks)
      WriteSectors(address, kZeroFillBlocks, kZeroFillBlocks * kSectorSize, zeros.data());
    SynchronizeCache(30000, false);
    started = true;
  } else if (t == kDiscDvdRam) {
    started = FormatUnit(0x11, kDvdRamFullFormatList.data(), kDvdRamFullFormatList.size());
  } else {
    // Immediate: the drive accepts the command at once and the thread follows it.
    started = Blank(static_cast<uint8_t>((blankType & 0x07) | 0x10));
  }

  if (!started) {
    hold.reset();
    Erasing = false;
    EraseErrorText = LastErrorText.empty() ? "ERASE FAILED" : LastErrorText;
    if (OnEraseDone) OnEraseDone(this, true);
    return false;
  }
  eraseThread_.reset(new TEraseThread(*this, t, blankType, EraseEstimate(t, blankType),
                                      eraseGate_.Alive, std::move(hold)));
  Erasing = true;
  eraseThread_->Resume();
  return true;
}

}  // namespace brennix
