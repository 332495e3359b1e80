// Test harness: a virtual recorder on a disc file in a fresh temporary folder, driven with
// raw command blocks through the drive seam, exactly as the transport drives it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "virtual_recorder/virtual_drive.h"

namespace brennix::testing {

using TempFolder = test::TempFolder;

struct Answer {
  bool answered = false;
  uint8_t status = 0xFF;
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  uint32_t transferred = 0;
  std::vector<uint8_t> data;  // the data buffer after the command
  uint8_t sense[32] = {};
  bool Good() const { return answered && status == 0; }
  bool Sense(uint8_t k, uint8_t a, uint8_t q) const {
    return answered && status == 2 && key == k && asc == a && ascq == q;
  }
};

class Drive {
 public:
  // Creates the recorder; fails the test when it cannot.
  Drive(const std::string& discPath, std::optional<MediaProfile> profile,
        const RecorderOptions& options = {});
  bool ok() const { return drive_ != nullptr; }
  const std::string& error() const { return error_; }

  // Data-in command with a buffer of `bufferSize` bytes (the allocation length in the CDB
  // is the test's business).
  Answer In(std::initializer_list<uint8_t> cdb, uint32_t bufferSize, uint32_t timeoutSeconds = 60);
  Answer Out(std::initializer_list<uint8_t> cdb, const std::vector<uint8_t>& data,
             uint32_t timeoutSeconds = 60);
  Answer None(std::initializer_list<uint8_t> cdb, uint32_t timeoutSeconds = 60);

  // Frequent commands.
  Answer TestUnitReady() { return None({0x00, 0, 0, 0, 0, 0}); }
  Answer DiscInformation() { return In({0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 34); }
  Answer TrackInformation(uint32_t track);
  Answer Write(uint32_t lba, uint32_t sectors, uint8_t fill = 0x5A);
  Answer Read(uint32_t lba, uint32_t sectors);
  Answer CloseTrack(uint32_t track) { return None({0x5B, 0, 1, 0, 0, static_cast<uint8_t>(track), 0, 0, 0, 0}); }
  Answer CloseSession() { return None({0x5B, 0, 2, 0, 0, 0, 0, 0, 0, 0}); }
  // Sends the write parameters page with the multi-session bits of byte 3 and byte 2.
  Answer SetWriteParameters(uint8_t byte2, uint8_t byte3);

  VirtualDrive& drive() { return *drive_; }
  VirtualRecorder& recorder() { return drive_->Recorder(); }
  void Release() { drive_.reset(); }

 private:
  Answer Run(std::initializer_list<uint8_t> cdb, DataDirection direction, std::vector<uint8_t> data,
             uint32_t timeoutSeconds);

  std::shared_ptr<VirtualDrive> drive_;
  DriveHandle handle_ = kInvalidDriveHandle;
  std::string error_;
};

uint32_t Be32(const std::vector<uint8_t>& data, size_t offset);
uint32_t Be16(const std::vector<uint8_t>& data, size_t offset);

}  // namespace brennix::testing
