// The names of the SCSI operation codes, for the failed-command line.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace brennix {

// Entries 0..254; every name is 22 characters (padded with spaces), unnamed codes are their
// two upper-case hex digits. 255 has no entry.
const std::array<std::string, 255>& CommandNames();
// The name of an operation code, empty for 255.
std::string CommandName(uint8_t opcode);

}  // namespace brennix
