// What `brennix-cli info` and `devices --json` tell about a recorder and the disc in it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/scsi_device.h"

namespace brennix::cli {

// The disc in the selected recorder, read once.
struct DiscFacts {
  bool Present = false;
  int Type = 0;
  int Status = -1;  // -1 when the drive does not answer
  unsigned Sessions = 0;
  uint32_t Capacity = 0;  // sectors
  uint32_t Used = 0;      // sectors
  bool Erasable = false;
  std::optional<uint32_t> NextWritable;
};
DiscFacts ReadDiscFacts(TSCSIDevice& device);

// Prints the disc in the selected recorder: type, status, sessions, capacity, used sectors,
// whether it can be erased and where the next recording would start.
void PrintDiscInfo(TSCSIDevice& device);

// Vendor, product and revision of the identification as a person reads them: each without
// its padding, one blank between them.
std::string ShownDeviceName(const uint8_t* inquiry);

// The text as a JSON string literal. Bytes that are not printable ASCII are escaped (those
// above 0x7F as the Latin-1 characters a drive's identification means by them), so any input
// gives valid JSON.
std::string JsonString(const std::string& text);

// The selected recorder and its disc as one JSON object (keys documented in the manual page).
std::string RecorderJson(TSCSIDevice& device);

}  // namespace brennix::cli
