// Reading what the selected recorder can do: pure helpers over drive answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brennix {

// Where a mode page starts in a MODE SENSE(10) answer: 16, 8 or 7 when that byte holds the
// page code (the savable bit ignored), else fallback.
size_t FindModePage(const uint8_t* answer, size_t answerSize, uint8_t page, size_t fallback);

// Capability bits from bytes 2, 3 and 4 of the capabilities page (2Ah).
uint32_t CapabilitiesFromPage(const uint8_t* page);

// Capability bits from one GET CONFIGURATION answer for a single feature; 0 when the answer
// does not describe the requested feature. got is the number of bytes returned.
uint32_t CapabilitiesFromFeature(uint16_t feature, const uint8_t* answer, size_t got);

std::vector<std::string> CapabilityNames(uint32_t capabilities);
std::vector<std::string> WriteModeNames(uint8_t writeModes);

struct DriveQuirks {
  bool ForceUnderrunFree = false;
  bool LinkSizeQuirk = false;
  bool SlowReadyQuirk = false;
  bool SlowReadyModel = false;
  bool CloseImmediate = true;
};
// From INQUIRY data (at least 32 bytes, control characters already spaces).
DriveQuirks QuirksFromInquiry(const uint8_t* inquiry);

// Changes a sensed write parameters page (at least 16 bytes) for one write type: 1 TAO,
// 2 SAO, 3 RAW.
void PrepareWriteModeTestPage(uint8_t* page, uint8_t writeType);

}  // namespace brennix
