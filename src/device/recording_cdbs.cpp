#include "device/recording_cdbs.h"

#include <ctime>

namespace brennix {

namespace {

CommandBlock Block(uint8_t length, uint8_t opcode) {
  CommandBlock b;
  b.Length = length;
  b.Bytes[0] = opcode;
  return b;
}

void Put16(CommandBlock& b, size_t at, uint16_t v) {
  b.Bytes[at] = static_cast<uint8_t>(v >> 8);
  b.Bytes[at + 1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

CommandBlock BuildSetCDSpeed(uint16_t readSpeed, uint16_t writeSpeed) {
  CommandBlock b = Block(12, 0xBB);
  Put16(b, 2, readSpeed == 0 ? 0xFFFF : readSpeed);
  Put16(b, 4, writeSpeed == 0 ? 0xFFFF : writeSpeed);
  return b;
}

CommandBlock BuildModeSenseWriteParameters() {
  CommandBlock b = Block(10, 0x5A);
  b.Bytes[2] = 0x05;
  Put16(b, 7, kWriteParametersSenseLength);
  return b;
}

CommandBlock BuildModeSelect10(uint16_t parameterListLength) {
  CommandBlock b = Block(10, 0x55);
  b.Bytes[1] = 0x10;
  Put16(b, 7, parameterListLength);
  return b;
}

CommandBlock BuildSetStreaming(uint16_t parameterListLength) {
  CommandBlock b = Block(12, 0xB6);
  Put16(b, 9, parameterListLength);
  return b;
}

CommandBlock BuildSendTimestamp() {
  CommandBlock b = Block(12, 0xBF);
  b.Bytes[7] = 0x0F;
  Put16(b, 8, kTimestampLength);
  return b;
}

CommandBlock BuildSendOPC() {
  CommandBlock b = Block(10, 0x54);
  b.Bytes[1] = 0x01;
  return b;
}

CommandBlock BuildReserveTrack(uint32_t sectors) {
  CommandBlock b = Block(12, 0x53);
  Put32(&b.Bytes[5], sectors);
  return b;
}

CommandBlock BuildReadBufferCapacity() {
  CommandBlock b = Block(10, 0x5C);
  b.Bytes[8] = kBufferCapacityLength;
  return b;
}

CommandBlock BuildWrite10(uint32_t lba, uint16_t sectors) {
  CommandBlock b = Block(10, 0x2A);
  Put32(&b.Bytes[2], lba);
  Put16(b, 7, sectors);
  return b;
}

CommandBlock BuildSynchronizeCache(bool immediate) {
  CommandBlock b = Block(10, 0x35);
  if (immediate) b.Bytes[1] = 0x02;
  return b;
}

CommandBlock BuildCloseTrackSession(bool immediate, uint8_t function, uint8_t byte3, uint8_t byte4,
                                    uint8_t byte5) {
  CommandBlock b = Block(10, 0x5B);
  if (immediate) b.Bytes[1] = 0x01;
  b.Bytes[2] = function;
  b.Bytes[3] = byte3;
  b.Bytes[4] = byte4;
  b.Bytes[5] = byte5;
  return b;
}

CommandBlock BuildCloseSession(bool track, bool immediate, bool finish) {
  CommandBlock b = Block(10, 0x5B);
  if (immediate) b.Bytes[1] = 0x01;
  b.Bytes[2] = finish ? 5 : (track ? 1 : 2);
  if (track) b.Bytes[5] = 0xFF;
  return b;
}

CommandBlock BuildFormatUnit(uint8_t byte1) {
  CommandBlock b = Block(6, 0x04);
  b.Bytes[1] = byte1;
  return b;
}

CommandBlock BuildBlank(uint8_t blankType, bool immediate) {
  CommandBlock b = Block(12, 0xA1);
  b.Bytes[1] = static_cast<uint8_t>((blankType & 0x07) | (immediate ? 0x10 : 0x00));
  return b;
}

std::array<uint8_t, kStreamingDescriptorLength> BuildStreamingDescriptor(
    uint32_t endLba, uint32_t readSizeKB, uint32_t writeSizeKB, uint32_t readTimeMs,
    uint32_t writeTimeMs) {
  std::array<uint8_t, kStreamingDescriptorLength> d{};
  // Bytes 0-3: flags and reserved; 4-7: start LBA, always 0.
  Put32(&d[8], endLba);
  Put32(&d[12], readSizeKB);
  Put32(&d[16], readTimeMs);
  Put32(&d[20], writeSizeKB);
  Put32(&d[24], writeTimeMs);
  return d;
}

std::array<uint8_t, kTimestampLength> BuildTimestamp(const std::string& digits) {
  std::array<uint8_t, kTimestampLength> t{};
  t[0] = 0x00;
  t[1] = 0x14;
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
