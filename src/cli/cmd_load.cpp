// brennix-cli load: what the window's "Load" button does.
#include <cstdio>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/recorder_setup.h"
#include "cli/select_recorder.h"
#include "component/recorder_rules.h"

namespace brennix::cli {

namespace {

const char* const kLoadUsage =
    "usage: brennix-cli load [--device D] [--quiet]\n"
    "\n"
    "Closes the tray of the recorder D (default: the first).\n";

}  // namespace

int RunLoad(const Args& arguments) {
  Args args = arguments;
  if (WantsHelp(args)) return ShowHelp(kLoadUsage);
  TakeQuietOption(args);
  std::string wanted, error;
  if (!TakeDeviceOption(args, wanted, error)) return UsageError(error);
  if (!args.empty()) return UsageError("unknown option '" + args.front() + "' for 'load'");

  TSCSIDevice device;
  if (!SelectRecorder(device, wanted)) return kExitFailure;
  if (!MoveTray(device, TrayMove::Load)) return Failure(TrayFailureText(TrayMove::Load));
  return kExitSuccess;
}

}  // namespace brennix::cli
