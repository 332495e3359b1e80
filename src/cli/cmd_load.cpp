// Placeholder: this command is not built yet.
#include "cli/commands.h"

namespace brennix::cli {

int RunLoad(const Args& /*args*/) { return UsageError("'load' is not available yet"); }

}  // namespace brennix::cli
