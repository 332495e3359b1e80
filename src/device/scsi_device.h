// TSCSIDevice: the selected recorder and every command that does not write data. One command
// runs at a time through the ASPI entry points; a failure leaves LastErrorText, LastSense and
// TargetBusy describing it. The burner component derives from this class.
//
// Further commands are member functions defined in their own .cpp files in this folder; each
// is a CDB builder (cdb.h) plus one RunCommand call.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/cdb.h"
#include "device/disc_answers.h"
#include "transport/drive_backend.h"
#include "transport/srb.h"

namespace brennix {

class TEraseThread;

constexpr uint8_t kNoDeviceAddress = 254;
constexpr int kExecNotSent = 0xE2;  // ExecSCSICommand: no transport or no device selected
constexpr uint32_t kMinimumCommandTimeoutMs = 10000;
constexpr uint8_t kNoDeviceType = 0x7F;

// Capabilities bits of the selected device.
namespace cap {
constexpr uint32_t ReadCDR = 0x00000001, ReadCDRW = 0x00000002, Method2 = 0x00000004,
                   ReadDVDROM = 0x00000008, ReadDVDR = 0x00000010, ReadDVDRW = 0x00000020,
                   ReadDVDRAM = 0x00000040, ReadDVDPlusR = 0x00000080,
                   ReadDVDPlusRDL = 0x00000100, ReadDVDPlusRW = 0x00000200,
                   WriteCDR = 0x00000400, WriteCDRW = 0x00000800,
                   TestWriteCapable = 0x00001000, WriteDVDR = 0x00002000,
                   WriteDVDRW = 0x00004000, WriteDVDRAM = 0x00008000,
                   WriteDVDPlusR = 0x00010000, WriteDVDPlusRDL = 0x00020000,
                   WriteDVDPlusRW = 0x00040000, UnderrunFree = 0x00100000;
}  // namespace cap

// WriteModes bits.
namespace wmode {
constexpr uint8_t RAW = 0x01, SAO = 0x02, TAO = 0x04;
}

// Process-wide drive quirks (the erase and readiness waits of every component read them).
extern std::atomic<bool> SlowReadyQuirk;
extern std::atomic<bool> CloseImmediate;

class TSCSIDevice {
 public:
  using TOnDebugMsg = std::function<void(TSCSIDevice* Sender, const std::string& Message, uint8_t mType)>;
  using TDeviceChangedEvent = std::function<void(TSCSIDevice* Sender)>;
  using TEraseDoneEvent = std::function<void(TSCSIDevice* Sender, bool WithError)>;

  // When a transport is already up (another component started it), inquires adapter 0 and
  // lists the devices.
  TSCSIDevice();
  virtual ~TSCSIDevice();
  TSCSIDevice(const TSCSIDevice&) = delete;
  TSCSIDevice& operator=(const TSCSIDevice&) = delete;

  // ---- Running commands -------------------------------------------------------------------
  // Runs one request block on the selected device. Returns 1, or E2h when nothing was sent
  // (no transport, no device). Success is SRB_Status == SS_COMP.
  int ExecSCSICommand(SRB_ExecSCSICmd& srb, uint32_t Timeout);
  // Fills a request block (sense length 24, flags from the direction) and runs it; true when
  // it completed with SS_COMP. LastDataTransferred() then tells how much of buffer the drive
  // filled; nothing past it may be read.
  bool RunCommand(const Cdb& cdb, DataDirection direction, void* buffer, uint32_t length,
                  uint32_t timeoutMs);
  uint32_t LastDataTransferred() const { return lastDataTransferred_; }
  // The part of buffer (size bytes) that the last command filled.
  std::span<const uint8_t> Received(const void* buffer, size_t size) const {
    return {static_cast<const uint8_t*>(buffer), std::min<size_t>(lastDataTransferred_, size)};
  }
  void DebugMessage(const std::string& Message, uint8_t mType);

  // ---- Command wrappers -------------------------------------------------------------------
  bool TestUnitReady(uint32_t Timeout);
  bool Inquiry();
  bool RequestSense(void* Buffer, uint8_t Length);
  bool RezeroUnit();
  bool FormatUnit(uint8_t Byte1, const void* ParamList, uint32_t Length);
  // Goes through TransferBuffer; copied to Buffer on success (at most Length bytes, the part
  // past what the drive returned zeroed).
  bool ModeSense10(uint8_t Page, bool Defaults, void* Buffer, uint16_t Length);
  bool ModeSelect10(const void* ParamList, uint16_t Length);
  bool GetConfiguration(uint8_t RT, uint16_t Feature, uint16_t Length, void* Buffer);
  // true allows removal, false prevents it.
  bool PreventAllowRemoval(bool Allow);
  // true ejects, false loads.
  bool StartStopUnit(bool Eject);
  bool ReadDiscInformation(void* Buffer, uint16_t Length);
  bool ReadTrackInformation(uint32_t Track);  // 40 bytes into TrackInfo
  bool ReadTOC(uint8_t Format, void* Buffer, uint8_t Track, bool MSF, uint8_t Control,
               uint16_t Length);
  bool Read10(uint32_t Address, uint16_t Blocks, void* Buffer, uint32_t Length);
  bool ReadCapacity();          // 8 bytes into ParameterBuffer
  bool ReadFormatCapacities();  // 248 bytes into FormatCapacities
  bool Blank(uint8_t Type);

