// brennix-cli eject: what the window's "Eject" button does.
#include <cstdio>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/option_table.h"
#include "cli/recorder_setup.h"
#include "cli/select_recorder.h"
#include "component/recorder_rules.h"

namespace brennix::cli {

namespace {

const char* const kEjectAbout =
    "Opens the tray of the recorder D (default: the first).\n";

}  // namespace

int RunEject(const Args& args) {
  std::string wanted;
  TCommandLine cli{"eject", {RecorderOption(wanted), QuietOption()}, kEjectAbout};
  cli.guided = false;
  if (const auto status = ReadCommandLine(cli, args)) return *status;

  TSCSIDevice device;
  if (!SelectRecorder(device, wanted)) return kExitFailure;
  if (!MoveTray(device, TrayMove::Eject)) return Failure(TrayFailureText(TrayMove::Eject));
  return kExitSuccess;
}

}  // namespace brennix::cli
