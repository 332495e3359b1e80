#include "transport/drive_letters.h"

#include <mutex>

#include "transport/sg_drive.h"

namespace brennix {

namespace {
std::mutex g_listerMutex;
DriveLister g_lister;
}  // namespace

void SetRealDriveLister(DriveLister lister) {
  std::lock_guard lock(g_listerMutex);
  g_lister = std::move(lister);
}

std::vector<std::shared_ptr<DriveBackend>> ListRealDrives() {
  DriveLister lister;
  {
    std::lock_guard lock(g_listerMutex);
    lister = g_lister;
  }
  if (lister) return lister();
  std::vector<std::shared_ptr<DriveBackend>> drives;
  for (const std::string& path : ScanOpticalDeviceNodes("/dev"))
    drives.push_back(std::make_shared<SgDriveBackend>(path));
  return drives;
}

DriveLetterTable BuildDriveLetterTable() {
  DriveLetterTable table;
  unsigned next = kFirstDriveLetterIndex;
  auto place = [&](const std::vector<std::shared_ptr<DriveBackend>>& drives) {
    for (const auto& drive : drives) {
      // Index 26 follows Z and never names a drive.
      if (next >= kDriveLetterSlots - 1) return;
      if (drive) table[next++] = drive;
    }
  };
  place(ListRealDrives());
  place(ExtraDrives());
  return table;
}

}  // namespace brennix
