// Placeholder: this command is not built yet.
#include "cli/commands.h"

namespace brennix::cli {

int RunErase(const Args& /*args*/) { return UsageError("'erase' is not available yet"); }

}  // namespace brennix::cli
