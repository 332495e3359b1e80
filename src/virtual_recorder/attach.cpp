// Placeholder until the virtual recorder lands.
#include "virtual_recorder/attach.h"

#include <cstdlib>

namespace brennix {

bool AttachVirtualRecorder(const std::string& spec, std::string& error) {
  error = "virtual recorders are not available in this build: " + spec;
  return false;
}

bool AttachVirtualRecordersFromEnvironment(std::string& error) {
  const char* list = std::getenv(kVirtualRecorderEnv);
  if (list == nullptr || *list == '\0') return true;
  return AttachVirtualRecorder(list, error);
}

}  // namespace brennix
