// brennix-cli erase: the erase dialog on the command line. Asks the dialog's question (unless
// --yes), refuses what the dialog refuses, follows the progress and reports the outcome.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/recorder_setup.h"
#include "cli/select_recorder.h"
#include "device/disc_types.h"
#include "device/erase_plan.h"
#include "platform/clock.h"
#include "platform/main_thread.h"

namespace brennix::cli {

namespace {

constexpr const char* kQuickQuestion =
    "All data on the disc will be lost.\nDo you want to quick erase the disc ?";
constexpr const char* kFullQuestion =
    "All data on the disc will be lost\nDo you want to completely erase the disc ?\n"
    "This may take 10-70 minutes.";
// After the thread has cleared Erasing, its event is already queued; this only guards
// against waiting forever for an event that cannot come.
constexpr uint32_t kEventGraceMs = 10000;

bool Confirm(const char* question) {
  std::printf("%s\n[y/N] ", question);
  std::fflush(stdout);
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

}  // namespace

int RunErase(const Args& arguments) {
  Args args = arguments;
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
  if (!SelectRecorder(device, wanted)) return 1;
  if ((device.Capabilities & (cap::WriteCDR | cap::WriteDVDR | cap::WriteDVDRAM)) == 0) {
    std::fputs("brennix-cli: this recorder cannot write discs\n", stderr);
    return 1;
  }

  // A DVD-RAM may be quick-erased even when the drive does not call it erasable; a full
  // erase takes the drive's word alone.
  const bool accepted =
      device.IsErasable() || (!full && device.GetDiscType() == kDiscDvdRam);
  if (!accepted) {
    std::fputs("This disc is not erasable.\n", stderr);
    return 1;
  }
  if (!yes) {
    if (!isatty(STDIN_FILENO)) {
      std::fputs("brennix-cli: erase needs --yes when no one can answer the question\n",
                 stderr);
      return 1;
    }
    if (!Confirm(full ? kFullQuestion : kQuickQuestion)) {
      std::puts("Nothing was erased.");
      return 1;
    }
  }

  std::atomic<bool> done{false};
  bool withError = false;
  device.OnEraseDone = [&](TSCSIDevice*, bool failed) {
    withError = failed;
    done = true;
  };
  device.SetWriteSpeed(0);
  std::puts("Erasing Data...");
  std::fflush(stdout);
  if (!device.StartErase(full ? kBlankFull : kBlankQuick)) {
    if (!done) {
      std::fputs("brennix-cli: the drive did not become ready\n", stderr);
      return 1;
    }
  } else {
    int shown = 0;
    uint64_t idleSince = 0;
    while (!done) {
      PumpMainThread();
      if (done) break;
      const int p = device.EraseProgress();
      if (p > shown) {
        shown = p;
        std::printf("Progress: %d%%\n", shown);
        std::fflush(stdout);
      }
      if (!device.Erasing) {
        if (idleSince == 0) idleSince = TickCount();
        if (TickCount() - idleSince > kEventGraceMs) break;
      }
      SleepMs(done ? 0 : 500);
    }
    if (done) std::puts("Progress: 100%");
  }
  if (!done || withError) {
    std::puts("Erase process completed with errors.");
    return 1;
  }
  std::puts("Erase process completed.");
  return 0;
}

}  // namespace brennix::cli
