// The burn: from the recorder check to the end of the recording, for every front end. Steps:
// the recorder is free (a mounted disc is unmounted when the user agrees), the options, the
// tree from the sources, the layout, the disc check, the disc's earlier files, layout and
// check again, the question, the recording, its end. The component belongs to the job from
// Start to Done.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/image_file.h"
#include "component/queue_tree.h"
#include "component/job.h"

namespace brennix {

class TKorbBurner;

struct TBurnOptions {
  std::vector<QueueSource> Sources;
  SavePathMode SavePath = SavePathMode::None;
  std::string Label;  // blanks before and after are dropped
  bool Joliet = true;
  bool RockRidge = true;
  bool CloseDisc = false;
  bool TestWrite = false;
  bool Verify = false;
  bool Import = true;   // keep the files of the disc's last session
  uint16_t Speed = 0;   // KB/s; 0 is the drive's fastest
  bool Checksums = false;  // a SHA256SUMS list of the sources' files at the root
  // An image file to write as it is in place of the sources (then Sources, SavePath,
  // Label, Joliet, RockRidge and Import do not apply).
  std::string ImageFile;
  // Or, in its place, an image already inspected whose sectors come from its Source as they
  // are written (a disc copied to another recorder); used when Source is set.
  TImageFile StreamedImage;
  // How this front end turns the import off, added to the message of a disc whose files
  // cannot be read (" (--no-import ...)" or a line about the check box).
  std::string ImportOffHint;
  // How large the tree may grow: the dialog keeps its own limits, the command line takes
  // what the format holds.
  QueueLimits Limits = kDialogLimits;
};

// "Please add one or more files to the burn queue and try again."
extern const char* const kEmptyQueueText;
extern const char* const kBurnCompletedText;
extern const char* const kBurnFailedText;   // "The burn failed."
extern const char* const kBurnStoppedText;  // "The burn was stopped."
extern const char* const kVerifiedText;
// The question's note when the earlier files are not kept and the disc holds data.
extern const char* const kOverwriteText;

// One line for a source left out or renamed, or a file of the disc not kept:
// "NOT KEPT: /big.bin (its data was not completely written)".
std::string SkippedLine(const TSkippedSource& s);

class TBurnJob final : public TJob {
 public:
  // With more recorders (each a component selected on a recorder of its own, and kept
  // alive until the job is done), the same image goes to every disc at once: the earlier
  // files are not kept, and every disc must take the image at the same sector.
  TBurnJob(TKorbBurner& burner, TJobHandler& handler, TBurnOptions options,
           std::vector<TKorbBurner*> more = {});
  ~TBurnJob() override;

 private:
  struct Recording;
  TJobResult Run() override;
  void OnCancel() override;
  TJobResult Record(int leftOut);
  TJobResult RunImage();
  // Each further recorder is free and its disc takes the image: empty, else the refusal.
  std::string CheckMoreRecorders();
  std::vector<TKorbBurner*> Recorders() const;
  void AddRecordersNote(TJobQuestion& question) const;

  TKorbBurner& burner_;
  TBurnOptions options_;
  std::vector<TKorbBurner*> more_;
  int emptyFolders_ = 0;  // folders of the sources that hold no file
  std::string checksumFolder_;  // the SHA256SUMS list's temporary folder, removed at the end
};

}  // namespace brennix
