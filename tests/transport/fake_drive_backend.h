// A scripted drive behind the five platform operations, for the transport and device tests.
// It answers INQUIRY, MODE SENSE/SELECT(10) and GET CONFIGURATION from tables; anything else
// goes to onCommand, or gets CHECK CONDITION 05h/20h/00h.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "transport/drive_backend.h"

namespace brennix::testing {

class FakeDrive : public DriveBackend {
 public:
  explicit FakeDrive(std::string vendor = "FAKE", std::string product = "RECORDER",
                     std::string revision = "1.00", uint8_t type = 5)
      : inquiry(96, 0) {
    inquiry[0] = type;
    inquiry[4] = 91;
    SetField(8, 8, vendor);
    SetField(16, 16, product);
    SetField(32, 4, revision);
  }

  void SetField(size_t at, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i) inquiry[at + i] = i < text.size() ? text[i] : ' ';
  }

  // ---- script ----
  std::string path = "fake";
  bool optical = true;
  bool openFails = false;
  bool inquiryFails = false;
  std::optional<ScsiAddress> address;  // none: the address query fails
  std::vector<uint8_t> inquiry;
  std::map<uint8_t, std::vector<uint8_t>> modePages;  // page bytes, code first
  bool blockDescriptor = false;
  std::map<uint16_t, std::vector<uint8_t>> features;  // descriptor bytes, code first
  std::set<uint8_t> acceptedWriteTypes;               // MODE SELECT of page 05h
  std::function<bool(PassThroughRequest&)> onCommand;  // first say; true when handled

  // ---- record ----
  std::vector<std::vector<uint8_t>> commands;  // every CDB passed through, INQUIRY included
  std::vector<std::vector<uint8_t>> modeSelects;
  std::vector<DataDirection> directions;
  std::vector<uint32_t> timeouts;  // seconds
  int opens = 0, closes = 0, open = 0;

  static void Answer(PassThroughRequest& r, const std::vector<uint8_t>& bytes) {
    const uint32_t n = std::min<uint32_t>(r.DataLength, static_cast<uint32_t>(bytes.size()));
    if (r.Data != nullptr && n != 0) std::memcpy(r.Data, bytes.data(), n);
    r.DataTransferred = n;
    r.ScsiStatus = 0;
  }
  static void Check(PassThroughRequest& r, uint8_t key, uint8_t asc, uint8_t ascq) {
    r.ScsiStatus = 2;
    std::memset(r.Sense, 0, sizeof r.Sense);
    r.Sense[0] = 0x70;
    r.Sense[2] = key;
    r.Sense[7] = 10;
    r.Sense[12] = asc;
    r.Sense[13] = ascq;
    r.DataTransferred = 0;
  }

  std::string DevicePath() const override { return path; }
  bool IsOpticalDrive() override { return optical; }
  DriveHandle Open(int* errnoOut) override {
    if (openFails) {
      if (errnoOut) *errnoOut = 13;
      return kInvalidDriveHandle;
    }
    ++opens;
    ++open;
    return 42;
  }
  bool QueryAddress(DriveHandle, ScsiAddress& out) override {
    if (!address) return false;
    out = *address;
    return true;
  }
  bool Close(DriveHandle) override {
    ++closes;
    --open;
    return true;
  }

  bool PassThrough(DriveHandle, PassThroughRequest& r) override {
    commands.emplace_back(r.Cdb, r.Cdb + r.CdbLength);
    directions.push_back(r.Direction);
    timeouts.push_back(r.TimeoutSeconds);
    r.DataTransferred = 0;
    r.ScsiStatus = 0;
    if (onCommand && onCommand(r)) return true;
    switch (r.Cdb[0]) {
      case 0x12:
        if (inquiryFails) return false;
        Answer(r, inquiry);
        return true;
      case 0x00:
        return true;
      case 0x5A: return ModeSense(r);
      case 0x55: return ModeSelect(r);
      case 0x46: return Configuration(r);
      default:
        Check(r, 5, 0x20, 0x00);
        return true;
    }
  }

