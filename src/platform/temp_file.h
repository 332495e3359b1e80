// A new file beside another, for writing a replacement that a rename then puts in place.
#pragma once

#include <string>
#include <sys/types.h>

namespace brennix {

// Creates "<path>.<six random characters><suffix>" exclusively (O_CREAT | O_EXCL |
// O_NOFOLLOW): it is never a file that existed, and a symbolic link planted at its name is
// never followed. Each call gets a name of its own, so two runs never share one. Returns the
// descriptor (write-only, close-on-exec) and sets `created`; -1 with errno on failure.
int CreateFileBeside(const std::string& path, const std::string& suffix, mode_t mode,
                     std::string& created);

}  // namespace brennix
