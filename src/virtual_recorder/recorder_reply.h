// Internal to the virtual recorder: the answer of one command while it is built, and the
// sense codes the command handlers answer with.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/disc_units.h"
#include "virtual_recorder/virtual_recorder.h"

namespace brennix {

namespace sense {
// Sense codes the recorder answers with.
struct Code {
  uint8_t key;
  uint8_t asc;
  uint8_t ascq;
};
constexpr Code kInvalidOpcode{0x05, 0x20, 0x00};
constexpr Code kInvalidField{0x05, 0x24, 0x00};
constexpr Code kInvalidParameter{0x05, 0x26, 0x00};
constexpr Code kParameterLength{0x05, 0x1A, 0x00};
constexpr Code kLbaOutOfRange{0x05, 0x21, 0x00};
constexpr Code kInvalidWriteAddress{0x05, 0x21, 0x02};
constexpr Code kSequenceError{0x05, 0x2C, 0x00};
constexpr Code kSavingNotSupported{0x05, 0x39, 0x00};
constexpr Code kRemovalPrevented{0x05, 0x53, 0x02};
constexpr Code kIllegalModeForTrack{0x05, 0x64, 0x00};
constexpr Code kCannotReadIncompatible{0x05, 0x30, 0x02};
constexpr Code kCannotWriteIncompatible{0x05, 0x30, 0x05};
constexpr Code kNotFormatted{0x02, 0x30, 0x10};
constexpr Code kNoMediumTrayClosed{0x02, 0x3A, 0x01};
constexpr Code kNoMediumTrayOpen{0x02, 0x3A, 0x02};
constexpr Code kWriteError{0x03, 0x0C, 0x00};
constexpr Code kReadError{0x03, 0x11, 0x00};
constexpr Code kBlankCheck{0x08, 0x00, 0x00};  // a write-once sector never recorded
// The drive could not keep what it did (its state file was not saved).
constexpr Code kLogicalUnitFailure{0x04, 0x3E, 0x01};
}  // namespace sense

// Fixed-format sense (18 bytes). Progress (0..65535) goes into the sense-key specific
// bytes 15-17 when given.
inline void BuildFixedSense(uint8_t out[18], sense::Code code, int progress = -1) {
  std::memset(out, 0, 18);
  out[0] = 0x70;
  out[2] = code.key;
  out[7] = 10;
  out[12] = code.asc;
  out[13] = code.ascq;
  if (progress >= 0) {
    out[15] = 0x80;
    WriteBE16(out + 16, static_cast<uint32_t>(std::min(progress, 0xFFFF)));
  }
}

class VirtualRecorder::Reply {
 public:
  Reply(DataDirection direction, uint8_t* data, uint32_t dataLength)
      : direction_(direction), data_(data), dataLength_(data != nullptr ? dataLength : 0) {}

  CommandResult& result() { return result_; }

  void Fail(sense::Code code, int progress = -1) {
    result_.status = 0x02;
    result_.transferred = 0;
    BuildFixedSense(result_.sense, code, progress);
  }
  void Busy() {
    result_.status = 0x08;
    result_.transferred = 0;
  }
  bool Failed() const { return result_.status != 0; }

  // Data in: as much of the answer as the allocation length and the caller's buffer allow.
  void Send(const uint8_t* answer, size_t length, uint32_t allocation) {
    size_t n = std::min<size_t>(length, allocation);
    if (direction_ != DataDirection::In) n = 0;
    n = std::min<size_t>(n, dataLength_);
    if (n != 0) std::memcpy(data_, answer, n);
    result_.transferred = static_cast<uint32_t>(n);
  }
  void Send(const std::vector<uint8_t>& answer, uint32_t allocation) {
    Send(answer.data(), answer.size(), allocation);
  }
  // Data in of exactly `length` bytes into the caller's buffer (READ); null when the caller
  // did not provide that much.
  uint8_t* InBuffer(size_t length) {
    if (direction_ != DataDirection::In || dataLength_ < length) return nullptr;
    result_.transferred = static_cast<uint32_t>(length);
    return data_;
  }
  // Data out: the parameter data, null when the caller did not send `length` bytes.
  const uint8_t* OutData(size_t length) {
    if (length == 0) return data_;
    if (direction_ != DataDirection::Out || dataLength_ < length) return nullptr;
    result_.transferred = static_cast<uint32_t>(length);
    return data_;
  }
  // The parameter data of a command that needs at least `minimum` of its `length` bytes:
  // null, with the command failed, when the caller did not send them all or when they are
  // fewer than the command needs.
  const uint8_t* ParameterData(size_t length, size_t minimum = 0) {
    const uint8_t* data = OutData(length);
    if (data == nullptr) {
      Fail(sense::kInvalidField);
    } else if (length < minimum) {
      Fail(sense::kParameterLength);
      return nullptr;
    }
    return data;
  }

 private:
  DataDirection direction_;
  uint8_t* data_;
  uint32_t dataLength_;
  CommandResult result_;
};

}  // namespace brennix
