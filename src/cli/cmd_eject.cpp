// brennix-cli eject: what the window's "Eject" button does.
#include <cstdio>

#include "cli/commands.h"
#include "cli/recorder_setup.h"
#include "cli/select_recorder.h"

namespace brennix::cli {

int RunEject(const Args& arguments) {
  Args args = arguments;
  std::string wanted, error;
  if (!TakeDeviceOption(args, wanted, error)) return UsageError(error);
  if (!args.empty()) return UsageError("unknown option '" + args.front() + "' for 'eject'");

  TSCSIDevice device;
  if (!SelectRecorder(device, wanted)) return 1;
  // Whatever the drive still holds goes to the disc before the tray opens.
  device.SynchronizeCache(300000, false);
  device.PreventAllowRemoval(true);
  if (!device.StartStopUnit(true)) {
    std::fputs("Unable to eject the device.\n", stderr);
    return 1;
  }
  return 0;
}

}  // namespace brennix::cli
