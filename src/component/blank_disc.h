// The next disc of a copy or of several in turn: the recorder's tray opens, the person is
// asked for a blank disc, and the job waits, bounded and abortable, until the recorder
// holds a disc an image can go to (blank, or one written over from its start). One wait for
// every front end: brennix-cli's --copies and the copy job run this job.
#pragma once

#include <cstdint>
#include <string>

#include "component/job.h"

namespace brennix {

class TKorbBurner;

// How long the wait lasts once the tray has opened.
constexpr uint32_t kBlankDiscWaitMs = 10 * 60 * 1000;

extern const char* const kInsertBlankDiscText;  // "Insert a blank disc into the recorder ..."

// "NO BLANK DISC CAME INTO THE RECORDER WITHIN 10 MINUTES"
std::string NoBlankDiscText(uint32_t waitedMs);

// Whether the disc in the recorder can take an image: blank, or written over from its start.
bool TakesImage(TKorbBurner& burner);

// Ejects, tells kInsertBlankDiscText, reports Preparing and waits. Completed when a disc came;
// Failed with NoBlankDiscText when none came within waitMs; Failed, Stopped, with
// kAbortedByUser when cancelled (or the owner leaves).
class TBlankDiscJob final : public TJob {
 public:
  TBlankDiscJob(TKorbBurner& burner, TJobHandler& handler, uint32_t waitMs = kBlankDiscWaitMs);
  ~TBlankDiscJob() override;

 private:
  TJobResult Run() override;

  TKorbBurner& burner_;
  uint32_t waitMs_;
};

}  // namespace brennix
