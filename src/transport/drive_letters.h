// Linux has no drive letters: the optical drives get letters from D upward in the order found,
// the /dev/sr* drives first (in numeric order), then the registered extra drives (virtual
// recorders). This table is what the emulation scans as "drive kind".
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "transport/drive_backend.h"

namespace brennix {

constexpr unsigned kFirstDriveLetterIndex = 3;  // D
constexpr unsigned kDriveLetterSlots = 27;

using DriveLetterTable = std::array<std::shared_ptr<DriveBackend>, kDriveLetterSlots>;
using DriveLister = std::function<std::vector<std::shared_ptr<DriveBackend>>()>;

// Fills the slots from D; drives beyond Z (index 25) get no letter.
DriveLetterTable BuildDriveLetterTable();

// Replaces the scan of /dev/sr* (tests: a machine's own drives must not leak into them).
// An empty function restores the scan.
void SetRealDriveLister(DriveLister lister);
std::vector<std::shared_ptr<DriveBackend>> ListRealDrives();

}  // namespace brennix
