#include "component/recorder_rules.h"

#include "component/korb_burner.h"
#include "device/disc_types.h"

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
