#include "device/erase_plan.h"

#include <algorithm>
#include <cmath>

#include "device/disc_types.h"
#include "device/speed_text.h"
#include "platform/disc_units.h"

namespace brennix {

uint16_t EraseEstimate(int discType, uint8_t blankType) {
  if (IsCdMedia(discType)) return blankType == kBlankQuick ? 150 : 4500;
  if (blankType == kBlankQuick) return discType == kDiscDvdRw ? 180 : 600;
  if (blankType == kBlankFull) return 4440;
  return 8880;
}

int EraseProgressStep(double elapsed, uint16_t estimate, int previous) {
  int p = 0;
  if (estimate > 0 && elapsed > 0) {
    const double raw = std::round(elapsed / estimate * 100.0);
    p = raw >= 99.0 ? 99 : static_cast<int>(raw);
  }
  return std::clamp(std::max(p, previous), 0, 99);
}

int DriveReportedProgress(const uint8_t* sense, size_t length) {
  if (sense == nullptr || length < 18) return -1;
  if ((sense[0] & 0x7E) != 0x70) return -1;     // fixed-format sense only
  if ((sense[2] & 0x0F) != 0x02) return -1;     // NOT READY
  if (sense[7] < 10) return -1;                 // additional length must reach byte 17
  if ((sense[15] & 0x80) == 0) return -1;       // sense-key specific bytes not valid
  const uint32_t fraction = ReadBE16(sense + 16);
  return static_cast<int>(fraction * 100 / 65536);
}

std::string EraseSpeedText(int discType, uint32_t speedKBs) {
  return FormatSpeedText(discType >= kDiscDvdRam && discType <= kDiscDvdPlusRw, speedKBs);
}

}  // namespace brennix
