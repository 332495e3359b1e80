// A virtual recorder in a scratch folder, attached as the only drive and selected in a
// device, for tests that work on real (virtual) media.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/scsi_device.h"
#include "support/temp_folder.h"
#include "virtual_recorder/recorder_options.h"
#include "virtual_recorder/virtual_drive.h"

namespace brennix::test {

class VirtualDisc {
 public:
  // profile as after the colon of PATH:PROFILE ("cd-rw", "dvd+rw", ...).
  explicit VirtualDisc(const std::string& profile, RecorderOptions options = SimulatedOptions());
  ~VirtualDisc();
  VirtualDisc(const VirtualDisc&) = delete;
  VirtualDisc& operator=(const VirtualDisc&) = delete;

  static RecorderOptions SimulatedOptions();
  bool Ok() const { return drive_ != nullptr && !device.Device().empty(); }
  VirtualRecorder& Recorder() { return drive_->Recorder(); }
  const std::string& Path() const { return path_; }

  // Writes `sectors` sectors of a pattern (seeded by `seed`) as one track at the next
  // writable address and closes it as a recording would; returns the start, or -1.
  long long WriteTrack(uint32_t sectors, uint8_t seed, bool closeSession = true);
  // Reads the sectors back and compares them with the pattern.
  bool ReadsBack(uint32_t start, uint32_t sectors, uint8_t seed);
  // Erases and pumps the main thread until OnEraseDone; the event's flag, or nothing when
  // the erase did not start or no event came.
  std::optional<bool> Erase(uint8_t blankType);

  TSCSIDevice device;

 private:
  TempFolder dir_{"disc"};
  std::string path_;
  std::shared_ptr<VirtualDrive> drive_;
};

std::vector<uint8_t> Pattern(uint32_t sectors, uint8_t seed, uint32_t firstSector = 0);

}  // namespace brennix::test
