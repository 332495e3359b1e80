#include "recorder_harness.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "platform/disc_units.h"

namespace brennix::testing {

Drive::Drive(const std::string& discPath, std::optional<MediaProfile> profile,
             const RecorderOptions& options) {
  auto recorder = VirtualRecorder::Create(discPath, profile, options, error_);
  if (!recorder) return;
  drive_ = std::make_shared<VirtualDrive>(recorder, options.address.value_or(ScsiAddress{}));
  handle_ = drive_->Open();
}

Answer Drive::Run(std::initializer_list<uint8_t> cdb, DataDirection direction,
                  std::vector<uint8_t> data, uint32_t timeoutSeconds) {
  Answer answer;
  PassThroughRequest request;
  size_t i = 0;
  for (uint8_t byte : cdb) {
    if (i < sizeof request.Cdb) request.Cdb[i] = byte;
    ++i;
  }
  request.CdbLength = static_cast<uint8_t>(cdb.size());
  request.Direction = direction;
  request.Data = data.empty() ? nullptr : data.data();
  request.DataLength = static_cast<uint32_t>(data.size());
  request.SenseLength = 24;
  request.TimeoutSeconds = timeoutSeconds;
  answer.answered = drive_->PassThrough(handle_, request);
  answer.status = request.ScsiStatus;
  answer.key = request.Sense[2] & 0x0F;
  answer.asc = request.Sense[12];
  answer.ascq = request.Sense[13];
  answer.transferred = request.DataTransferred;
  std::copy(std::begin(request.Sense), std::end(request.Sense), answer.sense);
  answer.data = std::move(data);
  return answer;
}

Answer Drive::In(std::initializer_list<uint8_t> cdb, uint32_t bufferSize, uint32_t timeoutSeconds) {
  return Run(cdb, DataDirection::In, std::vector<uint8_t>(bufferSize, 0xEE), timeoutSeconds);
}

Answer Drive::Out(std::initializer_list<uint8_t> cdb, const std::vector<uint8_t>& data,
                  uint32_t timeoutSeconds) {
  return Run(cdb, DataDirection::Out, data, timeoutSeconds);
}

Answer Drive::None(std::initializer_list<uint8_t> cdb, uint32_t timeoutSeconds) {
  return Run(cdb, DataDirection::None, {}, timeoutSeconds);
}

Answer Drive::TrackInformation(uint32_t track) {
  return In({0x52, 0x01, static_cast<uint8_t>(track >> 24), static_cast<uint8_t>(track >> 16),
             static_cast<uint8_t>(track >> 8), static_cast<uint8_t>(track), 0, 0, 48, 0},
            48);
}

Answer Drive::Write(uint32_t lba, uint32_t sectors, uint8_t fill) {
  return Out({0x2A, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
              static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0,
              static_cast<uint8_t>(sectors >> 8), static_cast<uint8_t>(sectors), 0},
             std::vector<uint8_t>(static_cast<size_t>(sectors) * 2048, fill), 120);
}

Answer Drive::Read(uint32_t lba, uint32_t sectors) {
  return In({0x28, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
             static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0,
             static_cast<uint8_t>(sectors >> 8), static_cast<uint8_t>(sectors), 0},
            sectors * 2048);
}

Answer Drive::SetWriteParameters(uint8_t byte2, uint8_t byte3) {
  std::vector<uint8_t> list(60, 0);
  list[8] = 0x05;
  list[9] = 0x32;
  list[10] = byte2;
  list[11] = byte3;
  list[12] = 0x08;
  list[23] = 0x96;
  return Out({0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, list);
}

uint32_t Be32(const std::vector<uint8_t>& data, size_t offset) {
  if (offset + 4 > data.size()) return 0xDEADBEEF;
  return ReadBE32(data.data() + offset);
}

uint32_t Be16(const std::vector<uint8_t>& data, size_t offset) {
  if (offset + 2 > data.size()) return 0xDEAD;
  return ReadBE16(data.data() + offset);
}

}  // namespace brennix::testing
