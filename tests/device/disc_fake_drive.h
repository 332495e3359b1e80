// A scripted drive for the disc-information tests: each operation code answers through a
// handler the test sets; anything without one is refused as an invalid command. It sits
// behind the same platform operations as a real drive.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/scsi_device.h"
#include "transport/drive_backend.h"

namespace brennix::test {

struct FakeAnswer {
  uint8_t status = 0;            // 0 good, 2 check condition, 8 busy
  uint8_t key = 0, asc = 0, ascq = 0;
  std::vector<uint8_t> data;     // data-in bytes (cut to what the command asked for)
  static FakeAnswer Good(std::vector<uint8_t> bytes = {}) { return {0, 0, 0, 0, std::move(bytes)}; }
  static FakeAnswer Check(uint8_t key, uint8_t asc, uint8_t ascq) { return {2, key, asc, ascq, {}}; }
};

using FakeHandler = std::function<FakeAnswer(const uint8_t* cdb, const uint8_t* dataOut,
                                             uint32_t length)>;

class DiscFakeDrive final : public DriveBackend {
 public:
  DiscFakeDrive();
  std::string DevicePath() const override { return "fake-disc-drive"; }
  bool IsOpticalDrive() override { return true; }
  DriveHandle Open(int* errnoOut) override;
  bool QueryAddress(DriveHandle handle, ScsiAddress& address) override;
  bool PassThrough(DriveHandle handle, PassThroughRequest& request) override;
  bool Close(DriveHandle handle) override;

  std::map<uint8_t, FakeHandler> Handlers;
  std::vector<std::vector<uint8_t>> Commands;  // every CDB received, in order
  size_t CountOf(uint8_t opcode) const;
};

// Registers the drive as the only one, reloads the transport and selects it in device.
std::shared_ptr<DiscFakeDrive> AttachFakeDrive(TSCSIDevice& device);
void DetachFakeDrives();

// Answers of common shapes.
std::vector<uint8_t> DiscInfoAnswer(uint8_t status, uint8_t lastSession, bool erasable,
                                    uint8_t sessions);
std::vector<uint8_t> TrackInfoAnswer(uint32_t start, uint32_t nextWritable, uint32_t freeBlocks,
                                     uint32_t size);
std::vector<uint8_t> AtipAnswer(uint8_t byte6, uint8_t m, uint8_t s, uint8_t f);
std::vector<uint8_t> ProfileAnswer(uint16_t profile);

}  // namespace brennix::test
