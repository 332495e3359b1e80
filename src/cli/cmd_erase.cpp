// brennix-cli erase: the erase dialog on the command line. Asks the dialog's question (unless
// --yes), refuses what the dialog refuses, follows the progress and reports the outcome.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/recorder_setup.h"
#include "cli/select_recorder.h"
#include "device/disc_types.h"
#include "device/drive_hold.h"
#include "device/erase_plan.h"
#include "platform/clock.h"
#include "platform/main_thread.h"

namespace brennix::cli {

namespace {

const char* const kEraseUsage =
    "usage: brennix-cli erase [--device D] [--full] [--yes] [--quiet]\n"
    "\n"
    "Blanks the rewritable disc in the recorder D (default: the first): a CD-RW or DVD-RW is\n"
    "blanked, a DVD+RW or DVD-RAM formatted. --full erases the whole disc instead of the\n"
    "minimum (this may take 10-70 minutes). Without --yes the command asks first, and it\n"
    "refuses when no one can answer.\n";

constexpr const char* kQuickQuestion =
    "All data on the disc will be lost.\nDo you want to quick erase the disc ?";
constexpr const char* kFullQuestion =
    "All data on the disc will be lost\nDo you want to completely erase the disc ?\n"
    "This may take 10-70 minutes.";
// After the thread has cleared Erasing, its event is already queued; this only guards
// against waiting forever for an event that cannot come.
constexpr uint32_t kEventGraceMs = 10000;

}  // namespace

int RunErase(const Args& arguments) {
  Args args = arguments;
  if (WantsHelp(args)) return ShowHelp(kEraseUsage);
  TakeQuietOption(args);
  std::string wanted, error;
  if (!TakeDeviceOption(args, wanted, error)) return UsageError(error);
  bool full = false, yes = false;
  for (const std::string& word : args) {
    if (word == "--full") {
      full = true;
    } else if (word == "--yes" || word == "-y") {
      yes = true;
    } else {
      return UsageError("unknown option '" + word + "' for 'erase'");
    }
  }

  TSCSIDevice device;
  if (!SelectRecorder(device, wanted)) return kExitFailure;
  if ((device.Capabilities & (cap::WriteCDR | cap::WriteDVDR | cap::WriteDVDRAM)) == 0)
    return Failure("this recorder cannot write discs");

  const DriveBusy busy = RecorderBusy(device);
  if (!busy.Free()) return Failure("erase: " + DriveBusyText(busy));

  // A DVD-RAM may be quick-erased even when the drive does not call it erasable; a full
  // erase takes the drive's word alone.
  const bool accepted =
      device.IsErasable() || (!full && device.GetDiscType() == kDiscDvdRam);
  if (!accepted) return Failure("This disc is not erasable.");
  if (!yes) {
    if (!isatty(STDIN_FILENO))
      return UsageError(
          "erase: standard input is not a terminal: give --yes to erase without asking");
    if (!Confirm(full ? kFullQuestion : kQuickQuestion)) {
      std::puts("Nothing was erased.");
      return kExitFailure;
    }
  }

  std::atomic<bool> done{false};
  bool withError = false;
  device.OnEraseDone = [&](TSCSIDevice*, bool failed) {
    withError = failed;
    done = true;
  };
  device.SetWriteSpeed(0);
  Summary("Erasing Data...");
  const bool progress = ShowProgress();
  if (!device.StartErase(full ? kBlankFull : kBlankQuick)) {
    if (!done) {
      return Failure("the drive did not become ready" +
                     (device.LastErrorText.empty() ? "" : ": " + device.LastErrorText));
    }
  } else {
    int shown = 0;
    uint64_t idleSince = 0;
    while (!done) {
      PumpMainThread();
      if (done) break;
      const int p = device.EraseProgress();
      if (p > shown && progress) {
        shown = p;
        std::printf("\rProgress: %d%%", shown);
        std::fflush(stdout);
      }
      if (!device.Erasing) {
        if (idleSince == 0) idleSince = TickCount();
        if (TickCount() - idleSince > kEventGraceMs) break;
      }
      SleepMs(done ? 0 : 500);
    }
    if (progress) std::puts(done ? "\rProgress: 100%" : "");
  }
  if (!done || withError) {
    // The drive's own words say why.
    if (done && !device.EraseErrorText.empty()) Complain("erase: " + device.EraseErrorText);
    return Failure("Erase process completed with errors.");
  }
  Summary("Erase process completed.");
  return kExitSuccess;
}

}  // namespace brennix::cli
