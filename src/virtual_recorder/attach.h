// Attaching virtual recorders: software MMC drives whose disc is a file.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "virtual_recorder/media_profile.h"
#include "virtual_recorder/recorder_options.h"
#include "virtual_recorder/virtual_drive.h"

namespace brennix {

// The environment variable that lists virtual recorders for every front end, separated
// by ';', each as PATH[:PROFILE].
constexpr const char* kVirtualRecorderEnv = "BRENNIX_VIRTUAL_RECORDERS";
// Settings for every virtual recorder attached from a front end, as
// "key=value,key=value" (see ParseRecorderOptions), e.g. "speed=simulated".
constexpr const char* kVirtualRecorderOptionsEnv = "BRENNIX_VIRTUAL_RECORDER_OPTIONS";

// Splits PATH[:PROFILE]. The part after the last colon is the profile only when it is one
// of the profile names, so a path that contains colons still works.
void SplitRecorderText(const std::string& recorderText, std::string& path,
                       std::optional<MediaProfile>& profile);

// Creates a virtual recorder for PATH[:PROFILE] with the given options and registers it as
// an extra drive. Null with a message in error when the disc file cannot be used, or when
// the word after the last colon is no profile name and no file of the whole name exists.
std::shared_ptr<VirtualDrive> AttachVirtualRecorder(const std::string& recorderText,
                                                    const RecorderOptions& options,
                                                    std::string& error);

// Attaches one virtual recorder given as PATH[:PROFILE], with the options of
// kVirtualRecorderOptionsEnv. False with a message in error when the text is malformed or
// the disc file cannot be used.
bool AttachVirtualRecorder(const std::string& recorderText, std::string& error);

// Recognises "--virtual-recorder PATH[:PROFILE]" and "--virtual-recorder=PATH[:PROFILE]" at
// args[i] and attaches that recorder. Returns the number of words used (0: args[i] is not
// this option), or -1 with a message in error. `unusable`, when given, tells a disc file that
// cannot be used (in use by another program, not readable) from words that are wrong.
int AttachVirtualRecorderOption(const std::vector<std::string>& args, size_t i,
                                std::string& error, bool* unusable = nullptr);

// Attaches every recorder listed in kVirtualRecorderEnv; false with a message on the first
// bad entry (`unusable` as above).
bool AttachVirtualRecordersFromEnvironment(std::string& error, bool* unusable = nullptr);

}  // namespace brennix
