#include "virtual_recorder/attach.h"

#include <sys/stat.h>

#include <cstdlib>
#include <sstream>

#include "virtual_recorder/virtual_drive.h"

namespace brennix {

namespace {

uint8_t HostAfterRealAdapters() {
  uint8_t next = 0;
  for (unsigned host = 0; host < 255; ++host) {
    struct stat info {};
    const std::string path = "/sys/class/scsi_host/host" + std::to_string(host);
    if (::stat(path.c_str(), &info) == 0) next = static_cast<uint8_t>(host + 1);
  }
  return next;
}

}  // namespace

void SplitRecorderText(const std::string& recorderText, std::string& path,
                       std::optional<MediaProfile>& profile) {
  path = recorderText;
  profile.reset();
  const size_t colon = recorderText.rfind(':');
  if (colon == std::string::npos) return;
  const auto named = ProfileFromName(recorderText.substr(colon + 1));
  if (!named) return;
  path = recorderText.substr(0, colon);
  profile = named;
}

namespace {

std::shared_ptr<VirtualDrive> Attach(const std::string& recorderText,
                                     const RecorderOptions& options, std::string& error,
                                     bool* unusable) {
  std::string path;
  std::optional<MediaProfile> profile;
  SplitRecorderText(recorderText, path, profile);
  if (path.empty()) {
    error = "virtual recorder '" + recorderText + "' has no disc file path";
    return nullptr;
  }
  // A word after the last colon that is no profile name is taken for a mistyped profile,
  // not for part of a new file's name: only an existing disc file may end that way.
  const size_t colon = recorderText.rfind(':');
  struct stat info {};
  if (!profile && colon != std::string::npos &&
      recorderText.find('/', colon) == std::string::npos &&
      ::stat(recorderText.c_str(), &info) != 0) {
    error = "virtual recorder '" + recorderText + "': unknown profile '" +
            recorderText.substr(colon + 1) + "'";
    return nullptr;
  }
  auto recorder = VirtualRecorder::Create(path, profile, options, error);
  if (!recorder) {
    if (unusable != nullptr) *unusable = true;
    return nullptr;
  }
  ScsiAddress address;
  if (options.address) {
    address = *options.address;
  } else {
    address.PortNumber = HostAfterRealAdapters();
    address.TargetId = static_cast<uint8_t>(ExtraDrives().size());
  }
  auto drive = std::make_shared<VirtualDrive>(std::move(recorder), address);
  RegisterExtraDrive(drive);
  return drive;
}

bool AttachWithEnvironmentOptions(const std::string& recorderText, std::string& error,
                                  bool* unusable) {
  RecorderOptions options;
  const char* settings = std::getenv(kVirtualRecorderOptionsEnv);
  if (settings != nullptr && !ParseRecorderOptions(settings, options, error)) return false;
  return Attach(recorderText, options, error, unusable) != nullptr;
}

}  // namespace

std::shared_ptr<VirtualDrive> AttachVirtualRecorder(const std::string& recorderText,
                                                    const RecorderOptions& options,
                                                    std::string& error) {
  return Attach(recorderText, options, error, nullptr);
}

bool AttachVirtualRecorder(const std::string& recorderText, std::string& error) {
  return AttachWithEnvironmentOptions(recorderText, error, nullptr);
}

int AttachVirtualRecorderOption(const std::vector<std::string>& args, size_t i,
                                std::string& error, bool* unusable) {
  static const std::string option = "--virtual-recorder";
  if (i >= args.size()) return 0;
  const std::string& word = args[i];
  if (word == option) {
    if (i + 1 >= args.size()) {
      error = option + " needs PATH[:PROFILE]";
      return -1;
    }
    return AttachWithEnvironmentOptions(args[i + 1], error, unusable) ? 2 : -1;
  }
  if (word.rfind(option + "=", 0) == 0)
    return AttachWithEnvironmentOptions(word.substr(option.size() + 1), error, unusable) ? 1
                                                                                          : -1;
  return 0;
}

bool AttachVirtualRecordersFromEnvironment(std::string& error, bool* unusable) {
  const char* list = std::getenv(kVirtualRecorderEnv);
  if (list == nullptr || *list == '\0') return true;
  std::istringstream in(list);
  std::string entry;
  while (std::getline(in, entry, ';')) {
    if (entry.empty()) continue;
    if (!AttachWithEnvironmentOptions(entry, error, unusable)) return false;
  }
  return true;
}

}  // namespace brennix
