// brennix-cli load: what the window's "Load" button does.
#include <cstdio>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/option_table.h"
#include "cli/recorder_setup.h"
#include "cli/select_recorder.h"
#include "component/recorder_rules.h"

namespace brennix::cli {

namespace {

const char* const kLoadAbout =
    "Closes the tray of the recorder D (default: the first).\n";

}  // namespace

int RunLoad(const Args& args) {
  std::string wanted;
  TCommandLine cli{"load", {RecorderOption(wanted), QuietOption()}, kLoadAbout};
  cli.guided = false;
  if (const auto status = ReadCommandLine(cli, args)) return *status;

  TSCSIDevice device;
  if (!SelectRecorder(device, wanted)) return kExitFailure;
  if (!MoveTray(device, TrayMove::Load)) return Failure(TrayFailureText(TrayMove::Load));
  return kExitSuccess;
}

}  // namespace brennix::cli
