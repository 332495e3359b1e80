// brennix-cli devices: the device list, one entry a line, exactly as it is used to select.
#include <cstdio>

#include "cli/commands.h"
#include "cli/recorder_setup.h"

namespace brennix::cli {

int RunDevices(const Args& args) {
  if (!args.empty()) return UsageError("'devices' takes no arguments");
  TSCSIDevice device;
  if (!StartTransport(device)) return 1;
  for (const std::string& entry : device.Devices) std::printf("%s\n", entry.c_str());
  // A drive the user cannot open is missing from the list: say why.
  ReportInaccessibleDrives();
  return 0;
}

}  // namespace brennix::cli
