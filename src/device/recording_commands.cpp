// The recording commands of the device: speeds, the write parameters page, streaming, time
// stamp, power calibration, track reservation, the drive buffer, writing, flushing, closing.
#include <algorithm>
#include <cstring>

#include "device/cdb.h"
#include "device/disc_answers.h"
#include "device/disc_types.h"
#include "device/scsi_device.h"
#include "device/write_parameters.h"

namespace brennix {

bool TSCSIDevice::SetCDSpeed(uint16_t readSpeed, uint16_t writeSpeed) {
  return RunCommand(SetCDSpeedCdb(readSpeed, writeSpeed), DataDirection::None, nullptr, 0,
                    kSetCDSpeedTimeoutMs);
}

void TSCSIDevice::SetWriteSpeed(uint16_t value) {
  SetCDSpeed(ReadSpeed, value);
  WriteSpeed = value;
}

bool TSCSIDevice::SetWriteParameters(bool testWrite, bool underrunProtection, bool closeFlag,
                                     int discType, bool lastSession) {
  // A DVD-RAM takes no write parameters page.
  if (discType == kDiscDvdRam) return true;

  uint8_t answer[kWriteParametersSenseLength] = {};
  if (!RunCommand(ModeSense10Cdb(kWriteParametersPage, false, kWriteParametersSenseLength),
                  DataDirection::In, answer, sizeof answer, kModeSenseTimeoutMs))
    return false;

  const WriteParameterOptions o{
      .TestWrite = testWrite, .UnderrunProtection = underrunProtection, .CloseFlag = closeFlag,
      .DiscType = discType, .FinalizeDisc = FinalizeDisc, .LastSession = lastSession,
      .TestWriteCapable = (Capabilities & cap::TestWriteCapable) != 0,
      .UnderrunFree = (Capabilities & cap::UnderrunFree) != 0,
      .BufferUnderrunCapable = (CapabilityPage[4] & 0x80) != 0, .LinkSizeQuirk = LinkSizeQuirk};
  const auto built = BuildWriteParameters(Received(answer, sizeof answer), o);
  if (!built) {
    // Sending back a page we could not find would hand the drive garbage.
    LastErrorText = "NO WRITE PARAMETERS PAGE";
    return false;
  }
  std::memcpy(WriteParametersPage, built->Page.data(), sizeof WriteParametersPage);
  return ModeSelect10(built->SelectData.data(), kWriteParametersSelectLength);
}

bool TSCSIDevice::SendStreamingDescriptor(const void* buffer, uint16_t length) {
  const uint16_t n = std::min<uint16_t>(length, sizeof ParameterBuffer);
  std::memset(ParameterBuffer, 0, sizeof ParameterBuffer);
  if (buffer != nullptr) std::memcpy(ParameterBuffer, buffer, n);
  return RunCommand(SetStreamingCdb(n), DataDirection::Out, ParameterBuffer, n,
                    kSetStreamingTimeoutMs);
}

bool TSCSIDevice::SetStreaming(uint32_t /*startLBA*/, uint32_t endLBA, uint32_t readSize,
                               uint32_t writeSize, uint32_t readTime, uint32_t writeTime) {
  // The descriptor always starts at LBA 0: drives apply it from the start of the disc.
  const auto d = BuildStreamingDescriptor(endLBA, readSize, writeSize, readTime, writeTime);
  return SendStreamingDescriptor(d.data(), static_cast<uint16_t>(d.size()));
}

bool TSCSIDevice::SendTimestamp(const std::string& digits) {
  const auto t = BuildTimestamp(digits);
  std::memset(ParameterBuffer, 0, sizeof ParameterBuffer);
  std::memcpy(ParameterBuffer, t.data(), t.size());
  return RunCommand(SendTimestampCdb(), DataDirection::Out, ParameterBuffer,
                    kTimestampLength, kSendTimestampTimeoutMs);
}

bool TSCSIDevice::SendOPC() {
  return RunCommand(SendOPCCdb(), DataDirection::None, nullptr, 0, kSendOPCTimeoutMs);
}

bool TSCSIDevice::ReserveTrack(uint32_t sectors) {
  return RunCommand(ReserveTrackCdb(sectors), DataDirection::None, nullptr, 0,
                    kReserveTrackTimeoutMs);
}

bool TSCSIDevice::ReadBufferCapacity(uint32_t& bufferLength, uint32_t& blankLength) {
  uint8_t answer[kBufferCapacityLength] = {};
  std::optional<BufferCapacity> parsed;
  if (RunCommand(ReadBufferCapacityCdb(), DataDirection::In, answer, sizeof answer,
                 kReadBufferCapacityTimeoutMs)) {
    parsed = ParseBufferCapacity(Received(answer, sizeof answer));
  }
  if (!parsed) {
    DeviceFreeBufferSize = 0;
    bufferLength = DeviceBufferSize;
    blankLength = 0;
    return false;
  }
  DeviceBufferSize = parsed->BufferLength;
  DeviceFreeBufferSize = parsed->BlankLength;
  bufferLength = parsed->BufferLength;
  blankLength = parsed->BlankLength;
  return true;
}

bool TSCSIDevice::WriteSectors(uint32_t lba, uint16_t sectors, uint32_t byteCount,
                               const void* buffer) {
  // The data only goes out; the transport's buffer parameter is not const.
  return RunCommand(Write10Cdb(lba, sectors), DataDirection::Out,
                    const_cast<void*>(buffer), byteCount, kWriteSectorsTimeoutMs);
}

bool TSCSIDevice::SynchronizeCache(uint32_t timeout, bool immediate) {
  return RunCommand(SynchronizeCacheCdb(immediate), DataDirection::None, nullptr, 0,
                    timeout);
}

bool TSCSIDevice::CloseTrackSession(bool immediate, uint8_t function, uint8_t byte3,
                                    uint8_t byte4, uint8_t byte5) {
  return RunCommand(CloseTrackSessionCdb(immediate, function, byte3, byte4, byte5),
                    DataDirection::None, nullptr, 0, kCloseTrackSessionTimeoutMs);
}

bool TSCSIDevice::CloseSession(bool track, bool immediate, bool finish) {
  return RunCommand(CloseSessionCdb(track, immediate, finish), DataDirection::None,
                    nullptr, 0, kCloseTrackSessionTimeoutMs);
}

}  // namespace brennix
