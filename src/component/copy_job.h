// A disc copied: the source disc's last volume, whole and with the files of the sessions
// before it, read into a temporary image and burned from there, with verify, onto a blank
// disc, in another recorder or, after a change of discs, in the same one. The image is
// removed whatever happens. A sector of the source that cannot be read ends the copy before
// anything is written.
#pragma once

#include <cstdint>
#include <string>

#include "component/job.h"

namespace brennix {

class TKorbBurner;

// How long the same recorder waits for the blank disc once its tray has opened.
constexpr uint32_t kBlankDiscWaitMs = 10 * 60 * 1000;

struct TCopyOptions {
  bool CloseDisc = false;
  uint16_t Speed = 0;  // KB/s; 0 is the drive's fastest
  uint32_t BlankDiscWaitMs = kBlankDiscWaitMs;
  std::string TempFolder;  // where the image is kept meanwhile; empty: the system's
};

extern const char* const kInsertBlankDiscText;  // "Insert a blank disc into the recorder ..."
extern const char* const kCopyFailedText;       // "The copy failed."
extern const char* const kCopyStoppedText;      // "The copy was stopped."

// "NO BLANK DISC CAME INTO THE RECORDER WITHIN 10 MINUTES"
std::string NoBlankDiscText(uint32_t waitedMs);

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
  // The way the data goes from one disc to the other. Through a file serves both cases; a
  // copy to another recorder could take the data straight from the source instead, and Run
  // would pick that way for it.
  TJobResult CopyThroughImage();
  // Reads the source into the image; a result to end with when that did not go whole.
  bool ReadSource(const std::string& image, TJobResult& ended);
  // Opens the tray, asks for the blank disc and waits for one the image can go to.
  bool ChangeDiscs(TJobResult& ended);
  TJobResult WriteTarget(const std::string& image);

  TKorbBurner& source_;
  TKorbBurner& target_;
  TCopyOptions options_;
};

}  // namespace brennix
