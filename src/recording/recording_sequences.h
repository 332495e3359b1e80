// The command sequences around the data of a recording: preparing the drive, formatting a
// rewritable DVD on the way, closing track and session for each disc type, and giving the
// drive back in its plain state.
#pragma once

#include <cstdint>

#include "recording/recorder_drive.h"

namespace brennix {

// The component's options that a recording reads.
struct TWriteSettings {
  bool TestWrite = false;
  bool UnderrunProtection = true;
  bool FinalizeDisc = false;
  bool FinalizeTrack = true;
  bool PerformOPC = false;
  bool Verify = false;  // read the new session back after a successful close
  uint16_t ReadSpeed = 0;   // KB/s, 0 = maximum
  uint16_t WriteSpeed = 0;  // KB/s, 0 = maximum
};

struct TPrepareResult {
  int16_t DiscType = 0;
  uint16_t TrackNumber = 1;
  bool BufferQueryWorks = false;
};

// Bounds of the waits that end only when the drive is ready again after a format, and of
// the wait for a DVD-R or DVD-RW to finish writing out its buffer after the flush. A drive
// that is still busy then is left to itself; the recording goes on.
constexpr uint32_t kDVDRWFormatWaitMaxMs = 20 * 60 * 1000;
constexpr uint32_t kDVDPlusRWFormatWaitMaxMs = 20 * 60 * 1000;
constexpr uint32_t kFlushDrainMaxSteps = 960;  // 1 s each

// Prepares the drive for the first data sector. Failing commands here do not stop the
// recording: the first WRITE tells.
TPrepareResult PrepareWrite(TRecorderDrive& drive, const TWriteSettings& settings,
                            uint32_t startSector, int64_t sectorsToWrite);

// Formats a DVD-RW (types 8 and 9) at the start of a recording and waits, in 5 s steps,
// while the drive reports itself not ready. Other disc types are left alone.
void FormatDVDRWForRecording(TRecorderDrive& drive, int16_t discType);

// Formats a DVD+RW that refused its first write as unformatted, and waits in 2 s steps.
void FormatDVDPlusRW(TRecorderDrive& drive);

// Closes track and session as the disc type requires (nothing for DVD-RAM).
void RunCloseSequence(TRecorderDrive& drive, int16_t discType, uint16_t trackNumber,
                      bool finalizeDisc);

// After the data (and closing): ready wait, plain track-at-once page, read speed back to the
// maximum, tray loaded and unlocked.
void RestoreDrive(TRecorderDrive& drive, int16_t discType, bool finalizeDisc);

}  // namespace brennix
