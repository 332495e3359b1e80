// The texts with which a front end follows a recording: the queue size of the confirmation
// question, the "MB Written" figures, the progress position (held at 90 % while the disc is
// closed), the drive buffer fill and the current speed as an x-factor.
#pragma once

#include <cstdint>
#include <string>

namespace brennix {

// The unit a size is shown in: bytes below 1024, then KB (1024 bytes), MB and GB, each
// `step` times the one before. NaN and negative sizes stay in bytes.
struct SizeUnit {
  const char* Name;  // "bytes", "KB", "MB", "GB"
  double Bytes;      // what one unit holds
};
SizeUnit SizeUnitOf(double bytes, double step);

// Bytes, KB, MB or GB with two decimals, each unit 1024 of the one before: the units of
// "MB Written" and of every other size the command line prints, so that one run never shows
// one size in two measures. (The desktop's size line and question keep SizeToText's.)
std::string QueueSizeText(double bytes);

// Bytes as MB of 1,048,576 with two decimals: "703.12 MB".
std::string MegabytesText(int64_t bytes);

// "MB Written: 1,234.50/4,000.00"
std::string MBWrittenText(int64_t bytesWritten, int64_t sectorsToWrite);

// Sectors sent, at most 90 % of sectorsToWrite until the recording has reported its end.
int64_t ProgressPosition(int64_t bytesWritten, int64_t sectorsToWrite);

// Percent of the drive buffer that holds data; -1 when the size is not known.
int BufferFillPercent(uint32_t bufferSize, uint32_t freeSize);

// "16.0x" on DVD, "40x" on CD, from bytes per second.
std::string XSpeedText(int16_t discType, double bytesPerSecond);

// "8.0x, 10.8 MB/s": the x-factor of XSpeedText and the rate in MB of 1,048,576 bytes.
std::string SpeedText(int16_t discType, double bytesPerSecond);

// "0:42", "12:05", "1:02:03".
std::string DurationText(int64_t seconds);

// Seconds until bytesTotal at bytesPerSecond; -1 when that is not known yet.
int64_t SecondsLeft(int64_t bytesDone, int64_t bytesTotal, double bytesPerSecond);

// The progress figures after "MB Written": "8.0x, 10.8 MB/s, 0:42 elapsed, 1:10 left". The
// speed and time left are left out while speed is 0.
std::string ProgressFiguresText(int16_t discType, double bytesPerSecond, int64_t elapsedSeconds,
                                int64_t bytesDone, int64_t bytesTotal);

struct TRecorderProgress;
// One recorder of several in a few words: "/dev/sr0 45%", "... Finalizing", "... Verifying
// 12%", "... done", "... FAILED".
std::string RecorderProgressText(const TRecorderProgress& recorder, int64_t bytesTotal);

}  // namespace brennix
