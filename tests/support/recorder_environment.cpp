#include "support/recorder_environment.h"

#include <stdlib.h>

namespace brennix::test {

namespace {
const char* const kVariable = "BRENNIX_VIRTUAL_RECORDER_OPTIONS";
}  // namespace

RecorderEnvironment::RecorderEnvironment(const std::string& options) {
  ::setenv(kVariable, options.c_str(), 1);
}

RecorderEnvironment::~RecorderEnvironment() { ::unsetenv(kVariable); }

}  // namespace brennix::test
