// Medium type codes as the drive's current profile (or ATIP) reveals them, and the one
// process-wide cell that holds the type of the disc being worked on.
#pragma once

#include <atomic>
#include <cstdint>

namespace brennix {

constexpr int16_t kDiscUnknown = 0;
constexpr int16_t kDiscCdRom = 1;
constexpr int16_t kDiscCdR = 2;
constexpr int16_t kDiscCdRw = 3;
constexpr int16_t kDiscDvdRom = 4;
constexpr int16_t kDiscDvdR = 5;
constexpr int16_t kDiscDvdRam = 6;
constexpr int16_t kDiscDvdRw = 7;  // never detected; kept so the codes line up with the names
constexpr int16_t kDiscDvdRwRestricted = 8;
constexpr int16_t kDiscDvdRwSequential = 9;
constexpr int16_t kDiscDvdPlusRw = 10;
constexpr int16_t kDiscDvdPlusR = 11;
constexpr int16_t kDiscDvdPlusRDl = 12;
constexpr int16_t kDiscDdcdRom = 13;
constexpr int16_t kDiscDdcdR = 14;
constexpr int16_t kDiscDdcdRw = 15;

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