 private:
  bool ModeSense(PassThroughRequest& r) {
    const auto found = modePages.find(r.Cdb[2] & 0x3F);
    if (found == modePages.end()) {
      Check(r, 5, 0x24, 0x00);
      return true;
    }
    std::vector<uint8_t> answer(8 + (blockDescriptor ? 8 : 0), 0);
    if (blockDescriptor) answer[7] = 8;
    answer.insert(answer.end(), found->second.begin(), found->second.end());
    const size_t length = answer.size() - 2;
    answer[0] = static_cast<uint8_t>(length >> 8);
    answer[1] = static_cast<uint8_t>(length);
    Answer(r, answer);
    return true;
  }
  bool ModeSelect(PassThroughRequest& r) {
    std::vector<uint8_t> data(r.Data, r.Data + r.DataLength);
    modeSelects.push_back(data);
    if (data.size() > 10 && (data[8] & 0x3F) == 0x05 &&
        acceptedWriteTypes.count(data[10] & 0x0F) != 0) {
      r.DataTransferred = r.DataLength;
      return true;
    }
    Check(r, 5, 0x26, 0x00);
    return true;
  }
  bool Configuration(PassThroughRequest& r) {
    const uint16_t feature = static_cast<uint16_t>((r.Cdb[2] << 8) | r.Cdb[3]);
    std::vector<uint8_t> answer(8, 0);
    const auto found = features.find(feature);
    if (found != features.end()) answer.insert(answer.end(), found->second.begin(), found->second.end());
    answer[3] = static_cast<uint8_t>(answer.size() - 4);
    Answer(r, answer);
    return true;
  }
};

// A capabilities page (2Ah) of the given length with read bits, write bits, byte 4 and the
// speeds at their places.
inline std::vector<uint8_t> CapabilitiesPage(uint8_t readBits, uint8_t writeBits, uint8_t byte4,
                                             uint16_t maxRead, uint16_t maxWrite,
                                             uint16_t currentWrite) {
  std::vector<uint8_t> page(28, 0);
  page[0] = 0x2A;
  page[1] = 26;
  page[2] = readBits;
  page[3] = writeBits;
  page[4] = byte4;
  page[8] = static_cast<uint8_t>(maxRead >> 8);
  page[9] = static_cast<uint8_t>(maxRead);
  page[12] = 0x08;  // 2 MB buffer
  page[18] = static_cast<uint8_t>(maxWrite >> 8);
  page[19] = static_cast<uint8_t>(maxWrite);
  page[20] = static_cast<uint8_t>(currentWrite >> 8);
  page[21] = static_cast<uint8_t>(currentWrite);
  return page;
}

inline std::vector<uint8_t> WriteParametersPage05() {
  std::vector<uint8_t> page(0x34, 0);
  page[0] = 0x05;
  page[1] = 0x32;
  page[2] = 0x01;
  page[4] = 0x08;
  return page;
}

inline ScsiAddress Address(uint8_t port, uint8_t target, uint8_t lun = 0) {
  ScsiAddress a;
  a.PortNumber = port;
  a.TargetId = target;
  a.Lun = lun;
  return a;
}

}  // namespace brennix::testing

#include "transport/aspi.h"
#include "transport/drive_letters.h"
#include "transport/spti.h"

namespace brennix::testing {

// Puts the given drives in the letter table (real ones from D, then the extra ones) and
// chooses the layer afresh; restores an empty machine afterwards.
class ScopedFakeDrives {
 public:
  explicit ScopedFakeDrives(std::vector<std::shared_ptr<FakeDrive>> real,
                            std::vector<std::shared_ptr<FakeDrive>> extra = {}) {
    ClearExtraDrives();
    for (auto& drive : extra) RegisterExtraDrive(drive);
    SetRealDriveLister([real] {
      return std::vector<std::shared_ptr<DriveBackend>>(real.begin(), real.end());
    });
    SPTIDone();
    ASPIReload();
  }
  ~ScopedFakeDrives() {
    SetRealDriveLister([] { return std::vector<std::shared_ptr<DriveBackend>>(); });
    ClearExtraDrives();
    SPTIDone();
    ASPIReload();
    SPTIDone();
    SetSPTICloseAfterCommand(true);
  }
  ScopedFakeDrives(const ScopedFakeDrives&) = delete;
  ScopedFakeDrives& operator=(const ScopedFakeDrives&) = delete;
};

}  // namespace brennix::testing