  // ---- Discovery and capabilities ---------------------------------------------------------
  bool InitializeASPI(bool UseSPTI, const std::string& LibraryPath);
  void HostAdapterInquiry(uint8_t adapter);
  void RefreshDevices();
  // The selected device's letter; 0 when none is found.
  char DriveLetter();
  // The drive behind the selected device as the transport serves it: a node or a virtual
  // recorder. Null when none is selected, or when a manager library serves the drives.
  std::shared_ptr<DriveBackend> SelectedBackend() const;
  // The entry of Devices whose drive's path satisfies matches; empty when none does.
  std::string EntryServing(const std::function<bool(const std::string& path)>& matches) const;
  const std::string& Device() const { return device_; }
  // Selects the device of a device-list entry ("H:T:L,X: ..."); an unusable entry deselects.
  void SetDevice(const std::string& E);
  bool ReadCapabilities();
  uint16_t QueryMaxReadSpeed();
  uint16_t QueryCurrentWriteSpeed();
  void ProbeWriteModes();
  // A 16-bit field of CapabilityPage after ReadCapabilities converted it to host order.
  uint16_t CapabilityWord(unsigned offset) const;

  // ---- State ------------------------------------------------------------------------------
  uint8_t HaId = kNoDeviceAddress;
  uint8_t Target = kNoDeviceAddress;
  uint8_t Lun = kNoDeviceAddress;
  uint8_t BlankType = 0;
  int8_t HostAdapterCount = 0;
  uint8_t CapabilityPage[516] = {};
  uint8_t WriteParametersPage[54] = {};
  bool UnderrunProtection = false;
  bool TestWrite = false;
  std::string LastErrorText;
  // Why the last erase failed, in the drive's words; set before OnEraseDone reports a failure.
  std::string EraseErrorText;
  uint8_t DeviceType = kNoDeviceType;
  std::string DeviceName;
  uint8_t InquiryBuffer[131] = {};
  bool DoDebug = false;
  uint32_t Capabilities = 0;
  std::vector<std::string> Devices;
  std::atomic<bool> TargetBusy{false};
  SRB_HAInquiry HAInquiry;
  SRB_Abort AbortRequest;
  uint8_t TrackInfo[40] = {};
  uint16_t DeviceMaxWriteSpeed = 0;
  uint16_t DeviceMaxReadSpeed = 0;
  // Written by the writer thread, shown by the user interface while it runs.
  std::atomic<uint32_t> DeviceBufferSize{0};
  std::atomic<uint32_t> DeviceFreeBufferSize{0};
  bool FinalizeDisc = false;
  std::atomic<bool> Erasing{false};
  uint8_t LastSense[33] = {};
  uint8_t WriteModes = 0;
  uint16_t ReadSpeed = 0;
  uint16_t WriteSpeed = 0;
  std::recursive_mutex Lock;
  // Drive quirks of the selected device (SlowReadyQuirk and CloseImmediate are process-wide).
  bool ForceUnderrunFree = false;
  bool LinkSizeQuirk = false;
  bool SlowReadyModel = false;
  std::atomic<bool> ErrorLogDone{false};

  // Transfer areas of this device's commands: MODE SENSE/SELECT data and the erase's zeros,
  // READ CAPACITY answers and FORMAT UNIT parameter lists, READ FORMAT CAPACITIES answers.
  std::vector<uint8_t> TransferBuffer = std::vector<uint8_t>(65536);
  uint8_t ParameterBuffer[4081] = {};
  uint8_t FormatCapacities[248] = {};

  TOnDebugMsg OnDebugMessage;
  TDeviceChangedEvent OnDeviceChange;
  TEraseDoneEvent OnEraseDone;

 private:
  void Deselect();
  void SetQuirks();
  bool WriteModeTest(uint8_t writeType);
  void LogFailedCommand(const SRB_ExecSCSICmd& srb);

  std::string device_;
  uint32_t lastDataTransferred_ = 0;

