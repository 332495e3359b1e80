#include "virtual_recorder/media_profile.h"

#include <array>

namespace brennix {

namespace {

struct ProfileFacts {
  MediaProfile profile;
  std::string_view name;
  uint16_t mmcNumber;
};

constexpr std::array<ProfileFacts, 12> kProfiles{{
    {MediaProfile::None, "none", 0x0000},
    {MediaProfile::CdRom, "cd-rom", 0x0008},
    {MediaProfile::CdR, "cd-r", 0x0009},
    {MediaProfile::CdRw, "cd-rw", 0x000A},
    {MediaProfile::DvdRom, "dvd-rom", 0x0010},
    {MediaProfile::DvdR, "dvd-r", 0x0011},
    {MediaProfile::DvdRwRestricted, "dvd-rw-ro", 0x0013},
    {MediaProfile::DvdRwSequential, "dvd-rw-seq", 0x0014},
    {MediaProfile::DvdPlusRw, "dvd+rw", 0x001A},
    {MediaProfile::DvdPlusR, "dvd+r", 0x001B},
    {MediaProfile::DvdPlusRDl, "dvd+r-dl", 0x002B},
    {MediaProfile::DvdRam, "dvd-ram", 0x0012},
}};

const ProfileFacts& Facts(MediaProfile profile) {
  for (const auto& facts : kProfiles) {
    if (facts.profile == profile) return facts;
  }
  return kProfiles[0];
}

// 1x CD is 176.4 kB/s, 1x DVD 1385 kB/s.
constexpr uint16_t kCd52x = 9173;
constexpr uint16_t kCd48x = 8467;
constexpr uint16_t kCd32x = 5645;
constexpr uint16_t kDvd16x = 22160;
constexpr uint16_t kDvd8x = 11080;
constexpr uint16_t kDvd6x = 8310;
constexpr uint16_t kDvd5x = 6925;

}  // namespace

std::string_view ProfileName(MediaProfile profile) { return Facts(profile).name; }

std::optional<MediaProfile> ProfileFromName(std::string_view name) {
  for (const auto& facts : kProfiles) {
    if (facts.name == name) return facts.profile;
  }
  return std::nullopt;
}

uint16_t MmcProfileNumber(MediaProfile profile) { return Facts(profile).mmcNumber; }

bool IsCdMedia(MediaProfile profile) {
  return profile == MediaProfile::CdRom || profile == MediaProfile::CdR ||
         profile == MediaProfile::CdRw;
}

bool IsReadOnlyMedia(MediaProfile profile) {
  return profile == MediaProfile::CdRom || profile == MediaProfile::DvdRom;
}

bool IsSequentialMedia(MediaProfile profile) {
  switch (profile) {
    case MediaProfile::CdR:
    case MediaProfile::CdRw:
    case MediaProfile::DvdR:
    case MediaProfile::DvdRwSequential:
    case MediaProfile::DvdPlusR:
    case MediaProfile::DvdPlusRDl:
      return true;
    default:
      return false;
  }
}

bool IsOverwritableMedia(MediaProfile profile) {
  return profile == MediaProfile::DvdPlusRw || profile == MediaProfile::DvdRwRestricted ||
         profile == MediaProfile::DvdRam;
}

bool IsErasableMedia(MediaProfile profile) {
  return profile == MediaProfile::CdRw || profile == MediaProfile::DvdRwRestricted ||
         profile == MediaProfile::DvdRwSequential || profile == MediaProfile::DvdPlusRw ||
         profile == MediaProfile::DvdRam;
}

uint32_t AtipLeadOutFrames(CdSize cdSize) {
  // 79:59:74 on an 80-minute blank, 74:00:00 on a 74-minute one.
  return cdSize == CdSize::Minutes80 ? 79u * 4500u + 59u * 75u + 74u : 74u * 4500u;
}

uint32_t MediaCapacitySectors(MediaProfile profile, CdSize cdSize) {
  switch (profile) {
    case MediaProfile::None:
      return 0;
    case MediaProfile::CdRom:
    case MediaProfile::CdR:
    case MediaProfile::CdRw:
      // Logical block 0 lies 2 seconds (150 frames) after MSF 00:00:00.
      return AtipLeadOutFrames(cdSize) - 150u;
    case MediaProfile::DvdPlusRDl:
      return 4173824;
    case MediaProfile::DvdRam:
      return 2236704;
    default:
      return 2295104;
  }
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

uint16_t MaxWriteSpeedKBs(MediaProfile profile) {
  switch (profile) {
    case MediaProfile::CdR:
      return kCd52x;
    case MediaProfile::CdRw:
      return kCd32x;
    case MediaProfile::DvdR:
    case MediaProfile::DvdPlusR:
      return kDvd16x;
    case MediaProfile::DvdRwRestricted:
    case MediaProfile::DvdRwSequential:
      return kDvd6x;
    case MediaProfile::DvdPlusRw:
      return kDvd8x;
    case MediaProfile::DvdPlusRDl:
      return kDvd8x;
    case MediaProfile::DvdRam:
      return kDvd5x;
    case MediaProfile::CdRom:
      return kCd52x;
    case MediaProfile::None:
    case MediaProfile::DvdRom:
      return kDvd16x;
  }
  return kDvd16x;
}

uint16_t MaxReadSpeedKBs(MediaProfile profile) {
  return IsCdMedia(profile) ? kCd48x : kDvd16x;
}

}  // namespace brennix
