// What medium is in the drive and how much of it is used: type, status, sessions, capacity,
// used sectors, erasability, and the wait until the drive is ready.
#include <algorithm>
#include <cstring>

#include "device/disc_answers.h"
#include "device/disc_types.h"
#include "device/scsi_device.h"
#include "platform/clock.h"

namespace brennix {

namespace {

constexpr uint8_t kNotReadyAsc = 0x04;
constexpr uint32_t kFormatUnformattedMarker = 0xFFFD0001u;
constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

uint32_t SaturatingAdd(uint32_t a, uint32_t b) {
  const uint64_t sum = uint64_t{a} + b;
  return sum > 0xFFFFFFFEull ? 0xFFFFFFFEu : static_cast<uint32_t>(sum);
}

bool IsDvdRw(int t) { return t == kDiscDvdRwRestricted || t == kDiscDvdRwSequential; }

// How far a track is written, as the drive tells it: its next writable address, or, for a
// track that takes nothing more and has no such address (a pressed disc, a closed disc),
// its end.
uint32_t RecordedEnd(const TrackInformation& track) {
  if (!track.NextWritableValid && track.NextWritableAddress == 0 && track.FreeBlocks == 0)
    return SaturatingAdd(track.TrackStart, track.TrackSize);
  return track.NextWritableAddress;
}

}  // namespace

std::optional<DiscInformation> TSCSIDevice::ReadDiscInfo() {
  uint8_t answer[kDiscInformationLength] = {};
  if (!ReadDiscInformation(answer, sizeof answer)) return std::nullopt;
  return ParseDiscInformation(Received(answer, sizeof answer));
}

std::optional<TrackInformation> TSCSIDevice::ReadTrackInfo(uint32_t track) {
  if (!ReadTrackInformation(track)) return std::nullopt;
  return ParseTrackInformation(Received(TrackInfo, sizeof TrackInfo));
}

std::optional<TrackInformation> TSCSIDevice::ReadLastDvdTrackInfo() {
  // Many drives take track 0 on a DVD for its last track, but MMC keeps track 0 for the
  // lead-in of a CD, and drives that hold to it refuse it on a DVD. Those are asked for the
  // last track of the last session, and at last for the invisible track.
  if (auto track = ReadTrackInfo(0)) return track;
  const auto info = ReadDiscInfo();
  if (info && info->LastTrackInLastSession != 0) {
    if (auto track = ReadTrackInfo(info->LastTrackInLastSession)) return track;
  }
  return ReadTrackInfo(0xFF);
}

bool TSCSIDevice::ReadFormatCapacities(uint32_t& blocks, uint32_t& blockLength) {
  blockLength = kSectorSize;
  blocks = 0;
  if (!ReadFormatCapacities()) return false;
  const auto parsed = ParseFormatCapacities(Received(FormatCapacities, sizeof FormatCapacities));
  if (!parsed) return false;
  blocks = parsed->ChooseBlocks();
  return true;
}

bool TSCSIDevice::ReadCapacity(uint32_t& lastBlockAddress, uint32_t& blockLength) {
  lastBlockAddress = 0;
  blockLength = 0;
  if (!ReadCapacity()) return false;
  const auto parsed = ParseReadCapacity(Received(ParameterBuffer, kReadCapacityLength));
  if (!parsed) return false;
  lastBlockAddress = parsed->LastBlockAddress;
  blockLength = parsed->BlockLength;
  return true;
}

uint8_t TSCSIDevice::GetDiscType() {
  int16_t t = kDiscUnknown;
  uint8_t conf[114] = {};
  if (GetConfiguration(2, 0, sizeof conf, conf)) {
    if (const auto profile = ParseCurrentProfile(Received(conf, sizeof conf)))
      t = DiscTypeFromProfile(*profile);
  }
  if (t == kDiscUnknown) {
    uint8_t toc[kAtipLength] = {};
    if (ReadTOC(4, toc, 0, true, 0, sizeof toc)) {
      if (const auto atip = ParseAtip(Received(toc, sizeof toc)))
        t = atip->Present ? (atip->Rewritable ? kDiscCdRw : kDiscCdR) : kDiscCdRom;
    }
  }
  const auto info = ReadDiscInfo();  // always asked: some drives only settle after it
  if (t == kDiscUnknown && info) t = info->Erasable ? kDiscCdRw : kDiscCdR;
  if (t == kDiscUnknown && TestUnitReady(5000)) t = kDiscCdRom;
  return static_cast<uint8_t>(t);
}

int TSCSIDevice::DiscStatus() {
  const auto info = ReadDiscInfo();
  return info ? info->Status : -1;
}

uint16_t TSCSIDevice::SessionCount() {
  const auto info = ReadDiscInfo();
  if (!info || info->Status == 0) return 0;
  uint16_t n = info->Sessions;
  if (info->LastSessionState == 0 && n > 0) --n;
  return n;
}

bool TSCSIDevice::IsErasable() {
  if (const auto info = ReadDiscInfo()) return info->Erasable;
  const int16_t t = static_cast<int16_t>(GetDiscType());
  DiscType = t;
  return t == kDiscDvdRam || IsDvdRw(t) || t == kDiscDvdPlusRw;
}

int16_t TSCSIDevice::PrepareDiscQuery() {
  const int16_t t = static_cast<int16_t>(GetDiscType());
  const bool keep = FinalizeDisc;
  FinalizeDisc = true;
  SetWriteParameters(false, UnderrunProtection, true, DiscType.load());
  FinalizeDisc = keep;
  ReadDiscInfo();
  return t;
}

uint32_t TSCSIDevice::UsedSectors() {
  const int16_t t = PrepareDiscQuery();
  if (IsCdMedia(t)) {
    const uint32_t n = SessionCount() + 1u;
    uint32_t used = 0;
    if (const auto track = ReadTrackInfo(n)) {
      used = track->NextWritableAddress == kNoAddress ? track->TrackSize
                                                     : track->NextWritableAddress;
    }
    if (n == 1 || used != 0) return used;
    uint32_t last = 0, blockLength = 0;
    if (ReadCapacity(last, blockLength)) {
      if (last > 0x7F000000u) {
        uint32_t blocks = 0;
        return ReadFormatCapacities(blocks, blockLength) ? blocks : 0;
      }
      return last + 1;  // an address, and sector 0 counts too
    }
    const auto track = ReadTrackInfo(SessionCount() + 1u);
    return track ? track->FreeBlocks : 0;
  }

  const auto track = ReadLastDvdTrackInfo();
  if (!track || track->TrackSize == kNoAddress) return 0;
  if (IsDvdRw(t)) {
    // A next writable address the drive vouches for says how far the disc is written: the
    // last track of a sequential disc with a closed session is as blank as an empty disc,
    // and the one track of a restricted-overwrite disc is as big as the disc.
    if (track->NextWritableValid) return track->NextWritableAddress;
    uint32_t blocks = 0, blockLength = 0;
    if (ReadFormatCapacities(blocks, blockLength))
      return track->TrackSize == track->FreeBlocks ? 0 : track->TrackSize;
    return RecordedEnd(*track);
  }
  if (t == kDiscDvdRam || t == kDiscDvdPlusRw) return VolumeSpaceSize();
  return RecordedEnd(*track);
}

uint32_t TSCSIDevice::DiscCapacity() {
  const int16_t t = PrepareDiscQuery();
  uint32_t capacity = 0;
  if (IsCdMedia(t)) {
    const uint32_t s = SessionCount();
    uint8_t toc[kAtipLength] = {};
    std::optional<Atip> atip;
    if (ReadTOC(4, toc, 0, true, 0, sizeof toc)) {
      atip = ParseAtip(Received(toc, sizeof toc));
    }
    uint32_t blocks = 0, blockLength = 0;
    if (atip && atip->HasLeadOut) {
      capacity = atip->LeadOutSectors();
      uint32_t last = 0;
      if (capacity < 20000 && ReadCapacity(last, blockLength) && last > capacity) capacity = last;
    } else if (ReadFormatCapacities(blocks, blockLength)) {
      if (blocks == kFormatUnformattedMarker) {
        capacity = 0;
        auto track = ReadTrackInfo(s + 1);
        if (!track) track = ReadTrackInfo(s);
        if (track) capacity = SaturatingAdd(track->FreeBlocks, track->TrackStart);
      } else {
        capacity = blocks;
      }
    } else {
      if (const auto track = ReadTrackInfo(s))
        return SaturatingAdd(track->FreeBlocks, track->TrackStart);
      if (ReadFormatCapacities(blocks, blockLength)) return blocks;
    }
    if (capacity == kNoAddress) capacity = UsedSectors();
    return capacity;
  }

  const auto track = ReadLastDvdTrackInfo();
  if (!track) return 0;
  if (t == kDiscDvdRam || t == kDiscDvdRwRestricted || t == kDiscDvdPlusRw) {
    uint32_t blocks = 0, blockLength = 0;
    if (ReadFormatCapacities(blocks, blockLength)) return blocks;
  }
  // On a blank write-once disc: the free blocks from the start of the track to be written.
  return SaturatingAdd(track->FreeBlocks, RecordedEnd(*track));
}

uint32_t TSCSIDevice::VolumeSpaceSize() {
  for (uint32_t sector = 16; sector <= 32; ++sector) {
    if (const auto size = ReadVolumeDescriptorSize(sector)) return *size;
  }
  return 0;
}

std::optional<uint32_t> TSCSIDevice::ReadVolumeDescriptorSize(uint32_t sector) {
  std::vector<uint8_t> buffer(kSectorSize, 0);
  if (!Read10(sector, 1, buffer.data(), kSectorSize)) return std::nullopt;
  return ParseVolumeSpaceSize(Received(buffer.data(), kSectorSize));
}

bool TSCSIDevice::WaitReady(int32_t budget, int32_t interval) {
  // An interval of 0 would spin without ever using up the budget.
  const int64_t step = std::max<int32_t>(interval, 1);
  int64_t remaining = budget;
  uint8_t sense[40] = {};
  const auto lastAsc = [this] { return LastSense[12]; };
  // Each loop asks the drive before it sleeps: a drive that is ready costs no wait, and one
  // that is not gets the same budget as before. A sleep that would overrun the budget is
  // not taken.
  const auto nap = [&remaining](int64_t ms) {
    if (remaining < ms) return false;
    SleepMs(static_cast<uint32_t>(ms));
    remaining -= ms;
    return true;
  };

  if (SlowReadyModel || SlowReadyQuirk) {
    // These drives say "ready" before they are: they get their pause before the first look.
    do {
      if (!nap(1500)) break;
      TestUnitReady(5000);
    } while (lastAsc() == kNotReadyAsc);
  }

  if (DiscType == kDiscDvdRam) {
    // A DVD-RAM is judged by unit-ready and sense alone, and must pass the sense check.
    sense[12] = kNotReadyAsc;
  } else {
    for (;;) {
      ReadDiscInfo();
      if (lastAsc() != kNotReadyAsc) break;
      if (!nap(step)) return false;
    }
  }

  if (TestUnitReady(5000) && sense[12] == 0) return true;

  while (lastAsc() == kNotReadyAsc) {
    if (!nap(step)) return false;
    TestUnitReady(5000);
  }

  for (;;) {
    std::memset(sense, 0, sizeof sense);
    RequestSense(sense, sizeof sense);
    if (sense[0] == 0xF0) sense[12] = kNotReadyAsc;
    if (sense[12] == 0) return true;
    if (sense[12] == kNotReadyAsc) {
      if (!nap(step)) return false;
    } else {
      // Another condition does not pass with time, but it is asked about again within the
      // same budget.
      remaining -= step;
      if (remaining < 0) return false;
    }
  }
}

}  // namespace brennix
