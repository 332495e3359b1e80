// Parsers of the drive answers that disc information relies on. Each takes only the bytes
// the drive actually returned and says "no answer" rather than read past them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/disc_units.h"

namespace brennix {

constexpr uint32_t kDiscInformationLength = 56;
constexpr uint32_t kTrackInformationLength = 40;
constexpr uint32_t kAtipLength = 26;
constexpr uint32_t kFormatCapacitiesLength = 248;  // F8h
constexpr uint32_t kReadCapacityLength = 8;

struct DiscInformation {
  uint8_t Status = 0;             // 0 empty, 1 incomplete, 2 complete, 3 other
  uint8_t LastSessionState = 0;   // 0 empty, 1 incomplete, 3 complete
  bool Erasable = false;
  uint8_t Sessions = 0;           // low byte of the session count
  // Last track of the last session (bytes 6 and 11); 0 when the answer stops short of it.
  uint16_t LastTrackInLastSession = 0;
};

struct TrackInformation {
  uint32_t TrackStart = 0;
  uint32_t NextWritableAddress = 0;
  uint32_t FreeBlocks = 0;
  uint32_t FixedPacketSize = 0;
  uint32_t TrackSize = 0;
  uint32_t LastRecordedAddress = 0;  // 0 when the drive sent too little to hold it
  bool NextWritableValid = false;    // byte 7 bit 0
  bool LastRecordedValid = false;    // byte 7 bit 1, and the answer holds the address
  uint16_t Number = 0;               // bytes 2 and 32
  uint16_t Session = 0;              // bytes 3 and 33
  bool Damaged = false;              // byte 5 bit 5: a recording that never ended
  bool Reserved = false;             // byte 6 bit 7
  bool Blank = false;                // byte 6 bit 6
};

struct Atip {
  bool Present = false;     // byte 6 bit 7
  bool Rewritable = false;  // byte 6 bit 6
  bool HasLeadOut = false;  // the answer reached bytes 12-14
  uint8_t LeadOutMinutes = 0, LeadOutSeconds = 0, LeadOutFrames = 0;
  uint32_t LeadOutSectors() const {
    return LeadOutMinutes * 4500u + LeadOutSeconds * 75u + LeadOutFrames;
  }
};

struct FormatCapacityList {
  uint32_t CurrentBlocks = 0;
  uint8_t CurrentType[4] = {};   // bytes 8-11 as sent: descriptor type and block length
  uint32_t FirstBlocks = 0;
  uint8_t FirstType[4] = {};     // bytes 16-19
  uint32_t SecondBlocks = 0;
  uint8_t SecondType[4] = {};    // bytes 24-27
  // The block count the disc-information code works with (see ChooseFormatBlocks).
  uint32_t ChooseBlocks() const;
};

struct CapacityAnswer {
  uint32_t LastBlockAddress = 0;
  uint32_t BlockLength = 0;
};

struct BufferCapacity {
  uint32_t BufferLength = 0;
  uint32_t BlankLength = 0;  // FFFFFFFFh already replaced by the buffer length
};

// The declared length (bytes 0-1 + 2) clamps what came back; too short gives nothing.
std::optional<DiscInformation> ParseDiscInformation(std::span<const uint8_t> answer);
std::optional<TrackInformation> ParseTrackInformation(std::span<const uint8_t> answer);
std::optional<Atip> ParseAtip(std::span<const uint8_t> answer);
std::optional<FormatCapacityList> ParseFormatCapacities(std::span<const uint8_t> answer);
std::optional<CapacityAnswer> ParseReadCapacity(std::span<const uint8_t> answer);
std::optional<BufferCapacity> ParseBufferCapacity(std::span<const uint8_t> answer);
// Current profile (bytes 6-7) of a GET CONFIGURATION answer.
std::optional<uint16_t> ParseCurrentProfile(std::span<const uint8_t> answer);

// READ TOC format 1 (session information, LBA form): where the first track of the last
// complete session starts; nothing when the answer stops short of it.
std::optional<uint32_t> ParseLastSessionStart(std::span<const uint8_t> answer);

// The volume space size of an ISO 9660 primary or supplementary volume descriptor sector;
// nothing for any other sector.
std::optional<uint32_t> ParseVolumeSpaceSize(std::span<const uint8_t> sector);

}  // namespace brennix
