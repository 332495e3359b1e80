#include "cli/recorder_setup.h"

#include <cctype>
#include <cstdio>

#include "cli/console.h"
#include "device/device_entry.h"
#include "transport/drive_backend.h"
#include "transport/sg_drive.h"
#include "transport/spti.h"

namespace brennix::cli {

void ReportInaccessibleDrives() {
  for (const std::string& hint : DriveAccessHints()) Complain(hint);
}

bool StartTransport(TSCSIDevice& device) {
  if (device.InitializeASPI(true, std::string())) return true;
  // The emulation started and found no drive: an empty list, not a layer that failed.
  if (SPTIInitialized()) return true;
  Complain("Error initializing ASPI Layer.");
  ReportInaccessibleDrives();
  return false;
}

std::string FindDeviceEntry(const TSCSIDevice& device, const std::string& wanted) {
  if (device.Devices.empty()) return std::string();
  if (wanted.empty()) {
    // With virtual recorders added, the first of them: a command that names a disc file must
    // never write to the disc in a real drive that happens to come first in the list.
    if (ExtraDrives().empty()) return device.Devices.front();
    for (const std::string& entry : device.Devices)
      if (SPTILetterIsExtraDrive(DeviceEntryLetter(entry))) return entry;
    return std::string();
  }
  for (const std::string& entry : device.Devices)
    if (entry == wanted) return entry;
  uint8_t h = 0, t = 0, l = 0;
  if (ParseDeviceEntry(wanted, h, t, l)) {
    for (const std::string& entry : device.Devices) {
      uint8_t eh = 0, et = 0, el = 0;
      if (ParseDeviceEntry(entry, eh, et, el) && eh == h && et == t && el == l) return entry;
    }
  }
  if (wanted.size() == 1 || (wanted.size() == 2 && wanted[1] == ':')) {
    const int letter = std::toupper(static_cast<unsigned char>(wanted[0]));
    for (const std::string& entry : device.Devices)
      if (DeviceEntryLetter(entry) == letter) return entry;
    return std::string();
  }
  // A device path ("/dev/sr0", a virtual recorder's disc file) names the drive.
  return device.EntryServing([&wanted](const std::string& path) { return path == wanted; });
}

bool SelectRecorder(TSCSIDevice& device, const std::string& wanted) {
  if (!StartTransport(device)) return false;
  const std::string entry = FindDeviceEntry(device, wanted);
  if (entry.empty()) {
    if (wanted.empty()) {
      // What was looked at, and how to go on.
      for (const std::string& line : NoRecorderText("brennix-cli")) Complain(line);
    } else {
      std::fprintf(stderr, "brennix-cli: no recorder '%s'; 'brennix-cli devices' lists them\n",
                   Printable(wanted).c_str());
    }
    return false;
  }
  device.SetDevice(entry);
  if (device.Device().empty()) {
    std::fprintf(
        stderr, "brennix-cli: cannot select '%s': %s\n", Printable(entry).c_str(),
        device.LastErrorText.empty() ? "not a CD or DVD drive" : device.LastErrorText.c_str());
    return false;
  }
  return true;
}

}  // namespace brennix::cli
