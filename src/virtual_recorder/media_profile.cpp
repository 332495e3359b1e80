#include "virtual_recorder/media_profile.h"

#include <array>

namespace brennix {

namespace {

// 1x CD is 176.4 kB/s, 1x DVD 1385 kB/s.
constexpr uint16_t kCd52x = 9173;
constexpr uint16_t kCd48x = 8467;
constexpr uint16_t kCd32x = 5645;
constexpr uint16_t kDvd16x = 22160;
constexpr uint16_t kDvd8x = 11080;
constexpr uint16_t kDvd6x = 8310;
constexpr uint16_t kDvd5x = 6925;

// What a medium is, as bits of ProfileFacts::traits.
enum : uint8_t {
  kCd = 0x01,
  kReadOnly = 0x02,
  kSequential = 0x04,
  kOverwrite = 0x08,
  kErasable = 0x10,
};

struct ProfileFacts {
  MediaProfile profile;
  std::string_view name;
  uint16_t mmcNumber;
  uint8_t traits;
  uint16_t maxWriteKBs;
  uint32_t dvdSectors;  // a DVD's capacity; a CD's comes from its ATIP
};

constexpr std::array<ProfileFacts, 12> kProfiles{{
    {MediaProfile::None, "none", 0x0000, 0, kDvd16x, 0},
    {MediaProfile::CdRom, "cd-rom", 0x0008, kCd | kReadOnly, kCd52x, 0},
    {MediaProfile::CdR, "cd-r", 0x0009, kCd | kSequential, kCd52x, 0},
    {MediaProfile::CdRw, "cd-rw", 0x000A, kCd | kSequential | kErasable, kCd32x, 0},
    {MediaProfile::DvdRom, "dvd-rom", 0x0010, kReadOnly, kDvd16x, 2295104},
    {MediaProfile::DvdR, "dvd-r", 0x0011, kSequential, kDvd16x, 2295104},
    {MediaProfile::DvdRwRestricted, "dvd-rw-ro", 0x0013, kOverwrite | kErasable, kDvd6x, 2295104},
    {MediaProfile::DvdRwSequential, "dvd-rw-seq", 0x0014, kSequential | kErasable, kDvd6x, 2295104},
    {MediaProfile::DvdPlusRw, "dvd+rw", 0x001A, kOverwrite | kErasable, kDvd8x, 2295104},
    {MediaProfile::DvdPlusR, "dvd+r", 0x001B, kSequential, kDvd16x, 2295104},
    {MediaProfile::DvdPlusRDl, "dvd+r-dl", 0x002B, kSequential, kDvd8x, 4173824},
    {MediaProfile::DvdRam, "dvd-ram", 0x0012, kOverwrite | kErasable, kDvd5x, 2236704},
}};

const ProfileFacts& Facts(MediaProfile profile) {
  for (const auto& facts : kProfiles) {
    if (facts.profile == profile) return facts;
  }
  return kProfiles[0];
}

bool Is(MediaProfile profile, uint8_t trait) { return (Facts(profile).traits & trait) != 0; }

}  // namespace

std::string_view ProfileName(MediaProfile profile) { return Facts(profile).name; }

std::optional<MediaProfile> ProfileFromName(std::string_view name) {
  for (const auto& facts : kProfiles) {
    if (facts.name == name) return facts.profile;
  }
  return std::nullopt;
}

uint16_t MmcProfileNumber(MediaProfile profile) { return Facts(profile).mmcNumber; }

bool IsCdMedia(MediaProfile profile) { return Is(profile, kCd); }
bool IsReadOnlyMedia(MediaProfile profile) { return Is(profile, kReadOnly); }
bool IsSequentialMedia(MediaProfile profile) { return Is(profile, kSequential); }
bool IsOverwritableMedia(MediaProfile profile) { return Is(profile, kOverwrite); }
bool IsErasableMedia(MediaProfile profile) { return Is(profile, kErasable); }

uint32_t AtipLeadOutFrames(CdSize cdSize) {
  // 79:59:74 on an 80-minute blank, 74:00:00 on a 74-minute one.
  return cdSize == CdSize::Minutes80 ? 79u * 4500u + 59u * 75u + 74u : 74u * 4500u;
}

uint32_t MediaCapacitySectors(MediaProfile profile, CdSize cdSize) {
  // Logical block 0 of a CD lies 2 seconds (150 frames) after MSF 00:00:00.
  return IsCdMedia(profile) ? AtipLeadOutFrames(cdSize) - 150u : Facts(profile).dvdSectors;
}

uint32_t SessionGapSectors(MediaProfile profile, uint32_t closedSessionNumber) {
  const bool first = closedSessionNumber <= 1;
  if (IsCdMedia(profile)) {
    // Lead-out, then the next session's lead-in (4500) and the track's pre-gap (150).
    return (first ? 6750u : 2250u) + 4500u + 150u;
  }
  switch (profile) {
    case MediaProfile::DvdR:
    case MediaProfile::DvdRwSequential:
      // Border-out plus the next border-in: large for the first border zone.
      return first ? 32768u : 6144u;
    case MediaProfile::DvdPlusR:
    case MediaProfile::DvdPlusRDl:
      // Session closure: lead-out of the closed session and the next intro.
      return first ? 8192u : 4096u;
    default:
      return 0;
  }
}

uint16_t MaxWriteSpeedKBs(MediaProfile profile) { return Facts(profile).maxWriteKBs; }

uint16_t MaxReadSpeedKBs(MediaProfile profile) {
  return IsCdMedia(profile) ? kCd48x : kDvd16x;
}

}  // namespace brennix
