// One sequence of commands at a time per recorder, across the whole program. Whoever runs a
// burn, an erase, a tray command or a disc read-out on a recorder holds its guard for that
// time; everyone else asks first and either waits for a later turn or tells the user that the
// drive is busy. Dialogs being modal is not what keeps two workers off one drive: this is.
//
// A recorder is named by its device entry as TSCSIDevice::Device() gives it. The holder's
// text says who has it ("burning", "reading the disc"...), for messages and diagnostics.
#pragma once

#include <string>

namespace brennix {

class TDriveGuard {
 public:
  TDriveGuard() = default;  // holds nothing
  ~TDriveGuard() { Release(); }
  TDriveGuard(TDriveGuard&& other) noexcept;
  TDriveGuard& operator=(TDriveGuard&& other) noexcept;
  TDriveGuard(const TDriveGuard&) = delete;
  TDriveGuard& operator=(const TDriveGuard&) = delete;

  // The drive's guard when nobody holds it; an empty guard (Held() false) otherwise. An
  // empty drive name is never guarded and gives an empty guard.
  static TDriveGuard TryAcquire(const std::string& drive, const std::string& holder);
  // What holds the drive now, empty when nothing does.
  static std::string Holder(const std::string& drive);

  bool Held() const { return !drive_.empty(); }
  const std::string& Drive() const { return drive_; }
  void Release();

 private:
  std::string drive_;
};

}  // namespace brennix
