// What the burn and erase dialogs need of the window that opens them: the burn queue, the
// "Save Path" state, the volume label, the recorder chosen there and its selector, and the
// virtual recorders it works with. The main window implements it; tests bring their own.
// The opener selects its recorder again once a dialog has closed.
#pragma once

#include <QString>
#include <Qt>

#include <string>
#include <vector>

namespace brennix {

// One row of the burn queue: a source path (a folder's ends with '/') and, for a folder,
// whether its subfolders go along.
struct QueueRow {
  std::string path;
  bool recursive = false;
};

class TDialogHost {
 public:
  virtual ~TDialogHost() = default;
  virtual std::vector<QueueRow> QueueRows() const = 0;
  // Checked keeps each source's folder path, partially checked its last folder only,
  // unchecked none.
  virtual Qt::CheckState SavePathState() const = 0;
  virtual QString VolumeLabel() const = 0;
  // The entry shown by the recorder selector.
  virtual QString RecorderText() const = 0;
  // Locked while a dialog writes, so nobody re-selects the drive under the recording.
  virtual void SetRecorderSelectorEnabled(bool enabled) = 0;
  // PATH[:PROFILE] of every virtual recorder the window offers.
  virtual std::vector<std::string> VirtualRecorders() const = 0;
};

}  // namespace brennix
