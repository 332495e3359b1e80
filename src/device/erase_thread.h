// The worker that follows a running erase: waits for the drive, zero-fills what formatting
// leaves, publishes an estimated progress, restores the drive and reports the end.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/thread.h"

namespace brennix {

class TSCSIDevice;
class TDriveHold;

class TEraseThread final : public TThread {
 public:
  // Bound of the wait for a DVD+RW to finish its background format before the zero fill.
  static constexpr double kDvdPlusRwFormatWaitPasses = 1800;  // 2-second passes: one hour

  // deviceAlive turns false when the device goes away; a queued event then stays silent.
  // hold (optional) is let go once the drive has been restored, before the event.
  TEraseThread(TSCSIDevice& device, int16_t eraseDiscType, uint8_t blankType, uint16_t estimate,
               std::shared_ptr<std::atomic<bool>> deviceAlive,
               std::unique_ptr<TDriveHold> hold = nullptr);
  ~TEraseThread() override;  // stops the loops early and joins

  int Progress() const { return progress_.load(); }
  // The zero fill runs: the one part of an erase that the program, not the drive, carries
  // out, and so the one part that can be stopped.
  bool Filling() const { return filling_.load(); }
  // Ends the zero fill after the block being written; the erase then finishes as usual
  // (the drive restored, the end reported) and counts as failed.
  void StopFill() { stopFill_.store(true); }

 protected:
  void Execute() override;

 private:
  void Update();
  bool NotReady() const;
  bool Nap(uint32_t ms);  // false when asked to stop
  bool TestReady();       // TestUnitReady(5000)
  bool ZeroFill(uint32_t lastAddress);
  void WaitDvdRw();
  void FollowDvdPlusRw();
  void WaitAfterwards();
  void RestoreDrive();
  void Finish();
  // Marks the erase failed; the first reason given is the one reported.
  void Fail(const std::string& reason);

  TSCSIDevice& device_;
  const int16_t eraseDiscType_;
  const uint8_t blankType_;
  const uint16_t estimate_;
  const std::shared_ptr<std::atomic<bool>> deviceAlive_;
  double elapsed_ = 0;
  // Zeros of its own: the device's transfer buffer also carries MODE SENSE answers, and
  // nothing but zeros may reach the disc.
  const std::vector<uint8_t> zeros_;
  std::atomic<int> progress_{0};
  std::atomic<bool> withError_{false};
  std::atomic<bool> filling_{false};
  std::atomic<bool> stopFill_{false};
  std::unique_ptr<TDriveHold> hold_;
  std::string errorText_;  // this thread's alone until Finish hands it over
};

}  // namespace brennix
