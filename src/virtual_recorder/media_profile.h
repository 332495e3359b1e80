// The kinds of disc a virtual recorder can hold, and what each one is physically: its MMC
// profile number, whether it is a CD, how it is recorded and how much it holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brennix {

enum class MediaProfile : uint8_t {
  None,        // empty drive
  CdRom,
  CdR,
  CdRw,
  DvdRom,
  DvdR,
  DvdRwRestricted,
  DvdRwSequential,
  DvdPlusRw,
  DvdPlusR,
  DvdPlusRDl,
  DvdRam,
};

// "none", "cd-rom", "cd-r", ... as written after the colon of PATH:PROFILE.
std::string_view ProfileName(MediaProfile profile);
std::optional<MediaProfile> ProfileFromName(std::string_view name);

// Current-profile number of GET CONFIGURATION (0 for an empty drive).
uint16_t MmcProfileNumber(MediaProfile profile);

bool IsCdMedia(MediaProfile profile);
bool IsReadOnlyMedia(MediaProfile profile);
// Written track by track at the next writable address (CD-R/RW, DVD-R, DVD-RW sequential,
// DVD+R, DVD+R DL).
bool IsSequentialMedia(MediaProfile profile);
// Written at any address once formatted (DVD+RW, DVD-RW restricted overwrite, DVD-RAM).
bool IsOverwritableMedia(MediaProfile profile);
bool IsErasableMedia(MediaProfile profile);

// Sectors of user data the blank medium offers. CDs come as 74-minute (650 MB) or
// 80-minute (700 MB) discs.
enum class CdSize : uint8_t { Minutes74, Minutes80 };
uint32_t MediaCapacitySectors(MediaProfile profile, CdSize cdSize);

// Start of the lead-out as the ATIP announces it, in MSF (frames since 00:00:00).
uint32_t AtipLeadOutFrames(CdSize cdSize);

// Sectors a closed session costs beyond its data before the next track may start:
// lead-out, next lead-in and pre-gap on CD; lead-out or border zone on DVD.
uint32_t SessionGapSectors(MediaProfile profile, uint32_t closedSessionNumber);

// Fastest write and read the drive offers for the medium, in kB/s (1000 bytes).
uint16_t MaxWriteSpeedKBs(MediaProfile profile);
uint16_t MaxReadSpeedKBs(MediaProfile profile);

}  // namespace brennix
