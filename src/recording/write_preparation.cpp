#include "recording/write_preparation.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "device/cdb.h"
#include "device/speed_text.h"
#include "platform/disc_units.h"

namespace brennix {

bool IsCDRecordable(int16_t t) { return t == kDiscCdR || t == kDiscCdRw; }

bool IsDVDSpeedType(int16_t t) { return t >= 5 && t <= 12; }

bool IsDVDRW(int16_t t) {
  return t == kDiscDvdRwRestricted || t == kDiscDvdRwSequential;
}

bool IsOverwritableDVD(int16_t t) {
  return t == kDiscDvdRam || IsDVDRW(t) || t == kDiscDvdPlusRw;
}

bool UsesStreaming(int16_t t) {
  return t == kDiscDvdR || IsDVDRW(t) || t == kDiscDvdPlusRw ||
         t == kDiscDvdPlusR || t == kDiscDvdPlusRDl;
}

bool IsWritableDiscType(int16_t t) {
  return IsSequentialRecording(t) || IsOverwritableDVD(t);
}

bool IsSequentialRecording(int16_t t) {
  return IsCDRecordable(t) || t == kDiscDvdR || t == kDiscDvdPlusR ||
         t == kDiscDvdPlusRDl;
}

bool CanSimulate(int16_t t) { return IsCDRecordable(t) || t == kDiscDvdR; }

int32_t WriteBlockBytes(int16_t t) { return IsCDRecordable(t) ? kCDBlockBytes : kDVDBlockBytes; }

std::string SpeedText(int16_t discType, uint32_t speedKBs) {
  return FormatSpeedText(IsDVDSpeedType(discType), speedKBs);
}

uint32_t StreamingSizeKB(uint32_t speedKBs) {
  if (speedKBs == 0) speedKBs = 0xFFFF;
  return static_cast<uint32_t>(std::trunc(speedKBs / 1385.0 * 1440.25));
}

uint32_t ReserveTrackSectors(int64_t sectorsToWrite) {
  if (sectorsToWrite <= 0) return 0;
  const int64_t rounded = (sectorsToWrite + 31) / 32 * 32;
  return rounded > 0xFFFFFFE0LL ? 0xFFFFFFE0u : static_cast<uint32_t>(rounded);
}

std::array<uint8_t, 28> DVDRStreamingDescriptor() {
  // To sector 2,298,495 at 43,965 KB read and 1,418 KB written per second.
  return BuildStreamingDescriptor(0x0023127F, 0xABBD, 0x058A, 1000, 1000);
}

std::array<uint8_t, 12> FormatParameterList(FormatList list) {
  switch (list) {
    case FormatList::DVDRWSequential:
      return {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
    case FormatList::DVDRWRestricted:
      return {0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x00, 0x00, 0x10};
    case FormatList::DVDRWSecondTry:
      return {0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x54, 0x00, 0x00, 0x10};
    case FormatList::DVDPlusRW:
      return kDvdPlusRwFormatList;
  }
  return {};
}

std::vector<CloseCommand> DVDCloseSequence(int16_t discType, uint16_t n, bool finalizeDisc) {
  const auto track = [](unsigned v) { return static_cast<uint8_t>(v & 0xFF); };
  switch (discType) {
    case kDiscDvdPlusR:
      // Function 101b closes the session and the disc with it.
      return {{false, 1, 0, 0, track(n)},
              finalizeDisc ? CloseCommand{false, 5, 0, 0, 0} : CloseCommand{false, 2, 0, 0, 0xFF}};
    case kDiscDvdPlusRDl:
      return {{false, 1, 0, 0, track(n)},
              finalizeDisc ? CloseCommand{false, 6, 0, 0, 0} : CloseCommand{false, 2, 0, 0, 0}};
    case kDiscDvdR:
      return {{false, 1, 0, 0, track(n)}, {false, 1, 0, 0, track(n + 1u)},
              {false, 2, 0, 0, track(n + 2u)}};
    case kDiscDvdRwRestricted:
    case kDiscDvdRwSequential:
      return {{true, 2, 0, 0, 0}};
    case kDiscDvdPlusRw:
      return {{false, 3, 0, 0, 0xFF}};
    default:
      return {};
  }
}

bool UsesCDSessionClose(int16_t discType) {
  return discType != kDiscDvdRam && DVDCloseSequence(discType, 1, false).empty();
}

int32_t PadWriteBlock(int16_t discType, uint8_t* buffer, int32_t blockBytes) {
  if (blockBytes < 0) blockBytes = 0;
  if (blockBytes > kDVDBlockBytes) blockBytes = kDVDBlockBytes;
  int32_t sendBytes = kDVDBlockBytes;
  if (IsCDRecordable(discType)) {
    sendBytes = (blockBytes + kSectorSize - 1) / kSectorSize * kSectorSize;
  }
  std::memset(buffer + blockBytes, 0, static_cast<size_t>(sendBytes - blockBytes));
  return sendBytes;
}

uint64_t SectorDigest(const uint8_t* sector) {
  // Word-wise multiply and rotate: fast enough to run on every block of the writer, and
  // every bit of the sector reaches every bit of the result.
  constexpr uint64_t kMul1 = 0x9E3779B185EBCA87ull;
  constexpr uint64_t kMul2 = 0xC2B2AE3D27D4EB4Full;
  uint64_t a = 0x27D4EB2F165667C5ull, b = 0x165667B19E3779F9ull;
  for (int32_t i = 0; i < kSectorSize; i += 16) {
    uint64_t w1, w2;
    std::memcpy(&w1, sector + i, 8);
    std::memcpy(&w2, sector + i + 8, 8);
    a = ((a ^ w1) * kMul1);
    a = (a << 31) | (a >> 33);
    b = ((b ^ w2) * kMul2);
    b = (b << 29) | (b >> 35);
  }
  uint64_t h = a ^ ((b << 17) | (b >> 47));
  h ^= h >> 33;
  h *= kMul2;
  h ^= h >> 29;
  return h;
}

int64_t AddBytesWritten(int64_t bytesWritten, int32_t blockBytes, int64_t sectorsToWrite) {
  const int64_t sum = bytesWritten + blockBytes;
  const int64_t cap = sectorsToWrite * kSectorSize;
  return sum / kSectorSize > sectorsToWrite ? cap : sum;
}

}  // namespace brennix
