#include "component/recorder_rules.h"

#include <algorithm>

#include "component/korb_burner.h"
#include "device/disc_types.h"
#include "platform/disc_units.h"
#include "recording/write_preparation.h"

namespace brennix {

namespace {

constexpr uint32_t kFlushTimeoutMs = 300000;

}  // namespace

bool RecorderWrites(const TSCSIDevice& device) {
  return (device.Capabilities & (cap::WriteCDR | cap::WriteDVDR | cap::WriteDVDRAM)) != 0;
}

bool DiscAcceptsErase(TSCSIDevice& device, bool full) {
  return device.IsErasable() || (!full && device.GetDiscType() == kDiscDvdRam);
}

std::vector<uint16_t> OfferedWriteSpeeds(const TSCSIDevice& device, int16_t discType) {
  std::vector<uint16_t> speeds;
  const uint16_t fastest = device.CapabilityWord(18);  // host order after ReadCapabilities
  // The write speed descriptors (MMC page 2Ah, bytes 30 on), big-endian as the drive sent them.
  const uint8_t* page = device.CapabilityPage;
  const unsigned count = ReadBE16(page + 30);
  for (unsigned i = 0; i < count && 32 + 4 * i + 4 <= 128; ++i) {
    const uint16_t kbs = ReadBE16(page + 32 + 4 * i + 2);
    if (kbs > 0) speeds.push_back(kbs);
  }
  if (speeds.size() < 2 && fastest > 0) {
    const bool cd = discType == kDiscUnknown ? fastest < 2770 : IsCdMedia(discType);
    const double unit = cd ? 176.4 : 1385.0;
    static constexpr int kCdSteps[] = {4, 8, 10, 16, 24, 32, 40, 48};
    static constexpr int kDvdSteps[] = {1, 2, 4, 6, 8, 12, 16};
    const auto add = [&](int x) {
      const auto kbs = static_cast<uint16_t>(x * unit + 0.5);
      if (kbs <= fastest) speeds.push_back(kbs);
    };
    if (cd)
      for (int x : kCdSteps) add(x);
    else
      for (int x : kDvdSteps) add(x);
    speeds.push_back(fastest);
  }
  std::sort(speeds.begin(), speeds.end());
  speeds.erase(std::unique(speeds.begin(), speeds.end()), speeds.end());
  return speeds;
}

bool CanTestWrite(const TSCSIDevice& device, int16_t discType) {
  return (device.Capabilities & cap::TestWriteCapable) != 0 && CanSimulate(discType);
}

bool MoveTray(TSCSIDevice& device, TrayMove move) {
  if (move == TrayMove::Load) return device.StartStopUnit(false);
  device.SynchronizeCache(kFlushTimeoutMs, false);
  device.PreventAllowRemoval(true);
  return device.StartStopUnit(true);
}

std::string TrayFailureText(TrayMove move) {
  return move == TrayMove::Eject ? "Unable to eject the device." : "Unable to load the device.";
}

void ApplyRecordingPreset(TKorbBurner& burner) {
  burner.UnderrunProtection = true;
  burner.DoDebug = true;
  burner.ReadSpeed = 0;
  burner.WriteSpeed = 0;
  burner.FinalizeDisc = false;
  burner.TestWrite = false;
  burner.ReplaceFile = false;
  burner.PerformOPC = true;
  burner.SetCacheSize(kBurnCacheSize);
  burner.WritePostGap = true;
}

}  // namespace brennix
