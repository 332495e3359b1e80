#include "device/disc_types.h"

namespace brennix {

const char* const DiscTypeNames[16] = {
    "UNKNOWN", "CD-ROM", "CD-R",   "CD-RW",  "DVD-ROM",  "DVD-R",    "DVD-RAM", "DVD-RW",
    "DVD-RW",  "DVD-RW", "DVD+RW", "DVD+R",  "DVD+R DL", "DDCD-ROM", "DDCD-R",  "DDCD-RW"};

std::atomic<int16_t> DiscType{kDiscUnknown};

const char* DiscTypeName(int code) {
  if (code < 0 || code > 15) return DiscTypeNames[0];
  return DiscTypeNames[code];
}

int16_t DiscTypeFromProfile(uint16_t profile) {
  switch (profile) {
    case 0x0008: return kDiscCdRom;
    case 0x0009: return kDiscCdR;
    case 0x000A: return kDiscCdRw;
    case 0x0010: return kDiscDvdRom;
    case 0x0011: return kDiscDvdR;
    case 0x0012: return kDiscDvdRam;
    case 0x0013: return kDiscDvdRwRestricted;
    case 0x0014: return kDiscDvdRwSequential;
    case 0x001A: return kDiscDvdPlusRw;
    case 0x001B: return kDiscDvdPlusR;
    case 0x002B: return kDiscDvdPlusRDl;
    case 0x0020: return kDiscDdcdRom;
    case 0x0021: return kDiscDdcdR;
    case 0x0022: return kDiscDdcdRw;
    default: return kDiscUnknown;
  }
}

}  // namespace brennix
