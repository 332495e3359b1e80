// brennix-cli eject and load: what the window's "Eject" and "Load" buttons do.

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/option_table.h"
#include "cli/recorder_setup.h"
#include "component/recorder_rules.h"

namespace brennix::cli {

namespace {

int RunTray(const Args& args, TrayMove move) {
  const bool eject = move == TrayMove::Eject;
  std::string wanted;
  TCommandLine cli{eject ? "eject" : "load",
                   {RecorderOption(wanted), QuietOption()},
                   eject ? "Opens the tray of the recorder D (default: the first).\n"
                         : "Closes the tray of the recorder D (default: the first).\n"};
  cli.guided = false;
  if (const auto status = ReadCommandLine(cli, args)) return *status;

  TSCSIDevice device;
  if (!SelectRecorder(device, wanted)) return kExitFailure;
  if (!MoveTray(device, move)) return Failure(TrayFailureText(move));
  return kExitSuccess;
}

}  // namespace

int RunEject(const Args& args) { return RunTray(args, TrayMove::Eject); }
int RunLoad(const Args& args) { return RunTray(args, TrayMove::Load); }

}  // namespace brennix::cli
