#include "device/cdb.h"

#include <ctime>

namespace brennix {

Cdb TestUnitReadyCdb() { return Cdb::Zeroed(op::TEST_UNIT_READY, 6); }

Cdb InquiryCdb(uint8_t allocationLength) {
  Cdb cdb = Cdb::Zeroed(op::INQUIRY, 6);
  cdb[4] = allocationLength;
  return cdb;
}

Cdb RequestSenseCdb(uint8_t length) {
  Cdb cdb = Cdb::Zeroed(op::REQUEST_SENSE, 6);
  cdb[4] = length;
  return cdb;
}

Cdb RezeroUnitCdb() { return Cdb::Zeroed(op::REZERO_UNIT, 6); }

Cdb FormatUnitCdb(uint8_t byte1) {
  Cdb cdb = Cdb::Zeroed(op::FORMAT_UNIT, 6);
  cdb[1] = byte1;
  return cdb;
}

Cdb ModeSense10Cdb(uint8_t page, bool defaults, uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::MODE_SENSE_10, 10);
  cdb[2] = static_cast<uint8_t>((page & 0x3F) | (defaults ? 0x80 : 0x00));
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb ModeSelect10Cdb(uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::MODE_SELECT_10, 10);
  cdb[1] = 0x10;  // page format
  // The whole 16-bit parameter list length: a list above 255 bytes must not be cut short.
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb GetConfigurationCdb(uint8_t rt, uint16_t feature, uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::GET_CONFIGURATION, 10);
  cdb[1] = rt & 0x03;
  WriteBE16(&cdb.Bytes[2], feature);
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb PreventAllowRemovalCdb(bool allow) {
  Cdb cdb = Cdb::Zeroed(op::PREVENT_ALLOW_REMOVAL, 6);
  cdb[4] = allow ? 0 : 1;
  return cdb;
}

Cdb StartStopUnitCdb(bool eject) {
  Cdb cdb = Cdb::Zeroed(op::START_STOP_UNIT, 6);
  cdb[4] = eject ? 0x02 : 0x03;
  return cdb;
}

Cdb ReadDiscInformationCdb(uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::READ_DISC_INFORMATION, 10);
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb ReadTrackInformationCdb(uint32_t track, uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::READ_TRACK_INFORMATION, 10);
  cdb[1] = 0x01;  // address is a track number
  WriteBE32(&cdb.Bytes[2], track);
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb ReadTocCdb(uint8_t format, uint8_t track, bool msf, uint8_t control, uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::READ_TOC, 10);
  cdb[1] = msf ? 0x02 : 0x00;
  cdb[2] = format & 0x0F;
  cdb[6] = track;
  cdb[8] = static_cast<uint8_t>(length > 255 ? 255 : length);
  cdb[9] = control;
  return cdb;
}

Cdb Read10Cdb(uint32_t address, uint16_t blocks) {
  Cdb cdb = Cdb::Zeroed(op::READ_10, 10);
  WriteBE32(&cdb.Bytes[2], address);
  WriteBE16(&cdb.Bytes[7], blocks);
  return cdb;
}

Cdb ReadCapacityCdb() { return Cdb::Zeroed(op::READ_CAPACITY, 10); }

Cdb ReadFormatCapacitiesCdb(uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::READ_FORMAT_CAPACITIES, 10);
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb BlankCdb(uint8_t type) {
  Cdb cdb = Cdb::Zeroed(op::BLANK, 12);
  cdb[1] = type;
  return cdb;
}

Cdb SetCDSpeedCdb(uint16_t readSpeed, uint16_t writeSpeed) {
  Cdb cdb = Cdb::Zeroed(op::SET_CD_SPEED, 12);
  WriteBE16(&cdb.Bytes[2], readSpeed == 0 ? 0xFFFF : readSpeed);
  WriteBE16(&cdb.Bytes[4], writeSpeed == 0 ? 0xFFFF : writeSpeed);
  return cdb;
}

Cdb SetStreamingCdb(uint16_t parameterListLength) {
  Cdb cdb = Cdb::Zeroed(op::SET_STREAMING, 12);
  WriteBE16(&cdb.Bytes[9], parameterListLength);
  return cdb;
}

Cdb SendTimestampCdb() {
  Cdb cdb = Cdb::Zeroed(op::SEND_DVD_STRUCTURE, 12);
  cdb[7] = 0x0F;  // format: time stamp
  WriteBE16(&cdb.Bytes[8], kTimestampLength);
  return cdb;
}

Cdb SendOPCCdb() {
  Cdb cdb = Cdb::Zeroed(op::SEND_OPC_INFORMATION, 10);
  cdb[1] = 0x01;  // do the calibration
  return cdb;
}

Cdb ReserveTrackCdb(uint32_t sectors) {
  Cdb cdb = Cdb::Zeroed(op::RESERVE_TRACK, 12);
  WriteBE32(&cdb.Bytes[5], sectors);
  return cdb;
}

Cdb ReadBufferCapacityCdb() {
  Cdb cdb = Cdb::Zeroed(op::READ_BUFFER_CAPACITY, 10);
  cdb[8] = kBufferCapacityLength;
  return cdb;
}

Cdb Write10Cdb(uint32_t lba, uint16_t sectors) {
  Cdb cdb = Cdb::Zeroed(op::WRITE_10, 10);
  WriteBE32(&cdb.Bytes[2], lba);
  WriteBE16(&cdb.Bytes[7], sectors);
  return cdb;
}

Cdb SynchronizeCacheCdb(bool immediate) {
  Cdb cdb = Cdb::Zeroed(op::SYNCHRONIZE_CACHE, 10);
  if (immediate) cdb[1] = 0x02;
  return cdb;
}

Cdb CloseTrackSessionCdb(bool immediate, uint8_t function, uint8_t byte3, uint8_t byte4,
                         uint8_t byte5) {
  Cdb cdb = Cdb::Zeroed(op::CLOSE_TRACK_SESSION, 10);
  if (immediate) cdb[1] = 0x01;
  cdb[2] = function;
  cdb[3] = byte3;
  cdb[4] = byte4;
  cdb[5] = byte5;
  return cdb;
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
