#include "recording/recording_sequences.h"

#include "device/disc_types.h"
#include "platform/clock.h"

namespace brennix {

namespace {

// Asks for the disc information, and sleeps stepMs before asking again while the drive says
// it is still becoming ready; never longer than maxMs. A drive that formats in the
// background answers at once, and costs no wait.
void WaitWhileFormatting(TRecorderDrive& drive, uint32_t stepMs, uint32_t maxMs) {
  for (uint32_t waited = 0;; waited += stepMs) {
    if (drive.ReadDiscInformation()) return;
    if (drive.LastAsc() != 0x04) return;
    if (waited + stepMs > maxMs) return;
    SleepMs(stepMs);
  }
}

}  // namespace

TPrepareResult PrepareWrite(TRecorderDrive& drive, const TWriteSettings& settings,
                            uint32_t startSector, int64_t sectorsToWrite) {
  TPrepareResult result;
  result.BufferQueryWorks = drive.ReadBufferCapacity();
  const int16_t type = drive.GetDiscType();
  result.DiscType = type;

  drive.LoadTray();
  if (type != kDiscDvdPlusRw) drive.RezeroUnit();

  drive.SetCDSpeed(settings.ReadSpeed, settings.WriteSpeed);
  drive.WaitReady(10000, 1000);
  const uint16_t currentSpeed = drive.QueryCurrentWriteSpeed();

  // The page is built as for a closing session here; the real choice is sent again right
  // before the close.
  drive.SetWriteParameters(settings.TestWrite, settings.UnderrunProtection, true, type, true,
                           false);

  if (UsesStreaming(type)) {
    const int64_t end = static_cast<int64_t>(startSector) + sectorsToWrite;
    drive.SetStreaming(startSector, static_cast<uint32_t>(end < 0 ? 0 : end),
                       StreamingSizeKB(settings.ReadSpeed), StreamingSizeKB(settings.WriteSpeed),
                       1000, 1000);
  }

  result.TrackNumber = static_cast<uint16_t>(drive.SessionCount() + 1);

  if (type == kDiscDvdR) {
    const auto descriptor = DVDRStreamingDescriptor();
    drive.SendStreamingDescriptor(descriptor.data(), static_cast<uint32_t>(descriptor.size()));
    drive.SendTimestamp();
    drive.ReserveTrack(ReserveTrackSectors(sectorsToWrite));
    drive.WaitReady(10000, 1000);
  }

  if (type != kDiscDvdRam && !settings.TestWrite && settings.PerformOPC) drive.SendOPC();

  drive.DebugMessage(std::string(">>> ") + "STARTING WRITE PROCESS ON " + DiscTypeName(type) +
                         " AT " + SpeedText(type, currentSpeed),
                     1);
  if (settings.TestWrite) drive.DebugMessage(">>> TEST/DUMMY WRITE", 1);
  return result;
}

void FormatDVDRWForRecording(TRecorderDrive& drive, int16_t discType) {
  if (!IsDVDRW(discType)) return;
  const FormatList first = discType == kDiscDvdRwSequential ? FormatList::DVDRWSequential
                                                                   : FormatList::DVDRWRestricted;
  if (!drive.FormatUnit(FormatParameterList(first))) {
    drive.FormatUnit(FormatParameterList(FormatList::DVDRWSecondTry));
  }
  WaitWhileFormatting(drive, 5000, kDVDRWFormatWaitMaxMs);
}

void FormatDVDPlusRW(TRecorderDrive& drive) {
  drive.FormatUnit(FormatParameterList(FormatList::DVDPlusRW));
  WaitWhileFormatting(drive, 2000, kDVDPlusRWFormatWaitMaxMs);
}

void RunCloseSequence(TRecorderDrive& drive, int16_t discType, uint16_t trackNumber,
                      bool finalizeDisc) {
  if (discType == kDiscDvdRam) return;
  if (!UsesCDSessionClose(discType)) {
    for (const CloseCommand& command : DVDCloseSequence(discType, trackNumber, finalizeDisc)) {
      drive.CloseTrackSession(command);
    }
    return;
  }
  // CD: a drive still busy with the lead-out is given up to 1000 more tries, 1 s apart.
  const bool immediate = drive.CloseImmediate();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    if (drive.CloseSession(false, immediate, false)) return;
    if (drive.TargetBusy() || drive.LastAsc() == 0x04) {
      SleepMs(1000);
      continue;
    }
    drive.CloseSession(false, immediate, false);
    return;
  }
}

void RestoreDrive(TRecorderDrive& drive, int16_t discType, bool finalizeDisc) {
  drive.WaitReady(240000, 5000);
  if (discType != kDiscDvdRam) drive.ReadBufferCapacity();
  drive.SetWriteParameters(false, false, false, 1, finalizeDisc, false);
  drive.SetCDSpeed(drive.QueryMaxReadSpeed(), 2);
  drive.RezeroUnit();
  drive.AllowRemoval();
  drive.LoadTray();
  drive.RezeroUnit();
  drive.TestUnitReady(5000);
}

}  // namespace brennix
