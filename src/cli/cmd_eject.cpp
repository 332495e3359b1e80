// brennix-cli eject: what the window's "Eject" button does.
#include <cstdio>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/recorder_setup.h"
#include "cli/select_recorder.h"
#include "component/recorder_rules.h"

namespace brennix::cli {

namespace {

const char* const kEjectUsage =
    "usage: brennix-cli eject [--device D] [--quiet]\n"
    "\n"
    "Opens the tray of the recorder D (default: the first).\n";

}  // namespace

int RunEject(const Args& arguments) {
  Args args = arguments;
  if (WantsHelp(args)) return ShowHelp(kEjectUsage);
  TakeQuietOption(args);
  std::string wanted, error;
  if (!TakeDeviceOption(args, wanted, error)) return UsageError(error);
  if (!args.empty()) return UsageError("unknown option '" + args.front() + "' for 'eject'");

  TSCSIDevice device;
  if (!SelectRecorder(device, wanted)) return kExitFailure;
  if (!MoveTray(device, TrayMove::Eject)) return Failure(TrayFailureText(TrayMove::Eject));
  return kExitSuccess;
}

}  // namespace brennix::cli
