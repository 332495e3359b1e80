// Command descriptor blocks of the device layer and the parameter data sent with them, built
// as plain values by pure functions so that every byte can be checked without a drive.
// Multi-byte fields are big-endian.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "platform/disc_units.h"

namespace brennix {

struct Cdb {
  uint8_t Bytes[16] = {};
  uint8_t Length = 0;

  Cdb() = default;
  // Cdb{0x12, 0, 0, 0, 0x80, 0}: the length is the number of bytes given.
  Cdb(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) {
      if (Length < 16) Bytes[Length++] = b;
    }
  }
  // A zeroed CDB of the given length with its operation code.
  static Cdb Zeroed(uint8_t opcode, uint8_t length) {
    Cdb cdb;
    cdb.Length = length > 16 ? 16 : length;
    cdb.Bytes[0] = opcode;
    return cdb;
  }
  uint8_t& operator[](unsigned i) { return Bytes[i & 15]; }
  uint8_t operator[](unsigned i) const { return Bytes[i & 15]; }
  // Field setters that return the block, so that a builder is one expression. A field that
  // would reach past the 16 bytes is not written.
  Cdb& Set(unsigned at, uint8_t value) {
    (*this)[at] = value;
    return *this;
  }
  Cdb& SetBE16(unsigned at, uint16_t value) {
    if (at <= 14) WriteBE16(&Bytes[at], value);
    return *this;
  }
  Cdb& SetBE32(unsigned at, uint32_t value) {
    if (at <= 12) WriteBE32(&Bytes[at], value);
    return *this;
  }
};

// Time-outs of the recording commands, in milliseconds.
constexpr uint32_t kSetCDSpeedTimeoutMs = 10000;
constexpr uint32_t kModeSenseTimeoutMs = 20000;
constexpr uint32_t kSetStreamingTimeoutMs = 10000;
constexpr uint32_t kSendTimestampTimeoutMs = 10000;
constexpr uint32_t kSendOPCTimeoutMs = 150000;
constexpr uint32_t kReserveTrackTimeoutMs = 10000;
constexpr uint32_t kReadBufferCapacityTimeoutMs = 10000;
constexpr uint32_t kWriteSectorsTimeoutMs = 120000;
constexpr uint32_t kCloseTrackSessionTimeoutMs = 180000;

constexpr uint8_t kWriteParametersPage = 0x05;
constexpr uint32_t kStreamingDescriptorLength = 28;
constexpr uint32_t kTimestampLength = 22;
constexpr uint32_t kBufferCapacityLength = 32;
constexpr uint32_t kWriteParametersSenseLength = 512;

Cdb TestUnitReadyCdb();
Cdb InquiryCdb(uint8_t allocationLength);
Cdb RequestSenseCdb(uint8_t length);
Cdb RezeroUnitCdb();
Cdb FormatUnitCdb(uint8_t byte1);
Cdb ModeSense10Cdb(uint8_t page, bool defaults, uint16_t length);
Cdb ModeSelect10Cdb(uint16_t length);
Cdb GetConfigurationCdb(uint8_t rt, uint16_t feature, uint16_t length);
Cdb PreventAllowRemovalCdb(bool allow);
Cdb StartStopUnitCdb(bool eject);
Cdb ReadDiscInformationCdb(uint16_t length);
Cdb ReadTrackInformationCdb(uint32_t track, uint16_t length);
Cdb ReadTocCdb(uint8_t format, uint8_t track, bool msf, uint8_t control, uint16_t length);
Cdb Read10Cdb(uint32_t address, uint16_t blocks);
Cdb ReadCapacityCdb();
Cdb ReadFormatCapacitiesCdb(uint16_t length);
Cdb BlankCdb(uint8_t type);
// 0 means "as fast as the drive can" and goes out as FFFFh.
Cdb SetCDSpeedCdb(uint16_t readSpeed, uint16_t writeSpeed);
Cdb SetStreamingCdb(uint16_t parameterListLength);
Cdb SendTimestampCdb();
Cdb SendOPCCdb();
Cdb ReserveTrackCdb(uint32_t sectors);
Cdb ReadBufferCapacityCdb();
Cdb Write10Cdb(uint32_t lba, uint16_t sectors);
Cdb SynchronizeCacheCdb(bool immediate);
Cdb CloseTrackSessionCdb(bool immediate, uint8_t function, uint8_t byte3, uint8_t byte4,
                         uint8_t byte5);
// Close function 5 (finish) wins over 1 (track) over 2 (session).
Cdb CloseSessionCdb(bool track, bool immediate, bool finish);

// The 28-byte performance descriptor of SET STREAMING; the start LBA is always 0.
std::array<uint8_t, kStreamingDescriptorLength> BuildStreamingDescriptor(
    uint32_t endLba, uint32_t readSizeKB, uint32_t writeSizeKB, uint32_t readTimeMs,
    uint32_t writeTimeMs);

// The 22-byte time stamp structure; digits are the 14 characters "yyyymmddhhnnss".
// Digits that are not 14 long leave the time part zero rather than read past them.
std::array<uint8_t, kTimestampLength> BuildTimestamp(const std::string& digits);
std::string TimestampDigitsNow();

// The 12-byte FORMAT UNIT parameter lists of the erase.
constexpr std::array<uint8_t, 12> kDvdRamFullFormatList = {0x00, 0x82, 0x00, 0x08, 0x00, 0x22,
                                                           0x21, 0x20, 0x00, 0x00, 0x08, 0x00};
constexpr std::array<uint8_t, 12> kDvdPlusRwFormatList = {0x00, 0x82, 0x00, 0x08, 0x00, 0x23,
                                                          0x05, 0x40, 0x98, 0x00, 0x00, 0x00};

}  // namespace brennix
