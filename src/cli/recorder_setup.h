// Starting the transport for a CLI command and selecting the recorder a --device value names.
#pragma once

#include <string>

#include "device/scsi_device.h"

namespace brennix::cli {

// Starts the transport and lists the recorders; finding none is no failure. When the layer
// itself cannot start, prints "Error initializing ASPI Layer." (and why a drive could not be
// opened) and returns false.
bool StartTransport(TSCSIDevice& device);

// Prints a hint for every /dev/sr* that exists but cannot be opened.
void ReportInaccessibleDrives();

// The entry of device.Devices that a --device value names: the whole entry, its address
// ("1:0:0"), its letter ("E" or "E:"), or the drive's device path ("/dev/sr0", a virtual
// recorder's disc file). Empty names the first virtual recorder when any was added, else the
// first drive. Empty result: none.
std::string FindDeviceEntry(const TSCSIDevice& device, const std::string& wanted);

// Starts the transport and selects the recorder wanted names, for the commands that work on
// one recorder. Prints why on standard error and returns false when no usable recorder is
// selected.
bool SelectRecorder(TSCSIDevice& device, const std::string& wanted);

}  // namespace brennix::cli
