#include "device/cdb.h"

#include <ctime>

namespace brennix {

Cdb TestUnitReadyCdb() { return Cdb::Zeroed(op::TEST_UNIT_READY, 6); }

Cdb InquiryCdb(uint8_t allocationLength) {
  return Cdb::Zeroed(op::INQUIRY, 6).Set(4, allocationLength);
}

Cdb RequestSenseCdb(uint8_t length) { return Cdb::Zeroed(op::REQUEST_SENSE, 6).Set(4, length); }

Cdb RezeroUnitCdb() { return Cdb::Zeroed(op::REZERO_UNIT, 6); }

Cdb FormatUnitCdb(uint8_t byte1) { return Cdb::Zeroed(op::FORMAT_UNIT, 6).Set(1, byte1); }

Cdb ModeSense10Cdb(uint8_t page, bool defaults, uint16_t length) {
  return Cdb::Zeroed(op::MODE_SENSE_10, 10)
      .Set(2, static_cast<uint8_t>((page & 0x3F) | (defaults ? 0x80 : 0x00)))
      .SetBE16(7, length);
}

Cdb ModeSelect10Cdb(uint16_t length) {
  // Byte 1: page format. The whole 16-bit parameter list length: a list above 255 bytes must
  // not be cut short.
  return Cdb::Zeroed(op::MODE_SELECT_10, 10).Set(1, 0x10).SetBE16(7, length);
}

Cdb GetConfigurationCdb(uint8_t rt, uint16_t feature, uint16_t length) {
  return Cdb::Zeroed(op::GET_CONFIGURATION, 10)
      .Set(1, rt & 0x03)
      .SetBE16(2, feature)
      .SetBE16(7, length);
}

Cdb PreventAllowRemovalCdb(bool allow) {
  return Cdb::Zeroed(op::PREVENT_ALLOW_REMOVAL, 6).Set(4, allow ? 0 : 1);
}

Cdb StartStopUnitCdb(bool eject) {
  return Cdb::Zeroed(op::START_STOP_UNIT, 6).Set(4, eject ? 0x02 : 0x03);
}

Cdb ReadDiscInformationCdb(uint16_t length) {
  return Cdb::Zeroed(op::READ_DISC_INFORMATION, 10).SetBE16(7, length);
}

Cdb ReadTrackInformationCdb(uint32_t track, uint16_t length) {
  // Byte 1: the address is a track number.
  return Cdb::Zeroed(op::READ_TRACK_INFORMATION, 10)
      .Set(1, 0x01)
      .SetBE32(2, track)
      .SetBE16(7, length);
}

Cdb ReadTocCdb(uint8_t format, uint8_t track, bool msf, uint8_t control, uint16_t length) {
  return Cdb::Zeroed(op::READ_TOC, 10)
      .Set(1, msf ? 0x02 : 0x00)
      .Set(2, format & 0x0F)
      .Set(6, track)
      .Set(8, static_cast<uint8_t>(length > 255 ? 255 : length))
      .Set(9, control);
}

Cdb Read10Cdb(uint32_t address, uint16_t blocks) {
  return Cdb::Zeroed(op::READ_10, 10).SetBE32(2, address).SetBE16(7, blocks);
}

Cdb ReadCapacityCdb() { return Cdb::Zeroed(op::READ_CAPACITY, 10); }

Cdb ReadFormatCapacitiesCdb(uint16_t length) {
  return Cdb::Zeroed(op::READ_FORMAT_CAPACITIES, 10).SetBE16(7, length);
}

Cdb BlankCdb(uint8_t type) { return Cdb::Zeroed(op::BLANK, 12).Set(1, type); }

Cdb SetCDSpeedCdb(uint16_t readSpeed, uint16_t writeSpeed) {
  return Cdb::Zeroed(op::SET_CD_SPEED, 12)
      .SetBE16(2, readSpeed == 0 ? 0xFFFF : readSpeed)
      .SetBE16(4, writeSpeed == 0 ? 0xFFFF : writeSpeed);
}

Cdb SetStreamingCdb(uint16_t parameterListLength) {
  return Cdb::Zeroed(op::SET_STREAMING, 12).SetBE16(9, parameterListLength);
}

Cdb SendTimestampCdb() {
  // Format 0Fh: time stamp.
  return Cdb::Zeroed(op::SEND_DVD_STRUCTURE, 12).Set(7, 0x0F).SetBE16(8, kTimestampLength);
}

Cdb SendOPCCdb() {
  // Byte 1 bit 0: do the calibration.
  return Cdb::Zeroed(op::SEND_OPC_INFORMATION, 10).Set(1, 0x01);
}

Cdb ReserveTrackCdb(uint32_t sectors) {
  return Cdb::Zeroed(op::RESERVE_TRACK, 12).SetBE32(5, sectors);
}

Cdb ReadBufferCapacityCdb() {
  return Cdb::Zeroed(op::READ_BUFFER_CAPACITY, 10).Set(8, kBufferCapacityLength);
}

Cdb Write10Cdb(uint32_t lba, uint16_t sectors) {
  return Cdb::Zeroed(op::WRITE_10, 10).SetBE32(2, lba).SetBE16(7, sectors);
}

Cdb SynchronizeCacheCdb(bool immediate) {
  return Cdb::Zeroed(op::SYNCHRONIZE_CACHE, 10).Set(1, immediate ? 0x02 : 0x00);
}

Cdb CloseTrackSessionCdb(bool immediate, uint8_t function, uint8_t byte3, uint8_t byte4,
                         uint8_t byte5) {
  return Cdb::Zeroed(op::CLOSE_TRACK_SESSION, 10)
      .Set(1, immediate ? 0x01 : 0x00)
      .Set(2, function)
      .Set(3, byte3)
      .Set(4, byte4)
      .Set(5, byte5);
}

Cdb CloseSessionCdb(bool track, bool immediate, bool finish) {
  return CloseTrackSessionCdb(immediate, finish ? 5 : (track ? 1 : 2), 0, 0, track ? 0xFF : 0);
}

std::array<uint8_t, kStreamingDescriptorLength> BuildStreamingDescriptor(
    uint32_t endLba, uint32_t readSizeKB, uint32_t writeSizeKB, uint32_t readTimeMs,
    uint32_t writeTimeMs) {
  std::array<uint8_t, kStreamingDescriptorLength> d{};
  // Bytes 0-3: flags and reserved; 4-7: start LBA, always 0.
  WriteBE32(&d[8], endLba);
  WriteBE32(&d[12], readSizeKB);
  WriteBE32(&d[16], readTimeMs);
  WriteBE32(&d[20], writeSizeKB);
  WriteBE32(&d[24], writeTimeMs);
  return d;
}

std::array<uint8_t, kTimestampLength> BuildTimestamp(const std::string& digits) {
  std::array<uint8_t, kTimestampLength> t{};
  WriteBE16(&t[0], kTimestampLength - 2);
  if (digits.size() == 14) {
    for (size_t i = 0; i < 14; ++i) t[8 + i] = static_cast<uint8_t>(digits[i]);
  }
  return t;
}

std::string TimestampDigitsNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return {};
  char text[32] = {};
  if (std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local) != 14) return {};
  return text;
}

}  // namespace brennix
