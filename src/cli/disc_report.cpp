#include "cli/disc_report.h"

#include <cstdio>

#include "device/disc_types.h"

namespace brennix::cli {

namespace {

const char* StatusText(int status) {
  switch (status) {
    case 0: return "empty";
    case 1: return "incomplete (appendable)";
    case 2: return "complete";
    case 3: return "other";
    default: return "unknown (the drive does not answer)";
  }
}

}  // namespace

void PrintDiscInfo(TSCSIDevice& device) {
  const int type = device.GetDiscType();
  const int status = device.DiscStatus();
  if (type == kDiscUnknown && status < 0) {
    std::puts("Disc: none");
    return;
  }
  std::printf("Disc: %s\n", DiscTypeName(type));
  std::printf("Disc status: %s\n", StatusText(status));
  std::printf("Sessions: %u\n", static_cast<unsigned>(device.SessionCount()));
  const uint32_t capacity = device.DiscCapacity();
  const uint32_t used = device.UsedSectors();
  std::printf("Capacity: %u sectors (%.1f MB)\n", capacity, capacity * 2048.0 / 1048576.0);
  std::printf("Used: %u sectors (%.1f MB)\n", used, used * 2048.0 / 1048576.0);
  std::printf("Erasable: %s\n", device.IsErasable() ? "yes" : "no");
  uint32_t start = 0;
  if (device.GetNextWritableAddress(start)) {
    std::printf("Next writable address: %u\n", start);
  } else {
    std::puts("Next writable address: unknown");
  }
}

}  // namespace brennix::cli
