#include "cli/select_recorder.h"

#include <cstdio>

#include "cli/console.h"
#include "cli/recorder_setup.h"

namespace brennix::cli {

bool SelectRecorder(TSCSIDevice& device, const std::string& wanted) {
  if (!StartTransport(device)) return false;
  const std::string entry = FindDeviceEntry(device, wanted);
  if (entry.empty()) {
    if (wanted.empty()) {
      ReportNoRecorder();
    } else {
      std::fprintf(stderr, "brennix-cli: no recorder '%s'; 'brennix-cli devices' lists them\n",
                   Printable(wanted).c_str());
    }
    return false;
  }
  device.SetDevice(entry);
  if (device.Device().empty()) {
    std::fprintf(stderr, "brennix-cli: cannot select '%s': %s\n", Printable(entry).c_str(),
                 device.LastErrorText.empty() ? "not a CD or DVD drive"
                                              : device.LastErrorText.c_str());
    return false;
  }
  return true;
}

}  // namespace brennix::cli
