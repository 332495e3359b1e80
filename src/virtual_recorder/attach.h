// Attaching virtual recorders: software MMC drives whose disc is a file.
#pragma once

#include <string>

namespace brennix {

// The environment variable that lists virtual recorders for every front end, separated
// by ';', each as PATH[:PROFILE].
constexpr const char* kVirtualRecorderEnv = "BRENNIX_VIRTUAL_RECORDERS";

// Attaches one virtual recorder given as PATH[:PROFILE]. False with a message in error
// when the text is malformed or the disc file cannot be used.
bool AttachVirtualRecorder(const std::string& spec, std::string& error);

// Attaches every recorder listed in kVirtualRecorderEnv; false with a message on the first
// bad entry.
bool AttachVirtualRecordersFromEnvironment(std::string& error);

}  // namespace brennix
