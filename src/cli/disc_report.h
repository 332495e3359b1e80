// The disc half of `brennix-cli info`.
#pragma once

#include "device/scsi_device.h"

namespace brennix::cli {

// Prints the disc in the selected recorder: type, status, sessions, capacity, used sectors,
// whether it can be erased and where the next recording would start.
void PrintDiscInfo(TSCSIDevice& device);

}  // namespace brennix::cli
