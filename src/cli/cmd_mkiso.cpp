// Placeholder: this command is not built yet.
#include "cli/commands.h"

namespace brennix::cli {

int RunMkiso(const Args& /*args*/) { return UsageError("'mkiso' is not available yet"); }

}  // namespace brennix::cli
