// A device object selected on one fake drive at address 0:0:0, as the device tests start:
// the drive stays in the letter table while this lives, and the device's debug lines are kept.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/scsi_device.h"
#include "transport/fake_drive_backend.h"

namespace brennix::testing {

// A fake drive at address 0:0:0.
inline std::shared_ptr<FakeDrive> AddressedDrive(const std::string& product = "RECORDER") {
  auto drive = std::make_shared<FakeDrive>("FAKE", product);
  drive->address = Address(0, 0);
  return drive;
}

struct SelectedDevice {
  explicit SelectedDevice(std::shared_ptr<FakeDrive> d) : drive(std::move(d)), drives({drive}) {
    device.HaId = 0;
    device.Target = 0;
    device.Lun = 0;
    device.OnDebugMessage = [this](TSCSIDevice*, const std::string& line, uint8_t type) {
      lines.push_back(std::to_string(type) + line);
    };
  }
  std::shared_ptr<FakeDrive> drive;
  ScopedFakeDrives drives;
  TSCSIDevice device;
  std::vector<std::string> lines;  // the debug lines, each after its type's digit
};

}  // namespace brennix::testing
