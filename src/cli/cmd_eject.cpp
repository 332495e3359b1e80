// Placeholder: this command is not built yet.
#include "cli/commands.h"

namespace brennix::cli {

int RunEject(const Args& /*args*/) { return UsageError("'eject' is not available yet"); }

}  // namespace brennix::cli
