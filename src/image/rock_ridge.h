// System-use entries of the ISO tree's directory records that give POSIX readers what ISO
// 9660 names cannot carry: full names with their case, modes, times, and the links that let
// a tree deeper than eight levels read back whole. Pure functions; each entry's length rule
// sits beside its encoder, and the split between record and continuation area is computed
// by one function that the layout and the writer both call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/records.h"

namespace brennix {

using SuspEntry = std::vector<uint8_t>;

// Lengths of the fixed-size entries.
constexpr size_t kSpLength = 7;
constexpr size_t kRrLength = 5;
constexpr size_t kCeLength = 28;
constexpr size_t kPxLength = 36;   // the 1991A form, without a serial number
constexpr size_t kTfLength = 5 + 2 * 7;  // modify and access time, short form
constexpr size_t kLinkLength = 12;       // CL and PL
constexpr size_t kReLength = 4;
// Name bytes one NM entry carries; longer names continue in further NM entries.
constexpr size_t kNmChunk = 250;
constexpr size_t NmLength(size_t nameBytes) { return 5 + nameBytes; }

SuspEntry SpEntry();
SuspEntry ErEntry();  // announces RRIP_1991A; 237 bytes
// Placeholder until the continuation area is placed, see PutCeLocation.
SuspEntry CeEntry(uint32_t block, uint32_t offset, uint32_t length);
SuspEntry PxEntry(uint32_t mode, uint32_t links);
SuspEntry TfEntry(const std::array<uint8_t, 7>& modified);
// One or more NM entries (continued while more than kNmChunk bytes are left).
std::vector<SuspEntry> NmEntries(const std::string& name);
SuspEntry ClEntry(uint32_t block);  // where a relocated directory really lies
SuspEntry PlEntry(uint32_t block);  // the real parent of a relocated directory
SuspEntry ReEntry();                // marks the relocated directory's own record

// Seven bytes as in directory records, in UTC, from seconds since 1970.
std::array<uint8_t, 7> RockRidgeDate(int64_t unixSeconds);

// Modes as portable discs carry them: owner and group root (PX holds 0 for both), readable
// by all, executable by all when any execute bit was set; directories r-x for all.
uint32_t RationalFileMode(uint32_t sourceMode);
constexpr uint32_t kRationalDirMode = 040555;

// Everything one record says.
struct RockRidgeRecord {
  bool Root = false;  // the root's "." record: SP first, and ER
  uint32_t Mode = 0;
  uint32_t Links = 1;
  std::array<uint8_t, 7> Modified{};
  std::string Name;         // empty for "." and ".."
  int64_t ChildLink = -1;   // CL: the placeholder of a relocated directory
  int64_t ParentLink = -1;  // PL: ".." of a relocated directory
  bool Relocated = false;   // RE
};

std::vector<SuspEntry> RockRidgeEntries(const RockRidgeRecord& r);

// The system-use bytes of one record: what stays in the record, and what goes to a
// continuation area (empty when all fits). `room` is the space the record leaves.
struct SystemUse {
  std::vector<uint8_t> InRecord;
  std::vector<uint8_t> Continuation;
  size_t CeOffset = 0;  // of the CE entry within InRecord, when Continuation is not empty
};
SystemUse SplitSystemUse(const std::vector<SuspEntry>& entries, size_t room);
// Points the record's CE entry at the continuation bytes.
void PutCeLocation(SystemUse& su, uint32_t block, uint32_t offset);

// A directory record with the system use it will carry.
struct PlannedRecord {
  DirectoryRecord Record;
  SystemUse Su;
};

}  // namespace brennix
