// A disc copied: the source disc's last volume, whole and with the files of the sessions
// before it, burned with verify onto a blank disc. To another recorder it is streamed: the
// recording's read-ahead cache reads it from the source as the target takes it, both
// recorders held until the end, and a sector of the source that cannot be read ends the copy
// by its number. In the same recorder it goes through a temporary image, read whole first (a
// sector that cannot be read ends the copy before anything is written), then the tray opens
// for a blank disc; the image is removed whatever happens.
#pragma once

#include <cstdint>
#include <string>

#include "component/blank_disc.h"
#include "component/job.h"

namespace brennix {

class TKorbBurner;
struct TBurnOptions;

struct TCopyOptions {
  bool CloseDisc = false;
  uint16_t Speed = 0;  // KB/s; 0 is the drive's fastest
  uint32_t BlankDiscWaitMs = kBlankDiscWaitMs;
  std::string TempFolder;  // where the image is kept meanwhile; empty: the system's
};

extern const char* const kCopyFailedText;   // "The copy failed."
extern const char* const kCopyStoppedText;  // "The copy was stopped."

class TCopyJob final : public TJob {
 public:
  // source and target may be one component (or two on one recorder): the discs are then
  // changed between the read and the burn. The target's recording settings are the front
  // end's (ApplyRecordingPreset) before Start.
  TCopyJob(TKorbBurner& source, TKorbBurner& target, TJobHandler& handler, TCopyOptions options);
  ~TCopyJob() override;

 private:
  TJobResult Run() override;
  bool SameRecorder() const;
  // The two ways from one disc to the other.
  TJobResult CopyStreaming();
  TJobResult CopyThroughImage();
  // Reads the source into the image; a result to end with when that did not go whole.
  bool ReadSource(const std::string& image, TJobResult& ended);
  // Opens the tray, asks for the blank disc and waits for one the image can go to.
  bool ChangeDiscs(TJobResult& ended);
  // Burns the image (a file, or one streamed from the source) with verify.
  TJobResult WriteTarget(TBurnOptions burn);

  TKorbBurner& source_;
  TKorbBurner& target_;
  TCopyOptions options_;
};

}  // namespace brennix