  // ==== Recording commands, disc information, start address, erase ========================
  // (recording_commands.cpp, disc_info.cpp, start_address.cpp, erase.cpp)
 public:
  // Recording commands. Speeds in KB/s; 0 is sent as "maximum".
  bool SetCDSpeed(uint16_t readSpeed, uint16_t writeSpeed);
  // Sends SET CD SPEED with ReadSpeed and the new value, then keeps the value.
  void SetWriteSpeed(uint16_t value);
  // Read-modify-write of mode page 05h for a disc type; a DVD-RAM needs none (true).
  // lastSession: the page precedes the close of a session that ends the disc.
  bool SetWriteParameters(bool testWrite, bool underrunProtection, bool closeFlag, int discType,
                          bool lastSession = false);
  bool SendStreamingDescriptor(const void* buffer, uint16_t length);
  bool SetStreaming(uint32_t startLBA, uint32_t endLBA, uint32_t readSize, uint32_t writeSize,
                    uint32_t readTime, uint32_t writeTime);
  // digits: local time as "yyyymmddhhnnss" (TimestampDigitsNow in cdb.h).
  bool SendTimestamp(const std::string& digits);
  bool SendOPC();
  bool ReserveTrack(uint32_t sectors);
  // Also sets DeviceBufferSize and DeviceFreeBufferSize (0 on failure).
  bool ReadBufferCapacity(uint32_t& bufferLength, uint32_t& blankLength);
  bool WriteSectors(uint32_t lba, uint16_t sectors, uint32_t byteCount, const void* buffer);
  bool SynchronizeCache(uint32_t timeout, bool immediate);
  bool CloseTrackSession(bool immediate, uint8_t function, uint8_t byte3, uint8_t byte4,
                         uint8_t byte5);
  bool CloseSession(bool track, bool immediate, bool finish);

  // Disc information. Every call asks the drive again.
  uint8_t GetDiscType();  // does not store DiscType (disc_types.h); callers do
  int DiscStatus();       // -1 when the drive does not answer
  uint16_t SessionCount();
  bool IsErasable();
  uint32_t UsedSectors();
  uint32_t DiscCapacity();
  uint32_t VolumeSpaceSize();
  // Waits for the drive within budget ms, polling every interval ms on the clock.
  bool WaitReady(int32_t budget, int32_t interval);
  bool ReadFormatCapacities(uint32_t& blocks, uint32_t& blockLength);
  bool ReadCapacity(uint32_t& lastBlockAddress, uint32_t& blockLength);
  // Parsed answers, cut to what the drive returned; nothing when it failed or sent too little.
  std::optional<DiscInformation> ReadDiscInfo();
  std::optional<TrackInformation> ReadTrackInfo(uint32_t track);
  // The last track of a DVD: track 0, or where a drive refuses that, the last track of the
  // last session, then the invisible track (FFh).
  std::optional<TrackInformation> ReadLastDvdTrackInfo();

  // Recording start address: StartSector of the next recording; true when the track
  // information could be read.
  bool GetNextWritableAddress(uint32_t& startSector);
  uint32_t ReadVolumeSize();
  // The same start, from what the disc already reports (no write parameters are sent).
  bool ReadStartAddress(int16_t discType, uint32_t& startSector);
  // The track a new recording goes into: the incomplete or invisible track, which the drive
  // lists as the last track of the last session. number receives its number.
  std::optional<TrackInformation> ReadNextTrackInfo(uint16_t* number = nullptr);
  // Blocks a recording from startSector may fill: the free blocks of the track it goes into
  // on sequential media, the room left up to the capacity on overwritable media. Nothing
  // when the drive does not tell.
  std::optional<uint32_t> FreeBlocksFrom(int16_t discType, uint32_t startSector);

  // Erase: blankType 1 quick, 0 full. True when started; OnEraseDone follows on the main
  // thread. EraseProgress is in percent, 0 when no erase runs.
  bool StartErase(uint8_t blankType);
  int EraseProgress() const;
  // The running erase is zero-filling the disc (DVD+RW, DVD-RAM) and StopErase would end
  // it; false while the drive blanks or formats by itself, which nothing can interrupt.
  bool EraseStoppable() const;
  // Ends a running zero fill early; the erase then finishes as usual and reports an error.
  void StopErase();

 private:
  int16_t PrepareDiscQuery();
  std::optional<uint32_t> ReadVolumeDescriptorSize(uint32_t sector);
  struct EraseThreadDeleter {
    void operator()(TEraseThread* thread) const;
  };
  // Lets a queued end-of-erase event find out that the device is gone.
  struct EraseEventGate {
    std::shared_ptr<std::atomic<bool>> Alive = std::make_shared<std::atomic<bool>>(true);
    ~EraseEventGate() { Alive->store(false); }
  };
  EraseEventGate eraseGate_;
  // Last member: the erase thread is stopped and joined before anything it uses goes away.
  std::unique_ptr<TEraseThread, EraseThreadDeleter> eraseThread_;
};

}  // namespace brennix
