// Placeholder: this command is not built yet.
#include "cli/commands.h"

namespace brennix::cli {

int RunDevices(const Args& /*args*/) { return UsageError("'devices' is not available yet"); }

}  // namespace brennix::cli
