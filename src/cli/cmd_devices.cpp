// brennix-cli devices: the device list, one entry a line, exactly as it is used to select.
#include <cstdio>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/disc_report.h"
#include "cli/option_table.h"
#include "cli/recorder_setup.h"

namespace brennix::cli {

namespace {

const char* const kDevicesAbout =
    "Lists the recorders one entry a line, as --device accepts them. With --json, prints a\n"
    "JSON array with one object per recorder: what it is, what it can do and the disc in it.\n";

}  // namespace

int RunDevices(const Args& args) {
  bool json = false;
  TCommandLine cli{"devices", {Flag({"--json"}, json), QuietOption()}, kDevicesAbout};
  cli.guided = false;
  if (const auto status = ReadCommandLine(cli, args)) return *status;
  TSCSIDevice device;
  if (!StartTransport(device)) return kExitFailure;
  if (json) {
    // Each object needs its recorder selected (on a copy of the list, whatever selecting does).
    const std::vector<std::string> entries = device.Devices;
    std::printf("[");
    for (size_t i = 0; i < entries.size(); ++i) {
      device.SetDevice(entries[i]);
      const std::string object = device.Device().empty()
                                     ? "{\"entry\": " + JsonString(entries[i]) +
                                           ", \"error\": " + JsonString(device.LastErrorText) + "}"
                                     : RecorderJson(device);
      std::printf("%s\n  %s", i == 0 ? "" : ",", object.c_str());
    }
    std::printf("%s]\n", entries.empty() ? "" : "\n");
  } else {
    for (const std::string& entry : device.Devices) std::printf("%s\n", Printable(entry).c_str());
  }
  // A drive the user cannot open is missing from the list: say why.
  ReportInaccessibleDrives();
  return kExitSuccess;
}

}  // namespace brennix::cli
