// The units every layer shares: the data sector, the byte orders of drive answers and of
// ISO 9660 fields, and the operation codes of the commands the device layer sends and the
// virtual recorder answers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brennix {

// The user data of one sector of a data disc (CD mode 1, DVD, and an ISO 9660 logical block).
constexpr int32_t kSectorSize = 2048;

// Big-endian: drive answers and command blocks.
constexpr uint16_t ReadBE16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
constexpr uint32_t ReadBE24(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
constexpr uint32_t ReadBE32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
constexpr void WriteBE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
constexpr void WriteBE24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
constexpr void WriteBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Little-endian, and ISO 9660's both-byte-order fields (little-endian, then big-endian).
constexpr uint16_t ReadLE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
constexpr uint32_t ReadLE32(const uint8_t* p) {
  return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
constexpr void WriteLE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
constexpr void WriteLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
constexpr void WriteBoth16(uint8_t* p, uint32_t v) {  // 4 bytes
  WriteLE16(p, v);
  WriteBE16(p + 2, v);
}
constexpr void WriteBoth32(uint8_t* p, uint32_t v) {  // 8 bytes
  WriteLE32(p, v);
  WriteBE32(p + 4, v);
}

// Operation codes.
namespace op {
constexpr uint8_t TEST_UNIT_READY = 0x00, REZERO_UNIT = 0x01, REQUEST_SENSE = 0x03,
                  FORMAT_UNIT = 0x04, INQUIRY = 0x12, START_STOP_UNIT = 0x1B,
                  PREVENT_ALLOW_REMOVAL = 0x1E, READ_FORMAT_CAPACITIES = 0x23,
                  READ_CAPACITY = 0x25, READ_10 = 0x28, WRITE_10 = 0x2A,
                  SYNCHRONIZE_CACHE = 0x35, READ_TOC = 0x43, GET_CONFIGURATION = 0x46,
                  READ_DISC_INFORMATION = 0x51, READ_TRACK_INFORMATION = 0x52,
                  RESERVE_TRACK = 0x53, SEND_OPC_INFORMATION = 0x54, MODE_SELECT_10 = 0x55,
                  MODE_SENSE_10 = 0x5A, CLOSE_TRACK_SESSION = 0x5B,
                  READ_BUFFER_CAPACITY = 0x5C, BLANK = 0xA1, SET_STREAMING = 0xB6,
                  SET_CD_SPEED = 0xBB, SEND_DVD_STRUCTURE = 0xBF;
}  // namespace op

}  // namespace brennix
