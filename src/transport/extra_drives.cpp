#include <mutex>

#include "transport/drive_backend.h"

namespace brennix {

namespace {
std::mutex g_extraMutex;
std::vector<std::shared_ptr<DriveBackend>> g_extraDrives;
}  // namespace

void RegisterExtraDrive(std::shared_ptr<DriveBackend> drive) {
  std::lock_guard lock(g_extraMutex);
  g_extraDrives.push_back(std::move(drive));
}

void ClearExtraDrives() {
  std::lock_guard lock(g_extraMutex);
  g_extraDrives.clear();
}

std::vector<std::shared_ptr<DriveBackend>> ExtraDrives() {
  std::lock_guard lock(g_extraMutex);
  return g_extraDrives;
}

}  // namespace brennix
