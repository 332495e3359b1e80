// Test harness for recordings on the virtual recorder: a burner component that has selected a
// virtual drive (whose commands are logged), source trees in a temporary folder, a burn that
// waits for OnWriteDone while pumping the main-thread queue, and a read-back of the recorded
// volume with an independent reader.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "component/korb_burner.h"
#include "support/temp_folder.h"
#include "transport/drive_backend.h"
#include "virtual_recorder/media_profile.h"
#include "virtual_recorder/recorder_options.h"

namespace brennix::burntest {

using TempDir = test::TempFolder;

// Writes `size` bytes of a pattern that depends on seed (directories are created).
void WriteFile(const std::string& path, size_t size, uint32_t seed);
std::vector<uint8_t> ReadFile(const std::string& path);

// One command as the drive saw it.
struct LoggedCommand {
  uint8_t opcode = 0;
  uint32_t lba = 0;       // WRITE(10) and READ(10): the address
  uint16_t sectors = 0;   // WRITE(10) and READ(10): the transfer length
  uint8_t byte1 = 0, byte2 = 0;
};

// Passes every command to the virtual drive and keeps a log. beforeCommand may inject
// trouble (it runs on the thread that sends the command).
class LoggingDrive final : public DriveBackend {
 public:
  explicit LoggingDrive(std::shared_ptr<DriveBackend> inner) : inner_(std::move(inner)) {}
  std::string DevicePath() const override { return inner_->DevicePath(); }
  bool IsOpticalDrive() override { return true; }
  DriveHandle Open(int* errnoOut = nullptr) override { return inner_->Open(errnoOut); }
  bool QueryAddress(DriveHandle h, ScsiAddress& a) override { return inner_->QueryAddress(h, a); }
  bool PassThrough(DriveHandle handle, PassThroughRequest& request) override;
  bool Close(DriveHandle handle) override { return inner_->Close(handle); }
  DriveBusy Hold() override { return inner_->Hold(); }
  void Release() override { inner_->Release(); }

  // Scripts a fault into the virtual recorder behind this drive.
  void AddFault(const RecorderFault& fault);
  bool TrayLocked();
  std::vector<LoggedCommand> Log();
  // Number of WRITE(10) commands sent so far.
  int Writes();
  // Runs before each command is passed on; set it before the recording starts.
  std::function<void(const LoggedCommand&)> beforeCommand;

 private:
  std::shared_ptr<DriveBackend> inner_;  // a VirtualDrive
  std::mutex mutex_;
  std::vector<LoggedCommand> log_;
  int writes_ = 0;
};

struct BurnOutcome {
  bool started = false;  // Burn's result
  int doneCalls = 0;     // OnWriteDone calls
  std::string error;     // OnWriteDone's text
  int64_t bytesWritten = 0;
  bool finalizingRaised = false;
};

// A virtual recorder on disc file `disc` (created with `profile` when the file holds no
// disc), attached and selected by a fresh component.
class Rig {
 public:
  Rig(const std::string& disc, std::optional<MediaProfile> profile,
      const RecorderOptions& options = {});
  ~Rig();
  // Several virtual recorders at once, each selected by a component of its own, in order.
  // Free every component (DestroyBurner) before the first rig goes.
  static std::vector<std::unique_ptr<Rig>> Several(
      const std::vector<std::pair<std::string, MediaProfile>>& discs);
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  TKorbBurner& burner() { return *burner_; }
  void DestroyBurner() { burner_.reset(); }
  LoggingDrive& drive() { return *logging_; }

  // Fills the tree from the sources as the burn dialog does ("Save Path" unchecked:
  // everything lands in the root), then PrepareImage.
  bool Queue(const std::vector<std::string>& sources);
  // Attached and the sources queued: what most tests need before they start.
  bool Ready(const std::vector<std::string>& sources) { return ok_ && Queue(sources); }
  // Burn and wait (real time, bounded) for OnWriteDone, pumping the main-thread queue; then
  // pumps once more so that a second OnWriteDone would be counted.
  BurnOutcome Burn(const std::function<void()>& onFinalizing = {});

 private:
  Rig() = default;
  bool Select(size_t virtualIndex);

  bool ok_ = false;
  std::string error_;
  std::shared_ptr<LoggingDrive> logging_;
  std::unique_ptr<TKorbBurner> burner_;
};

// Extracts the volume of `session` (0 = the last with data) of a virtual disc with xorriso
// and compares every file with its source (path on the disc -> source file). Returns an
// empty text when all match, else what differs.
std::string CompareSession(const std::string& disc, uint32_t session,
                           const std::map<std::string, std::string>& expected);

// The same for the last session as a drive shows it (files it lists from earlier sessions
// included), extracted with xorriso, or with bsdtar when `bsdtar` is set.
std::string CompareLastSession(const std::string& disc,
                               const std::map<std::string, std::string>& expected,
                               bool bsdtar = false);

bool HaveXorriso();

}  // namespace brennix::burntest
