#include "burn_recorder.h"

#include "virtual_recorder/attach.h"
#include "virtual_recorder/virtual_drive.h"

namespace brennix::burntest {

std::shared_ptr<DriveBackend> AttachRecorder(const std::string& recorderText,
                                             const RecorderOptions& options, std::string& error) {
  return AttachVirtualRecorder(recorderText, options, error);
}

void AddRecorderFault(DriveBackend& recorder, const RecorderFault& fault) {
  static_cast<VirtualDrive&>(recorder).Recorder().AddFault(fault);
}

bool RecorderTrayLocked(DriveBackend& recorder) {
  return static_cast<VirtualDrive&>(recorder).Recorder().RemovalPrevented();
}

}  // namespace brennix::burntest
