#include "disc_fake_drive.h"

#include <algorithm>
#include <cstring>

#include "platform/disc_units.h"
#include "transport/aspi.h"
#include "transport/spti.h"

namespace brennix::test {

namespace {

void Put32(std::vector<uint8_t>& a, size_t at, uint32_t v) { WriteBE32(&a[at], v); }

}  // namespace

DiscFakeDrive::DiscFakeDrive() {
  Handlers[0x12] = [](const uint8_t*, const uint8_t*, uint32_t) {
    std::vector<uint8_t> inquiry(96, ' ');
    inquiry[0] = 0x05;
    inquiry[1] = 0x80;
    inquiry[2] = 0x05;
    inquiry[3] = 0x02;
    inquiry[4] = 91;
    inquiry[5] = inquiry[6] = inquiry[7] = 0;
    std::memcpy(&inquiry[8], "FAKE    DISC TEST DRIVE 1.00", 28);
    return FakeAnswer::Good(inquiry);
  };
  Handlers[0x00] = [](const uint8_t*, const uint8_t*, uint32_t) { return FakeAnswer::Good(); };
}

DriveHandle DiscFakeDrive::Open(int* errnoOut) {
  if (errnoOut) *errnoOut = 0;
  return 7;
}

bool DiscFakeDrive::QueryAddress(DriveHandle, ScsiAddress& address) {
  address = ScsiAddress{};
  address.PortNumber = 3;
  return true;
}

bool DiscFakeDrive::Close(DriveHandle) { return true; }

size_t DiscFakeDrive::CountOf(uint8_t opcode) const {
  return static_cast<size_t>(std::count_if(Commands.begin(), Commands.end(),
                                           [&](const auto& c) { return !c.empty() && c[0] == opcode; }));
}

bool DiscFakeDrive::PassThrough(DriveHandle, PassThroughRequest& request) {
  Commands.emplace_back(request.Cdb, request.Cdb + request.CdbLength);
  request.DataTransferred = 0;
  std::memset(request.Sense, 0, sizeof request.Sense);
  const auto found = Handlers.find(request.Cdb[0]);
  FakeAnswer answer = found == Handlers.end()
                          ? FakeAnswer::Check(0x05, 0x20, 0x00)
                          : found->second(request.Cdb,
                                          request.Direction == DataDirection::Out ? request.Data
                                                                                  : nullptr,
                                          request.DataLength);
  request.ScsiStatus = answer.status;
  if (answer.status == 2) {
    request.Sense[0] = 0x70;
    request.Sense[2] = answer.key;
    request.Sense[7] = 10;
    request.Sense[12] = answer.asc;
    request.Sense[13] = answer.ascq;
  } else if (request.Direction == DataDirection::In && request.Data != nullptr) {
    const uint32_t n = std::min<uint32_t>(request.DataLength, static_cast<uint32_t>(answer.data.size()));
    std::memcpy(request.Data, answer.data.data(), n);
    request.DataTransferred = n;
  } else if (request.Direction == DataDirection::Out) {
    request.DataTransferred = request.DataLength;
  }
  return true;
}

std::shared_ptr<DiscFakeDrive> AttachFakeDrive(TSCSIDevice& device) {
  ClearExtraDrives();
  auto drive = std::make_shared<DiscFakeDrive>();
  RegisterExtraDrive(drive);
  // A table built while no drive was registered would stay empty on a reload: drop it.
  SPTIDone();
  ASPIReload();
  device.InitializeASPI(true, "");
  if (!device.Devices.empty()) device.SetDevice(device.Devices.front());
  drive->Commands.clear();
  return drive;
}

void DetachFakeDrives() {
  // Leave the machine as the other tests expect it: no drives, handles closed after
  // every command (the tray commands change that process-wide).
  ClearExtraDrives();
  SPTIDone();
  ASPIReload();
  SPTIDone();
  SetSPTICloseAfterCommand(true);
}

std::vector<uint8_t> DiscInfoAnswer(uint8_t status, uint8_t lastSession, bool erasable,
                                    uint8_t sessions) {
  std::vector<uint8_t> a(34, 0);
  a[1] = 32;
  a[2] = static_cast<uint8_t>(status | (lastSession << 2) | (erasable ? 0x10 : 0));
  a[4] = sessions;
  return a;
}

std::vector<uint8_t> TrackInfoAnswer(uint32_t start, uint32_t nextWritable, uint32_t freeBlocks,
                                     uint32_t size) {
  std::vector<uint8_t> a(40, 0);
  a[1] = 38;
  Put32(a, 8, start);
  Put32(a, 12, nextWritable);
  Put32(a, 16, freeBlocks);
  Put32(a, 24, size);
  return a;
}

std::vector<uint8_t> AtipAnswer(uint8_t byte6, uint8_t m, uint8_t s, uint8_t f) {
  std::vector<uint8_t> a(28, 0);
  a[1] = 26;
  a[6] = byte6;
  a[12] = m;
  a[13] = s;
  a[14] = f;
  return a;
}

std::vector<uint8_t> ProfileAnswer(uint16_t profile) {
  std::vector<uint8_t> a(16, 0);
  a[3] = 12;
  a[6] = static_cast<uint8_t>(profile >> 8);
  a[7] = static_cast<uint8_t>(profile);
  return a;
}

}  // namespace brennix::test
