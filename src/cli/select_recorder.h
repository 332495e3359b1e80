// Starting the transport and selecting the recorder a --device value names, for the
// commands that work on one recorder.
#pragma once

#include <string>

#include "device/scsi_device.h"

namespace brennix::cli {

// Prints why on standard error and returns false when no usable recorder is selected.
bool SelectRecorder(TSCSIDevice& device, const std::string& wanted);

}  // namespace brennix::cli
