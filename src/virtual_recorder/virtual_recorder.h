// A software MMC drive whose disc is a file. It executes one command block at a time and
// answers as a recorder does: status, fixed-format sense and the data it transferred.
//
// The recorder is a device of its own, not part of any burner component: it guards its
// state with one internal mutex, so a writer thread and the user-interface thread may both
// send commands. Time-consuming work (writing at a simulated speed, blanking, formatting,
// closing) is not slept inside the lock; the result says how long the command takes and the
// caller waits on the shared clock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transport/drive_backend.h"
#include "virtual_recorder/disc_file.h"
#include "virtual_recorder/disc_state.h"
#include "virtual_recorder/recorder_options.h"

namespace brennix {

struct CommandResult {
  uint8_t status = 0;       // 00h good, 02h check condition, 08h busy
  uint8_t sense[18] = {};   // fixed-format sense with status 02h
  uint32_t transferred = 0;
  uint32_t durationMs = 0;  // the command completes after this long
  bool noAnswer = false;    // the command never completes
};

class VirtualRecorder {
 public:
  // Puts the disc of `path` in a new drive. Without a profile: the disc already in path, or
  // a blank CD-R when path holds none. With a profile: a fresh disc of that kind when path
  // holds no disc (or an empty one); the disc in path when it is of that kind; an error when
  // it holds another kind with data. A file with sectors but no state is taken as a disc
  // holding that image: pressed (CD-ROM, or DVD-ROM when too big for a CD) unless a profile
  // says otherwise. Profile None leaves path untouched and the drive empty.
  static std::shared_ptr<VirtualRecorder> Create(const std::string& path,
                                                 std::optional<MediaProfile> profile,
                                                 const RecorderOptions& options,
                                                 std::string& error);
  ~VirtualRecorder();
  VirtualRecorder(const VirtualRecorder&) = delete;
  VirtualRecorder& operator=(const VirtualRecorder&) = delete;

  // Runs one command. data is used for the data phase in the given direction and never
  // touched beyond dataLength.
  CommandResult Execute(const uint8_t* cdb, size_t cdbLength, DataDirection direction,
                        uint8_t* data, uint32_t dataLength);

  void AddFault(const RecorderFault& fault);
  void ClearFaults();

  const std::string& Path() const { return path_; }
  const RecorderOptions& Options() const { return options_; }
  DiscState Disc() const;
  bool TrayOpen() const;
  // PREVENT ALLOW MEDIUM REMOVAL's last word: the tray is locked.
  bool RemovalPrevented() const;
  // Commands with this operation code the drive has been sent (-1: all of them).
  uint32_t CommandsSeen(int opcode = -1) const;
  // Writes the state file now (it is also written after every change of the layout).
  bool Flush(std::string& error);
  // Writes the volume of a session of the disc in the drive as an .iso file (see
  // ExportSessionIso in session_export.h); session 0 is the last one with data.
  bool ExportSession(uint32_t session, const std::string& outPath, std::string& error);

 private:
  VirtualRecorder(std::string path, const RecorderOptions& options);

  struct ActiveFault {
    RecorderFault fault;
    uint32_t remaining = 0;
    uint64_t armedAt = 0;
  };

  class Reply;  // one command's answer under construction

  void Dispatch(const uint8_t* cdb, size_t cdbLength, Reply& reply);
  bool ApplyFault(uint8_t opcode, Reply& reply);
  uint32_t slowDelayMs_ = 0;  // what Slow faults add to the command being run
  void CurrentCondition(uint8_t sense[18]);
  // False when the state could not be saved; SaveOrFail then answers HARDWARE ERROR, for a
  // drive that cannot keep what it recorded must not report it as done.
  bool Persist(bool durable = true);
  bool SaveOrFail(Reply& reply);
  // The changer's disc change (see RecorderOptions::changer); false when it failed.
  bool ChangeDisc();
  bool MarkDirty();

  // Identity, mode pages, configuration, tray.
  void Inquiry(const uint8_t* cdb, Reply& reply);
  void RequestSense(const uint8_t* cdb, Reply& reply);
  void ModeSense(const uint8_t* cdb, Reply& reply);
  void ModeSelect(const uint8_t* cdb, Reply& reply);
  void GetConfiguration(const uint8_t* cdb, Reply& reply);
  void StartStopUnit(const uint8_t* cdb, Reply& reply);
  void PreventAllow(const uint8_t* cdb, Reply& reply);
  std::vector<uint8_t> CapabilitiesPage() const;
  std::vector<uint8_t> WriteParametersPage() const;
  std::vector<uint8_t> Page30() const;

  // The medium.
  void ReadDiscInformation(const uint8_t* cdb, Reply& reply);
  void ReadTrackInformation(const uint8_t* cdb, Reply& reply);
  void ReadToc(const uint8_t* cdb, Reply& reply);
  void ReadCapacity(const uint8_t* cdb, Reply& reply);
  void ReadFormatCapacities(const uint8_t* cdb, Reply& reply);
  void Read10(const uint8_t* cdb, Reply& reply);
  void Write10(const uint8_t* cdb, Reply& reply);
  void SynchronizeCache(const uint8_t* cdb, Reply& reply);
  void CloseTrackSession(const uint8_t* cdb, Reply& reply);
  void ReserveTrack(const uint8_t* cdb, Reply& reply);
  void SetCdSpeed(const uint8_t* cdb, Reply& reply);
  void SetStreaming(const uint8_t* cdb, Reply& reply);
  void SendOpc(const uint8_t* cdb, Reply& reply);
  void SendDvdStructure(const uint8_t* cdb, Reply& reply);
  void ReadBufferCapacity(const uint8_t* cdb, Reply& reply);
  void Blank(const uint8_t* cdb, Reply& reply);
  void FormatUnit(const uint8_t* cdb, Reply& reply);

  // Speed model.
  uint32_t WriteRateKBs() const;  // 0 = unlimited
  uint32_t MillisecondsFor(uint64_t sectors) const;
  uint64_t BufferedBytes(uint64_t now) const;
  uint32_t DrainMs(uint64_t now) const;
  // A long operation: the drive answers NOT READY 04h/ascq with progress until it ends.
  void StartLongOperation(uint32_t durationMs, uint8_t ascq, bool immediate, Reply& reply);

  const std::string path_;
  const std::string statePath_;
  const RecorderOptions options_;

  mutable std::mutex mutex_;
  DiscState disc_;
  DiscFile file_;
  bool removalPrevented_ = false;
  uint16_t writeSpeedKBs_ = 0xFFFF;  // as set; clamped to the medium when used
  uint16_t readSpeedKBs_ = 0xFFFF;
  uint8_t page05_[52] = {};
  std::optional<uint32_t> testWriteNext_;
  uint64_t drainDoneAtUs_ = 0;  // when the drive buffer runs empty, clock microseconds
  uint64_t busyStart_ = 0;
  uint64_t busyUntil_ = 0;
  uint8_t busyAscq_ = 0;
  uint32_t writesSinceSave_ = 0;
  uint64_t lastSaveMs_ = 0;  // clock milliseconds
  bool dirty_ = false;
  std::vector<ActiveFault> faults_;
  std::array<uint32_t, 256> commandsSeen_{};
};

}  // namespace brennix
