#include "disc_vr_fixture.h"

#include <unistd.h>

#include "device/disc_types.h"
#include "platform/main_thread.h"
#include "transport/aspi.h"
#include "transport/spti.h"
#include "virtual_recorder/attach.h"

namespace brennix::test {

RecorderOptions VirtualDisc::SimulatedOptions() {
  RecorderOptions o;
  o.speed = SpeedModel::Simulated;
  return o;
}

VirtualDisc::VirtualDisc(const std::string& profile, RecorderOptions options) {
  path_ = dir_.path() + "/disc.img";
  ClearExtraDrives();
  std::string error;
  drive_ = AttachVirtualRecorder(path_ + ":" + profile, options, error);
  if (!drive_) return;
  // A table built while no drive was registered would stay empty on a reload: drop it.
  SPTIDone();
  ASPIReload();
  device.InitializeASPI(true, "");
  if (!device.Devices.empty()) device.SetDevice(device.Devices.front());
  DiscType = static_cast<int16_t>(device.GetDiscType());
}

VirtualDisc::~VirtualDisc() {
  // Leave the machine as the other tests expect it: no drives, handles closed after
  // every command (the tray commands change that process-wide).
  ClearExtraDrives();
  SPTIDone();
  ASPIReload();
  SPTIDone();
  SetSPTICloseAfterCommand(true);
}

std::vector<uint8_t> Pattern(uint32_t sectors, uint8_t seed, uint32_t firstSector) {
  std::vector<uint8_t> data(size_t{sectors} * 2048);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>((i / 2048 + firstSector) * 31 + i * 7 + seed);
  return data;
}

long long VirtualDisc::WriteTrack(uint32_t sectors, uint8_t seed, bool closeSession) {
  const int16_t t = static_cast<int16_t>(device.GetDiscType());
  DiscType = t;
  uint32_t start = 0;
  device.GetNextWritableAddress(start);
  device.SetWriteParameters(false, false, false, t);
  const auto data = Pattern(sectors, seed);
  for (uint32_t done = 0; done < sectors; done += 16) {
    const uint32_t n = std::min<uint32_t>(16, sectors - done);
    if (!device.WriteSectors(start + done, static_cast<uint16_t>(n), n * 2048,
                             data.data() + size_t{done} * 2048))
      return -1;
  }
  if (!device.SynchronizeCache(120000, false)) return -1;
  if (closeSession) {
    if (t == kDiscDvdPlusRw) {
      device.CloseTrackSession(false, 3, 0, 0, 0xFF);
    } else if (t != kDiscDvdRam && t != kDiscDvdRwRestricted) {
      device.CloseSession(true, false, false);
      device.CloseSession(false, false, false);
    }
  }
  device.WaitReady(60000, 500);
  return start;
}

bool VirtualDisc::ReadsBack(uint32_t start, uint32_t sectors, uint8_t seed) {
  const auto expected = Pattern(sectors, seed);
  std::vector<uint8_t> got(2048);
  for (uint32_t i = 0; i < sectors; ++i) {
    std::fill(got.begin(), got.end(), uint8_t{0});
    if (!device.Read10(start + i, 1, got.data(), 2048)) return false;
    if (!std::equal(got.begin(), got.end(), expected.begin() + size_t{i} * 2048)) return false;
  }
  return true;
}

std::optional<bool> VirtualDisc::Erase(uint8_t blankType) {
  std::optional<bool> result;
  device.OnEraseDone = [&](TSCSIDevice*, bool withError) { result = withError; };
  if (!device.StartErase(blankType)) return result;
  // Virtual time: a day of it passes in well under a second of real time.
  PumpMainThreadUntil([&] { return result.has_value(); }, 24u * 3600 * 1000);
  return result;
}

}  // namespace brennix::test
