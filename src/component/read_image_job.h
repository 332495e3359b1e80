// A disc saved as an image file: the last session's volume, whole and with the files of the
// sessions before it (or one session's, or every recorded sector), read in 32-sector
// chunks with bounded retries. A sector that stays unreadable is written as zeros and listed
// in OUT.bad; the file is written as OUT.part and renamed when it is complete, and a second
// run with Resume reads only what is missing and what was bad.
#pragma once

#include <cstdint>
#include <string>

#include "component/job.h"

namespace brennix {

class TKorbBurner;

struct TReadImageOptions {
  std::string Out;
  uint16_t Session = 0;  // 0: the last one that holds a volume
  bool All = false;      // every recorded sector, whatever the volumes say
  bool Resume = false;
};

extern const char* const kImageSavedText;       // "Disc image saved."
extern const char* const kImageIncompleteText;  // "Disc image saved with unreadable sectors."

class TReadImageJob final : public TJob {
 public:
  TReadImageJob(TKorbBurner& burner, TJobHandler& handler, TReadImageOptions options);
  ~TReadImageJob() override;

 private:
  TJobResult Run() override;

  TKorbBurner& burner_;
  TReadImageOptions options_;
};

}  // namespace brennix
