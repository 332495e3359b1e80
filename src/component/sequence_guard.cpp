#include "component/sequence_guard.h"

#include <map>
#include <mutex>
#include <utility>

namespace brennix {

namespace {

// The component's registry of held drives: drive entry -> holder.
std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}

std::map<std::string, std::string>& Registry() {
  static std::map<std::string, std::string> held;
  return held;
}

}  // namespace

TDriveGuard::TDriveGuard(TDriveGuard&& other) noexcept : drive_(std::exchange(other.drive_, {})) {}

TDriveGuard& TDriveGuard::operator=(TDriveGuard&& other) noexcept {
  if (this != &other) {
    Release();
    drive_ = std::exchange(other.drive_, {});
  }
  return *this;
}

TDriveGuard TDriveGuard::TryAcquire(const std::string& drive, const std::string& holder) {
  TDriveGuard guard;
  if (drive.empty()) return guard;
  const std::lock_guard lock(RegistryLock());
  if (Registry().emplace(drive, holder.empty() ? std::string("busy") : holder).second)
    guard.drive_ = drive;
  return guard;
}

std::string TDriveGuard::Holder(const std::string& drive) {
  const std::lock_guard lock(RegistryLock());
  const auto found = Registry().find(drive);
  return found == Registry().end() ? std::string() : found->second;
}

void TDriveGuard::Release() {
  if (drive_.empty()) return;
  const std::lock_guard lock(RegistryLock());
  Registry().erase(drive_);
  drive_.clear();
}

}  // namespace brennix
