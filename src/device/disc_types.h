// Medium type codes as the drive's current profile (or ATIP) reveals them, and the one
// process-wide cell that holds the type of the disc being worked on.
#pragma once

#include <atomic>
#include <cstdint>

namespace brennix {

enum DiscTypeCode : int16_t {
  kDiscUnknown = 0,
  kDiscCdRom = 1, kDiscCdR = 2, kDiscCdRw = 3,
  kDiscDvdRom = 4, kDiscDvdR = 5, kDiscDvdRam = 6,
  kDiscDvdRw = 7,  // never detected; kept so the codes line up with the names
  kDiscDvdRwRestricted = 8, kDiscDvdRwSequential = 9,
  kDiscDvdPlusRw = 10, kDiscDvdPlusR = 11, kDiscDvdPlusRDl = 12,
  kDiscDdcdRom = 13, kDiscDdcdR = 14, kDiscDdcdRw = 15,
};

extern const char* const DiscTypeNames[16];

// The name of a code; "UNKNOWN" for anything outside the table.
const char* DiscTypeName(int code);

// Codes below 4 are CD media; everything from 4 up is treated as DVD.
constexpr bool IsCdMedia(int code) { return code < kDiscDvdRom; }

// The type code of a current-profile number from GET CONFIGURATION; 0 when unknown.
int16_t DiscTypeFromProfile(uint16_t profile);

// The type of the disc that the last detection stored. Written by the erase start, the
// writer and IsErasable; read by the threads and the windows, hence atomic.
extern std::atomic<int16_t> DiscType;

}  // namespace brennix
