// The erase: from the recorder check to the end of the blank or format, for every front end.
// Steps: the recorder writes, the disc may be erased as asked, the recorder is free (a
// mounted disc is unmounted when the user agrees), the question, the erase, its end. The
// device belongs to the job from Start to Done; Cancel stops an erase that writes zeros,
// the only kind the program itself can stop.
#pragma once

#include "component/job.h"

namespace brennix {

class TSCSIDevice;

extern const char* const kNotErasableText;     // "This disc is not erasable."
extern const char* const kEraseCompletedText;  // "Erase process completed."
extern const char* const kEraseFailedText;     // "The erase failed."
extern const char* const kEraseStoppedText;    // "The erase was stopped."
extern const char* const kNoDiscToEraseText;   // "There is no disc in the drive. ..."

class TEraseJob final : public TJob {
 public:
  TEraseJob(TSCSIDevice& device, TJobHandler& handler, bool full);
  ~TEraseJob() override;

 private:
  struct Erase;
  TJobResult Run() override;
  void OnCancel() override;

  TSCSIDevice& device_;
  const bool full_;
};

}  // namespace brennix
