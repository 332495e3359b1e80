// The virtual recorder as the burn tests need it, declared without the recorder's own class
// (whose header cannot share a file with the component's).
#pragma once

#include <memory>
#include <string>

#include "transport/drive_backend.h"
#include "virtual_recorder/recorder_options.h"

namespace brennix::burntest {

// Attaches a virtual recorder (registered as an extra drive); null with a message on failure.
std::shared_ptr<DriveBackend> AttachRecorder(const std::string& recorderText,
                                             const RecorderOptions& options, std::string& error);

// Scripts a fault into the virtual recorder that AttachRecorder returned.
void AddRecorderFault(DriveBackend& recorder, const RecorderFault& fault);
// The recorder's tray is locked (PREVENT ALLOW MEDIUM REMOVAL's last word).
bool RecorderTrayLocked(DriveBackend& recorder);

}  // namespace brennix::burntest
