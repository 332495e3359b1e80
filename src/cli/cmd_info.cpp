// Placeholder: this command is not built yet.
#include "cli/commands.h"

namespace brennix::cli {

int RunInfo(const Args& /*args*/) { return UsageError("'info' is not available yet"); }

}  // namespace brennix::cli
