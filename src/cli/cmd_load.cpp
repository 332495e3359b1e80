// brennix-cli load: what the window's "Load" button does.
#include <cstdio>

#include "cli/commands.h"
#include "cli/recorder_setup.h"
#include "cli/select_recorder.h"

namespace brennix::cli {

int RunLoad(const Args& arguments) {
  Args args = arguments;
  std::string wanted, error;
  if (!TakeDeviceOption(args, wanted, error)) return UsageError(error);
  if (!args.empty()) return UsageError("unknown option '" + args.front() + "' for 'load'");

  TSCSIDevice device;
  if (!SelectRecorder(device, wanted)) return 1;
  if (!device.StartStopUnit(false)) {
    std::fputs("Unable to load the device.\n", stderr);
    return 1;
  }
  return 0;
}

}  // namespace brennix::cli
