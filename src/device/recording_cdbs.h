// Command blocks and parameter data of the recording commands, built as pure functions so
// that every byte can be checked without a drive.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace brennix {

struct CommandBlock {
  std::array<uint8_t, 16> Bytes{};
  uint8_t Length = 0;
};

// Time-outs of the recording commands, in milliseconds.
constexpr uint32_t kSetCDSpeedTimeoutMs = 10000;
constexpr uint32_t kModeSenseTimeoutMs = 20000;
constexpr uint32_t kModeSelectTimeoutMs = 10000;
constexpr uint32_t kSetStreamingTimeoutMs = 10000;
constexpr uint32_t kSendTimestampTimeoutMs = 10000;
constexpr uint32_t kSendOPCTimeoutMs = 150000;
constexpr uint32_t kReserveTrackTimeoutMs = 10000;
constexpr uint32_t kReadBufferCapacityTimeoutMs = 10000;
constexpr uint32_t kWriteSectorsTimeoutMs = 120000;
constexpr uint32_t kCloseTrackSessionTimeoutMs = 180000;
constexpr uint32_t kFormatUnitTimeoutMs = 10000;
constexpr uint32_t kBlankTimeoutMs = 4800000;

constexpr uint32_t kStreamingDescriptorLength = 28;
constexpr uint32_t kTimestampLength = 22;
constexpr uint32_t kBufferCapacityLength = 32;
constexpr uint32_t kWriteParametersSenseLength = 512;

// 0 means "as fast as the drive can" and goes out as FFFFh.
CommandBlock BuildSetCDSpeed(uint16_t readSpeed, uint16_t writeSpeed);
CommandBlock BuildModeSenseWriteParameters();
CommandBlock BuildModeSelect10(uint16_t parameterListLength);
CommandBlock BuildSetStreaming(uint16_t parameterListLength);
CommandBlock BuildSendTimestamp();
CommandBlock BuildSendOPC();
CommandBlock BuildReserveTrack(uint32_t sectors);
CommandBlock BuildReadBufferCapacity();
CommandBlock BuildWrite10(uint32_t lba, uint16_t sectors);
CommandBlock BuildSynchronizeCache(bool immediate);
CommandBlock BuildCloseTrackSession(bool immediate, uint8_t function, uint8_t byte3, uint8_t byte4,
                                    uint8_t byte5);
// Close function 5 (finish) wins over 1 (track) over 2 (session).
CommandBlock BuildCloseSession(bool track, bool immediate, bool finish);
CommandBlock BuildFormatUnit(uint8_t byte1);
CommandBlock BuildBlank(uint8_t blankType, bool immediate);

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
