// An image file: the tree from the sources, exactly as a burn builds it, its layout, and the
// image written to a file through the read-ahead cache instead of to a drive. The file is
// written under a name of its own beside the output and renamed at the end, so a run that
// fails never leaves a partial image under the name asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/queue_tree.h"
#include "component/job.h"

namespace brennix {

// A file has no buffer to keep from running empty: the smallest cache the image allows.
constexpr int32_t kImageFileCacheSize = 2097152;

struct TImageOptions {
  std::vector<std::string> Sources;
  std::string Output;
  SavePathMode SavePath = SavePathMode::None;
  std::string Label;
  bool Joliet = true;
  bool RockRidge = true;
  int32_t CacheSize = kImageFileCacheSize;
  bool Checksums = false;  // a SHA256SUMS list of the sources' files at the root
  // An image file holds any tree the format can.
  QueueLimits Limits = kFormatLimits;
};

class TImageJob final : public TJob {
 public:
  TImageJob(TJobHandler& handler, TImageOptions options);
  ~TImageJob() override;

 private:
  TJobResult Run() override;
  TJobResult Refuse(const std::string& text);

  TImageOptions options_;
};

}  // namespace brennix
