// The units every layer shares: the data sector, the byte orders of drive answers and of
// ISO 9660 fields, and the operation codes of the commands the device layer sends and the
// virtual recorder answers.
#pragma once

#include <cstdint>

namespace brennix {

// The user data of one sector of a data disc (CD mode 1, DVD, and an ISO 9660 logical block).
constexpr int32_t kSectorSize = 2048;

// Big-endian: drive answers and command blocks.
constexpr uint16_t ReadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
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
// Named in the command log but never sent.
constexpr uint8_t SEEK_10 = 0x2B, WRITE_AND_VERIFY_10 = 0x2E, VERIFY_10 = 0x2F,
                  READ_SUB_CHANNEL = 0x42, PLAY_AUDIO_10 = 0x45, PLAY_AUDIO_MSF = 0x47,
                  GET_EVENT_STATUS_NOTIFICATION = 0x4A, PAUSE_RESUME = 0x4B,
                  STOP_PLAY_SCAN = 0x4E, REPAIR_TRACK = 0x58, SEND_CUE_SHEET = 0x5D,
                  SEND_EVENT = 0xA2, SEND_KEY = 0xA3, REPORT_KEY = 0xA4, PLAY_AUDIO_12 = 0xA5,
                  LOAD_UNLOAD_MEDIUM = 0xA6, SET_READ_AHEAD = 0xA7, READ_12 = 0xA8,
                  WRITE_12 = 0xAA, GET_PERFORMANCE = 0xAC, READ_DVD_STRUCTURE = 0xAD,
                  READ_CD_MSF = 0xB9, SCAN = 0xBA, MECHANISM_STATUS = 0xBD, READ_CD = 0xBE;
}  // namespace op

}  // namespace brennix
