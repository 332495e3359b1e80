// What a recording asks of the recorder: the device commands that the write preparation,
// the writer thread and the close sequences send, with the outcome of the last failed one.
// The burner component answers it with its device; tests answer it with a scripted drive.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "recording/write_preparation.h"

namespace brennix {

class TRecorderDrive {
 public:
  virtual ~TRecorderDrive() = default;

  // Disc state.
  virtual int16_t GetDiscType() = 0;  // also refreshes the process-wide DiscType
  virtual uint16_t SessionCount() = 0;
  virtual bool ReadDiscInformation() = 0;
  virtual bool WaitReady(uint32_t budgetMs, uint32_t intervalMs) = 0;
  virtual bool TestUnitReady(uint32_t timeoutMs) = 0;

  // Unit and tray.
  virtual bool LoadTray() = 0;
  virtual bool RezeroUnit() = 0;
  virtual bool AllowRemoval() = 0;

  // Speeds, KB/s; 0 = the drive's maximum.
  virtual bool SetCDSpeed(uint16_t readSpeed, uint16_t writeSpeed) = 0;
  virtual uint16_t QueryCurrentWriteSpeed() = 0;
  virtual uint16_t QueryMaxReadSpeed() = 0;

  // Recording set-up. The page is built with closeFlag and, for this one call, with
  // finalizeDisc as the component's "Close Disc" choice; lastSession when it precedes the
  // close of a session that ends the disc.
  virtual bool SetWriteParameters(bool testWrite, bool underrunProtection, bool closeFlag,
                                  int16_t discType, bool finalizeDisc, bool lastSession) = 0;
  virtual bool SetStreaming(uint32_t startLba, uint32_t endLba, uint32_t readSizeKB,
                            uint32_t writeSizeKB, uint32_t readTimeMs, uint32_t writeTimeMs) = 0;
  virtual bool SendStreamingDescriptor(const uint8_t* descriptor, uint32_t length) = 0;
  virtual bool SendTimestamp() = 0;  // the current local time
  virtual bool ReserveTrack(uint32_t sectors) = 0;
  virtual bool SendOPC() = 0;
  virtual bool FormatUnit(const std::array<uint8_t, 12>& parameterList) = 0;

  // Drive buffer, bytes. ReadBufferCapacity refreshes both figures.
  virtual bool ReadBufferCapacity() = 0;
  virtual uint32_t DeviceBufferSize() = 0;
  virtual uint32_t DeviceFreeBufferSize() = 0;
  virtual void SetDeviceBufferSizes(uint32_t bufferSize, uint32_t freeSize) = 0;

  // Data and closing.
  virtual bool WriteSectors(uint32_t lba, uint16_t sectors, const uint8_t* data,
                            uint32_t byteCount) = 0;
  virtual bool SynchronizeCache(uint32_t timeoutMs, bool immediate) = 0;
  // READ(10) of whole sectors into data; false unless all byteCount bytes came back.
  virtual bool ReadSectors(uint32_t lba, uint16_t sectors, uint8_t* data, uint32_t byteCount) = 0;
  virtual bool CloseTrackSession(const CloseCommand& command) = 0;
  virtual bool CloseSession(bool track, bool immediate, bool finish) = 0;
  virtual bool CloseImmediate() = 0;  // the drive wants CLOSE SESSION with the immediate bit

  // The last failed command. HadSense: the drive answered with sense data (it may still
  // say nothing more than ASC 00h); false when it did not answer at all.
  virtual bool TargetBusy() = 0;
  virtual bool HadSense() = 0;
  virtual uint8_t LastAsc() = 0;
  virtual uint8_t LastSenseKey() { return 0; }
  virtual std::string LastErrorText() = 0;

  // Failed-command logging gate, and the end of a recording (the device may close its
  // handle after every command again).
  virtual void SetErrorLogDone(bool done) = 0;
  virtual void RecordingEnded() = 0;
  virtual void DebugMessage(const std::string& text, uint8_t type) = 0;
};

// The sense key of a read of a sector that no recording reached.
constexpr uint8_t kSenseBlankCheck = 0x08;

// A WRITE that failed this way is worth repeating after a pause: the drive is busy, not
// ready yet, or answered without a reason. A drive that did not answer at all is not: each
// try would wait out the whole command time-out, ten thousand times over.
inline bool IsTransientWriteFailure(TRecorderDrive& drive) {
  if (drive.TargetBusy()) return true;
  const uint8_t asc = drive.LastAsc();
  return drive.HadSense() && (asc == 0x04 || asc == 0x00);
}

}  // namespace brennix
