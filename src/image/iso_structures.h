// Where the fields of the on-disc structures lie: the ISO 9660 volume descriptors, directory
// records and path table records, and the system-use entries. The image writer and the
// reader of earlier sessions both take their offsets from here.
#pragma once

#include <cstddef>

#include "platform/disc_units.h"

namespace brennix {

// Volume descriptors: one sector each, from sector 16 of the session on.
namespace vd {
constexpr size_t kSize = kSectorSize;
constexpr size_t kFirstSector = 16;
constexpr size_t kType = 0;
constexpr size_t kStandardId = 1;  // "CD001"
constexpr size_t kVersion = 6;
constexpr size_t kSystemId = 8;
constexpr size_t kVolumeId = 40;
constexpr size_t kIdLength = 32;  // system and volume identifiers
constexpr size_t kVolumeSpaceSize = 80;
constexpr size_t kEscapes = 88;  // the Joliet escape sequence, three bytes
constexpr size_t kVolumeSetSize = 120;
constexpr size_t kSequenceNumber = 124;
constexpr size_t kBlockSize = 128;
constexpr size_t kPathTableSize = 132;
constexpr size_t kPathTableL = 140;
constexpr size_t kPathTableM = 148;
constexpr size_t kRootRecord = 156;
constexpr size_t kRootRecordLength = 34;
constexpr size_t kVolumeSetId = 190;
constexpr size_t kPublisherId = 318;
constexpr size_t kPreparerId = 446;
constexpr size_t kApplicationId = 574;
constexpr size_t kLongIdLength = 128;  // volume set, publisher, preparer, application
constexpr size_t kCopyrightFile = 702;
constexpr size_t kAbstractFile = 739;
constexpr size_t kBibliographicFile = 776;
constexpr size_t kFileIdLength = 37;
constexpr size_t kCreation = 813;
constexpr size_t kModification = 830;
constexpr size_t kExpiration = 847;
constexpr size_t kEffective = 864;
constexpr size_t kDateLength = 17;  // "YYYYMMDDHHMMSScc" and an offset byte
constexpr size_t kFileStructureVersion = 881;
constexpr size_t kApplicationUse = 883;

constexpr uint8_t kPrimary = 1, kSupplementary = 2, kTerminator = 255;

static_assert(kSize == 2048);
static_assert(kVolumeId == kSystemId + kIdLength);
static_assert(kRootRecord == 156 && kRootRecordLength == 34);
static_assert(kVolumeSetId == kRootRecord + kRootRecordLength);
static_assert(kApplicationId + kLongIdLength == kCopyrightFile);
static_assert(kBibliographicFile + kFileIdLength == kCreation);
static_assert(kCreation + 4 * kDateLength == kFileStructureVersion);
}  // namespace vd

// Directory records: a 33-byte header, the identifier, a pad byte when its length is even,
// then the system-use bytes.
namespace dr {
constexpr size_t kLength = 0;
constexpr size_t kExtAttrLength = 1;
constexpr size_t kExtent = 2;      // both byte orders
constexpr size_t kDataLength = 10;  // both byte orders
constexpr size_t kDate = 18;
constexpr size_t kDateLength = 7;
constexpr size_t kFlags = 25;
constexpr size_t kSequenceNumber = 28;  // both byte orders
constexpr size_t kIdLength = 32;
constexpr size_t kId = 33;
constexpr size_t kHeaderSize = 33;
// The shortest record: the one-byte identifier of "." or "..", as the root's in a descriptor.
constexpr size_t kDotLength = 34;

static_assert(kDate + kDateLength == kFlags);
static_assert(kSequenceNumber + 4 == kIdLength);
static_assert(kId == kHeaderSize && kHeaderSize == 33);
static_assert(kDotLength == vd::kRootRecordLength);
}  // namespace dr

// Path table records: an 8-byte header, the identifier, a pad byte when its length is odd.
namespace pt {
constexpr size_t kIdLength = 0;
constexpr size_t kExtent = 2;  // in the table's byte order
constexpr size_t kParent = 6;  // likewise
constexpr size_t kId = 8;
constexpr size_t kHeaderSize = 8;
// The root's record: a one-byte identifier and its pad byte.
constexpr size_t kRootLength = 10;

static_assert(kParent + 2 == kId && kId == kHeaderSize);
}  // namespace pt

// System-use entries (the Rock Ridge ones): a two-letter signature, a length byte and a
// version byte, then the entry's own fields.
namespace susp {
constexpr size_t kLength = 2;
constexpr size_t kVersion = 3;
constexpr size_t kData = 4;
// CE: the block, offset and length of the continuation area, each in both byte orders.
constexpr size_t kCeBlock = 4, kCeOffset = 12, kCeSize = 20;
// PX: the mode and the link count; CL and PL: a block; each in both byte orders.
constexpr size_t kPxMode = 4, kPxLinks = 12, kLinkBlock = 4;

static_assert(kCeOffset == kCeBlock + 8 && kCeSize == kCeOffset + 8 && kPxLinks == kPxMode + 8);
}  // namespace susp

}  // namespace brennix
