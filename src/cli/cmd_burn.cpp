// Placeholder: this command is not built yet.
#include "cli/commands.h"

namespace brennix::cli {

int RunBurn(const Args& /*args*/) { return UsageError("'burn' is not available yet"); }

}  // namespace brennix::cli
