// The few rules about a recorder and its disc that every front end and job applies the same
// way: whether it writes, whether a disc may be erased, how the tray moves, and the settings
// a recording starts from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brennix {

class TKorbBurner;
class TSCSIDevice;

// The read-ahead cache of a burn: a little over 8 MiB.
constexpr int32_t kBurnCacheSize = 8392704;

// The selected recorder writes CD-R, DVD-R or DVD-RAM media.
bool RecorderWrites(const TSCSIDevice& device);

// Whether the disc in the recorder may be erased as asked. A DVD-RAM may be quick-erased
// even when the drive does not call it erasable; a full erase takes the drive's word alone.
bool DiscAcceptsErase(TSCSIDevice& device, bool full);

enum class TrayMove { Eject, Load };

// The commands of a tray move, for any thread and without a word to the user. An eject first
// flushes whatever the drive still holds in its cache (this may take minutes) and allows
// removal. True when the tray moved.
bool MoveTray(TSCSIDevice& device, TrayMove move);
// "Unable to eject the device." or "Unable to load the device."
std::string TrayFailureText(TrayMove move);

// The write speeds, in KB/s and slowest first, that a front end offers for the disc of
// discType: those the drive lists in its capabilities page; where it lists fewer than two,
// the usual steps (CD 4x to 48x, DVD 1x to 16x) up to its fastest as well.
std::vector<uint16_t> OfferedWriteSpeeds(const TSCSIDevice& device, int16_t discType);

// The drive and the disc of discType can simulate a recording (a test write).
bool CanTestWrite(const TSCSIDevice& device, int16_t discType);

// The settings every recording starts from: underrun protection and OPC on, the drive's
// speeds, a post-gap, the burn's cache, no simulation, an open disc.
void ApplyRecordingPreset(TKorbBurner& burner);

}  // namespace brennix
