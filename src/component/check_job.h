// A disc checked after the fact. With a SHA256SUMS list at the root of its last session,
// every file the list names is read through the disc's own tree and its sum compared; without
// one, every sector of the last session's volume is read. The result names each file that
// differs or cannot be read, or how many sectors cannot.
#pragma once

#include "component/job.h"

namespace brennix {

class TKorbBurner;

extern const char* const kDiscWholeText;  // "The disc is whole."

class TCheckJob final : public TJob {
 public:
  TCheckJob(TKorbBurner& burner, TJobHandler& handler);
  ~TCheckJob() override;

 private:
  TJobResult Run() override;

  TKorbBurner& burner_;
};

}  // namespace brennix
