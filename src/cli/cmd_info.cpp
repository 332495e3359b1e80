// brennix-cli info: the selected recorder, what it can do, and the disc in it.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/disc_report.h"
#include "cli/option_table.h"
#include "cli/recorder_setup.h"
#include "device/capabilities.h"

namespace brennix::cli {

namespace {

const char* const kInfoAbout =
    "Shows the recorder D (default: the first), what it can do, and the disc in it. With\n"
    "--json, prints one JSON object with the same keys as 'devices --json'.\n";

std::string Joined(const std::vector<std::string>& words) {
  if (words.empty()) return "none";
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
  return text;
}

std::string DeviceTypeText(uint8_t type) {
  switch (type) {
    case 5: return "5 (CD/DVD device)";
    case 4: return "4 (write-once device, not supported)";
    default: return std::to_string(type);
  }
}

std::string QuirkText(const TSCSIDevice& device) {
  std::vector<std::string> quirks;
  if (device.ForceUnderrunFree) quirks.push_back("forced underrun protection");
  if (device.LinkSizeQuirk) quirks.push_back("link size");
  if (SlowReadyQuirk.load()) quirks.push_back("slow to become ready");
  if (device.SlowReadyModel) quirks.push_back("slow to become ready (model)");
  if (!CloseImmediate.load()) quirks.push_back("close without immediate bit");
  return Joined(quirks);
}

}  // namespace

static void PrintRecorderInfo(TSCSIDevice& device) {
  std::printf("Device: %s\n", Printable(device.Device()).c_str());
  std::printf("Name: %s\n", Printable(ShownDeviceName(device.InquiryBuffer)).c_str());
  std::printf("Device type: %s\n", DeviceTypeText(device.DeviceType).c_str());
  std::printf("Capabilities: %s\n", Joined(CapabilityNames(device.Capabilities)).c_str());
  std::printf("Maximum read speed: %u kB/s\n", static_cast<unsigned>(device.DeviceMaxReadSpeed));
  std::printf("Maximum write speed: %u kB/s\n", static_cast<unsigned>(device.DeviceMaxWriteSpeed));
  std::printf("Write modes: %s\n", Joined(WriteModeNames(device.WriteModes)).c_str());
  std::printf("Quirks: %s\n", QuirkText(device).c_str());
}

int RunInfo(const Args& args) {
  std::string wanted;
  bool json = false;
  TCommandLine cli{"info",
                    {RecorderOption(wanted), Flag({"--json"}, json), QuietOption()},
                    kInfoAbout};
  cli.guided = false;
  if (const auto status = ReadCommandLine(cli, args)) return *status;

  TSCSIDevice device;
  if (!SelectRecorder(device, wanted)) return kExitFailure;
  if (json) {
    std::printf("%s\n", RecorderJson(device).c_str());
    return kExitSuccess;
  }
  PrintRecorderInfo(device);
  PrintDiscInfo(device);
  return kExitSuccess;
}

}  // namespace brennix::cli
