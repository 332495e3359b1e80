// The byte layouts and tables a recording is prepared and closed with: the speed text of
// the start message, streaming sizes, the DVD-R reservation, the DVD-R streaming and time
// stamp descriptors, the FORMAT UNIT parameter lists of rewritable DVDs, and the close
// command of every disc type. Pure functions, so each can be checked byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/disc_types.h"

namespace brennix {

constexpr int32_t kCDBlockBytes = 55296;   // 27 sectors per WRITE on CD
constexpr int32_t kDVDBlockBytes = 65536;  // 32 sectors per WRITE on DVD

bool IsCDRecordable(int16_t discType);     // CD-R, CD-RW: the 27-sector blocks
bool IsDVDSpeedType(int16_t discType);     // 5..12: speeds in multiples of 1385 KB/s
bool IsOverwritableDVD(int16_t discType);  // DVD-RAM, DVD-RW, DVD+RW: LBA 0 is rewritten
bool IsDVDRW(int16_t discType);
bool UsesStreaming(int16_t discType);      // SET STREAMING before writing
bool IsWritableDiscType(int16_t discType);  // a medium this program records on
// Written track after track (CD-R, CD-RW, DVD-R, DVD+R, DVD+R DL): a track that got data
// must be closed, or the disc cannot take another.
bool IsSequentialRecording(int16_t discType);
// Media on which a drive can simulate a recording (test write): CD-R, CD-RW, DVD-R.
bool CanSimulate(int16_t discType);

// Bytes per WRITE for a disc type.
int32_t WriteBlockBytes(int16_t discType);

// "4.0X (5,540 KB/s)" for DVD, "40X (7,056 KB/s)" for CD.
std::string SpeedText(int16_t discType, uint32_t speedKBs);

// KB per 1000 ms for SET STREAMING. Speed 0 means "as fast as the drive can": it is sent as
// the size of the largest speed a SET CD SPEED can name, never as a zero performance.
uint32_t StreamingSizeKB(uint32_t speedKBs);

// DVD-R track reservation: the sector count rounded up to whole 32-sector blocks.
uint32_t ReserveTrackSectors(int64_t sectorsToWrite);

// The fixed 28-byte SET STREAMING descriptor sent before a DVD-R recording.
std::array<uint8_t, 28> DVDRStreamingDescriptor();

// FORMAT UNIT parameter lists of the rewritable DVDs.
enum class FormatList {
  DVDRWSequential,   // quick format of a sequential DVD-RW
  DVDRWRestricted,   // restricted overwrite DVD-RW
  DVDRWSecondTry,    // both, when the first list is rejected
  DVDPlusRW,         // a DVD+RW that refuses its first write as unformatted
};
std::array<uint8_t, 12> FormatParameterList(FormatList list);

// One CLOSE TRACK/SESSION of a DVD close sequence.
struct CloseCommand {
  bool Immediate = false;
  uint8_t Function = 0;
  uint8_t Byte3 = 0, Byte4 = 0, Byte5 = 0;
  bool operator==(const CloseCommand&) const = default;
};

// The DVD close sequence of a disc type; empty for DVD-RAM and for CD media, which close
// with CLOSE SESSION and its own retry rule instead (UsesCDSessionClose).
std::vector<CloseCommand> DVDCloseSequence(int16_t discType, uint16_t trackNumber,
                                           bool finalizeDisc);
bool UsesCDSessionClose(int16_t discType);

// Bytes to send for a block of blockBytes in a transfer buffer of kDVDBlockBytes: a DVD write
// always carries 32 sectors, a CD write whole sectors. The bytes after the block's data are
// cleared so that nothing of an earlier block reaches the disc.
int32_t PadWriteBlock(int16_t discType, uint8_t* buffer, int32_t blockBytes);

// The digest a recording keeps of each 2048-byte sector it sends, to compare the sector read
// back with: a 64-bit hash, never the data itself.
uint64_t SectorDigest(const uint8_t* sector);

// BytesWritten after a block of c bytes: never more than the sectors of the recording.
int64_t AddBytesWritten(int64_t bytesWritten, int32_t blockBytes, int64_t sectorsToWrite);

}  // namespace brennix
