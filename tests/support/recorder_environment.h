// The virtual recorder's options (scripted faults, bad sectors, its speed) for every
// brennix-cli a test starts while this lives; BRENNIX_VIRTUAL_RECORDER_OPTIONS is unset again
// afterwards.
#pragma once

#include <string>

namespace brennix::test {

class RecorderEnvironment {
 public:
  explicit RecorderEnvironment(const std::string& options);  // "fault=slow:2a:1:700ms,..."
  ~RecorderEnvironment();
  RecorderEnvironment(const RecorderEnvironment&) = delete;
  RecorderEnvironment& operator=(const RecorderEnvironment&) = delete;
};

}  // namespace brennix::test
