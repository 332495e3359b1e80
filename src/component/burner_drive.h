// The recording's view of the burner's device: each command a recording sends, forwarded
// to the TSCSIDevice operations, and the drive-buffer figures published for other threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "device/tray_lock.h"
#include "device/scsi_device.h"
#include "recording/recorder_drive.h"

namespace brennix {

class TBurnerDrive final : public TRecorderDrive {
 public:
  // bufferSize and freeSize receive every buffer figure, for readers on other threads.
  TBurnerDrive(TSCSIDevice& device, std::atomic<uint32_t>& bufferSize,
               std::atomic<uint32_t>& freeSize)
      : device_(device), bufferSize_(bufferSize), freeSize_(freeSize) {}

  // The recording's hold on the recorder: taken before the first command that changes the
  // disc, let go when the recording has ended (RecordingEnded) or did not start.
  DriveBusy HoldRecorder();
  void ReleaseRecorder() { hold_.reset(); }

  int16_t GetDiscType() override;
  uint16_t SessionCount() override { return device_.SessionCount(); }
  bool ReadDiscInformation() override;
  bool WaitReady(uint32_t budgetMs, uint32_t intervalMs) override;
  bool TestUnitReady(uint32_t timeoutMs) override { return device_.TestUnitReady(timeoutMs); }
  bool LoadTray() override { return device_.StartStopUnit(false); }
  bool RezeroUnit() override { return device_.RezeroUnit(); }
  bool AllowRemoval() override { return device_.PreventAllowRemoval(true); }
  bool SetCDSpeed(uint16_t readSpeed, uint16_t writeSpeed) override {
    return device_.SetCDSpeed(readSpeed, writeSpeed);
  }
  uint16_t QueryCurrentWriteSpeed() override { return device_.QueryCurrentWriteSpeed(); }
  uint16_t QueryMaxReadSpeed() override { return device_.QueryMaxReadSpeed(); }
  bool SetWriteParameters(bool testWrite, bool underrunProtection, bool closeFlag,
                          int16_t discType, bool finalizeDisc, bool lastSession) override;
  bool SetStreaming(uint32_t startLba, uint32_t endLba, uint32_t readSizeKB, uint32_t writeSizeKB,
                    uint32_t readTimeMs, uint32_t writeTimeMs) override {
    return device_.SetStreaming(startLba, endLba, readSizeKB, writeSizeKB, readTimeMs,
                                writeTimeMs);
  }
  bool SendStreamingDescriptor(const uint8_t* descriptor, uint32_t length) override {
    return device_.SendStreamingDescriptor(descriptor, static_cast<uint16_t>(length));
  }
  bool SendTimestamp() override;
  bool ReserveTrack(uint32_t sectors) override { return device_.ReserveTrack(sectors); }
  bool SendOPC() override { return device_.SendOPC(); }
  bool FormatUnit(const std::array<uint8_t, 12>& parameterList) override {
    return device_.FormatUnit(0x11, parameterList.data(),
                              static_cast<uint32_t>(parameterList.size()));
  }
  bool ReadBufferCapacity() override;
  uint32_t DeviceBufferSize() override { return bufferSize_.load(); }
  uint32_t DeviceFreeBufferSize() override { return freeSize_.load(); }
  void SetDeviceBufferSizes(uint32_t bufferSize, uint32_t freeSize) override;
  bool WriteSectors(uint32_t lba, uint16_t sectors, const uint8_t* data,
                    uint32_t byteCount) override {
    return device_.WriteSectors(lba, sectors, byteCount, data);
  }
  bool ReadSectors(uint32_t lba, uint16_t sectors, uint8_t* data, uint32_t byteCount) override {
    return device_.Read10(lba, sectors, data, byteCount) &&
           device_.LastDataTransferred() == byteCount;
  }
  bool SynchronizeCache(uint32_t timeoutMs, bool immediate) override {
    return device_.SynchronizeCache(timeoutMs, immediate);
  }
  bool CloseTrackSession(const CloseCommand& c) override {
    return device_.CloseTrackSession(c.Immediate, c.Function, c.Byte3, c.Byte4, c.Byte5);
  }
  bool CloseSession(bool track, bool immediate, bool finish) override {
    return device_.CloseSession(track, immediate, finish);
  }
  bool CloseImmediate() override { return brennix::CloseImmediate.load(); }
  bool TargetBusy() override { return device_.TargetBusy.load(); }
  // Fixed-format sense starts with response code 70h or 71h.
  bool HadSense() override { return (device_.LastSense[0] & 0x7E) == 0x70; }
  uint8_t LastAsc() override { return device_.LastSense[12]; }
  uint8_t LastSenseKey() override { return device_.LastSense[2] & 0x0F; }
  std::string LastErrorText() override { return device_.LastErrorText; }
  void SetErrorLogDone(bool done) override { device_.ErrorLogDone.store(done); }
  void RecordingEnded() override;
  void DebugMessage(const std::string& text, uint8_t type) override {
    device_.DebugMessage(text, type);
  }

 private:
  TSCSIDevice& device_;
  std::atomic<uint32_t>& bufferSize_;
  std::atomic<uint32_t>& freeSize_;
  std::unique_ptr<TDriveHold> hold_;
};

}  // namespace brennix
