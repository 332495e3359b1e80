// The whole of a file a test wrote or read back.
#pragma once

#include <string>

namespace brennix::test {

// Its bytes; "<missing>" when it cannot be opened.
std::string FileContent(const std::string& path);

}  // namespace brennix::test
