// Writes the volume of one session of a virtual disc out as an ordinary .iso file.
#pragma once

#include <cstdint>
#include <string>

namespace brennix {

// Session 0 means the last session that holds data. The volume's own addresses are those
// of the disc, so the file keeps every sector of the session at its disc address (the
// sectors before it are holes); for a later session the system area and volume
// descriptors at the session's start are also placed at the start of the file, where a
// reader looks for them. The first session of a disc comes out as the plain image.
// With earlierData, the sectors before a later session are copied too (the descriptor set
// still taken from the session): the volume then reads as a drive shows it, files that a
// later session lists from earlier ones included.
bool ExportSessionIso(const std::string& discPath, uint32_t session, const std::string& outPath,
                      std::string& error, bool earlierData = false);

}  // namespace brennix
