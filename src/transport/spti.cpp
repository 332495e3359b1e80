#include "transport/spti.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "transport/drive_letters.h"

namespace brennix {

namespace {

struct SPTIState {
  std::atomic<bool> initialized{false};
  std::atomic<uint8_t> hostAdapterCount{0};
  uint8_t unaddressedCount = 0;
  std::atomic<bool> closeAfterCommand{true};
  std::array<TSPTIDrive, kSPTIDriveCount> drives;
};

SPTIState& State() {
  // Never destroyed: commands may still arrive from static destructors of other units.
  static SPTIState* state = new SPTIState;
  return *state;
}

void ClearEntry(TSPTIDrive& entry) {
  entry.HaId = 0;
  entry.Target = 0;
  entry.Lun = 0;
  entry.LetterIndex = 0;
  entry.Present = false;
  entry.Handle.store(kInvalidDriveHandle);
  std::memset(entry.InquiryData, 0, sizeof entry.InquiryData);
  entry.Backend.reset();
}

uint8_t CountAdapters(const std::array<TSPTIDrive, kSPTIDriveCount>& drives) {
  unsigned largest = 0;
  for (unsigned i = 1; i < kSPTIDriveCount; ++i) largest = std::max<unsigned>(largest, drives[i].HaId);
  return static_cast<uint8_t>(std::min(255u, largest + 1));
}

// An address another drive already holds would make the second drive unreachable, and the
// device list only scans targets and LUNs 0-7 below 254 adapters: such drives go to the extra
// adapter like drives without an address.
bool AddressUsable(const std::array<TSPTIDrive, kSPTIDriveCount>& drives, unsigned self,
                   const ScsiAddress& address) {
  if (address.PortNumber >= 254 || address.TargetId > 7 || address.Lun > 7) return false;
  for (unsigned i = 2; i < self; ++i) {
    const TSPTIDrive& other = drives[i];
    if (other.Present && other.Lun != kSPTIUnknownLun && other.HaId == address.PortNumber &&
        other.Target == address.TargetId && other.Lun == address.Lun)
      return false;
  }
  return true;
}

bool Probe(SPTIState& state, unsigned index, const std::shared_ptr<DriveBackend>& backend) {
  TSPTIDrive& entry = state.drives[index];
  const DriveHandle handle = backend->Open();
  if (handle == kInvalidDriveHandle) return false;

  static uint8_t inquiry[1025];
  std::memset(inquiry, 0, sizeof inquiry);
  PassThroughRequest request;
  request.Cdb[0] = 0x12;
  request.Cdb[4] = 0x60;
  request.CdbLength = 6;
  request.Direction = DataDirection::In;
  request.Data = inquiry;
  request.DataLength = 96;
  request.SenseLength = kRequestedSenseLength;
  request.TimeoutSeconds = kPassThroughTimeoutSeconds;
  if (!backend->PassThrough(handle, request)) {
    backend->Close(handle);
    return false;
  }
  const uint32_t got = std::min<uint32_t>(request.DataTransferred, 96);
  std::memcpy(entry.InquiryData, inquiry, std::min<uint32_t>(got, sizeof entry.InquiryData));

  ScsiAddress address;
  entry.Present = true;
  if (backend->QueryAddress(handle, address) && AddressUsable(state.drives, index, address)) {
    entry.HaId = address.PortNumber;
    entry.Target = address.TargetId;
    entry.Lun = address.Lun;
  } else {
    entry.HaId = 0;
    entry.Target = state.unaddressedCount++;
    entry.Lun = kSPTIUnknownLun;
  }
  entry.LetterIndex = static_cast<uint8_t>(index);
  entry.Handle.store(kInvalidDriveHandle);
  entry.Backend = backend;
  backend->Close(handle);
  return true;
}

TSPTIDrive* FindEntry(SPTIState& state, uint8_t haId, uint8_t target, uint8_t lun) {
  for (unsigned i = 2; i < kSPTIDriveCount; ++i) {
    TSPTIDrive& entry = state.drives[i];
    if (entry.Present && entry.HaId == haId && entry.Target == target && entry.Lun == lun)
      return &entry;
  }
  return nullptr;
}

void CopyText(uint8_t* dest, size_t size, const char* text) {
  std::memset(dest, 0, size);
  std::memcpy(dest, text, std::min(size, std::strlen(text)));
}

uint8_t AnswerHaInquiry(SPTIState& state, SRB_HAInquiry& srb) {
  const uint8_t count = state.hostAdapterCount.load();
  srb.HA_Count = count;
  if (srb.SRB_HaId >= count) return SS_INVALID_HA;
  srb.HA_SCSI_ID = 7;
  CopyText(srb.HA_ManagerId, sizeof srb.HA_ManagerId, kSPTIManagerId);
  std::memset(srb.HA_Identifier, 0, sizeof srb.HA_Identifier);
  // Linux host numbers reach 10 and more: the number is written in as many digits as it needs.
  const std::string identifier = "SPTI " + std::to_string(srb.SRB_HaId);
  std::memcpy(srb.HA_Identifier, identifier.data(), identifier.size());
  std::memset(srb.HA_Unique, 0, 13);
  srb.HA_Unique[0] = 7;   // buffer alignment mask 0007h
  srb.HA_Unique[3] = 8;   // maximum targets
  srb.HA_Unique[4] = 0x00;
  srb.HA_Unique[5] = 0x00;
  srb.HA_Unique[6] = 0xFF;
  srb.HA_Unique[7] = 0x00;
  return SS_COMP;
}

uint8_t Execute(SPTIState& state, SRB_ExecSCSICmd& srb) {
  srb.DataTransferred = 0;
  // An INQUIRY names the adapter before the device: past the last adapter it is the adapter
  // that is wrong.
  if (srb.CDBByte[0] == 0x12 && srb.SRB_HaId >= state.hostAdapterCount.load()) return SS_INVALID_HA;
  TSPTIDrive* entry = FindEntry(state, srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
  if (entry == nullptr) return SS_NO_DEVICE;

  if (srb.CDBByte[0] == 0x12) {
    if (srb.SRB_BufPointer == nullptr) return SS_INVALID_SRB;
    const uint32_t n = std::min<uint32_t>(36, srb.SRB_BufLen);
    std::memcpy(srb.SRB_BufPointer, entry->InquiryData, n);
    srb.DataTransferred = n;
    return SS_COMP;
  }

  if (srb.SRB_BufLen != 0 && srb.SRB_BufPointer == nullptr) return SS_INVALID_SRB;
  if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > 16) return SS_INVALID_SRB;

  DriveBackend& backend = *entry->Backend;
  DriveHandle handle = entry->Handle.load();
  if (handle == kInvalidDriveHandle) {
    handle = backend.Open();
    // A drive that can no longer be opened (unplugged, permissions changed) is not there.
    if (handle == kInvalidDriveHandle) return SS_NO_DEVICE;
    entry->Handle.store(handle);
  }

  PassThroughRequest request;
  if (srb.SRB_Flags & SRB_DIR_IN)
    request.Direction = DataDirection::In;
  else if (srb.SRB_Flags & SRB_DIR_OUT)
    request.Direction = DataDirection::Out;
  else
    request.Direction = DataDirection::None;
  request.CdbLength = srb.SRB_CDBLen;
  request.SenseLength = std::min<uint8_t>(srb.SRB_SenseLen, sizeof request.Sense);
  request.DataLength = srb.SRB_BufLen;
  request.Data = srb.SRB_BufPointer;
  request.TimeoutSeconds =
      std::max<uint32_t>(kPassThroughTimeoutSeconds, srb.TimeoutMs / 1000 + (srb.TimeoutMs % 1000 != 0));
  std::memcpy(request.Cdb, srb.CDBByte, srb.SRB_CDBLen);

  const bool called = backend.PassThrough(handle, request);
  srb.DataTransferred = std::min(request.DataTransferred, srb.SRB_BufLen);
  uint8_t status;
  if (called && request.ScsiStatus == STATUS_GOOD) {
    status = SS_COMP;
  } else {
    status = SS_ERR;
    if (called) {
      const size_t n = std::min<size_t>({request.SenseLength, sizeof request.Sense, sizeof srb.SenseArea});
      std::memcpy(srb.SenseArea, request.Sense, n);
      srb.SRB_TargStat = request.ScsiStatus;
    } else {
      // The command never completed: no status, no sense; say why through the host status.
      srb.SRB_TargStat = 0;
      srb.SRB_HaStat = request.AdapterStatus != 0 ? request.AdapterStatus : uint8_t{HASTAT_TIMEOUT};
    }
  }

  if (state.closeAfterCommand.load()) {
    const DriveHandle open = entry->Handle.load();
    if (open != kInvalidDriveHandle && backend.Close(open)) entry->Handle.store(kInvalidDriveHandle);
  }
  return status;
}

}  // namespace

bool SPTIInitialized() { return State().initialized.load(); }
uint8_t SPTIHostAdapterCount() { return State().hostAdapterCount.load(); }
void SetSPTICloseAfterCommand(bool close) { State().closeAfterCommand.store(close); }
bool SPTICloseAfterCommand() { return State().closeAfterCommand.load(); }
std::shared_ptr<DriveBackend> SPTIBackend(uint8_t HaId, uint8_t Target, uint8_t Lun) {
  const TSPTIDrive* entry = FindEntry(State(), HaId, Target, Lun);
  return entry != nullptr ? entry->Backend : nullptr;
}

const TSPTIDrive& SPTIDrive(unsigned letterIndex) {
  return State().drives[std::min(letterIndex, kSPTIDriveCount - 1)];
}

bool SPTILetterIsExtraDrive(char letter) {
  if (letter < 'A' || letter > 'Z' || !State().initialized.load()) return false;
  const TSPTIDrive& drive = SPTIDrive(static_cast<unsigned>(letter - 'A'));
  if (!drive.Present || !drive.Backend) return false;
  const auto extras = ExtraDrives();
  return std::find(extras.begin(), extras.end(), drive.Backend) != extras.end();
}

uint8_t SPTIInit() {
  SPTIState& state = State();
  if (state.initialized.load()) return 0;
  state.unaddressedCount = 0;
  state.hostAdapterCount.store(0);
  for (TSPTIDrive& entry : state.drives) ClearEntry(entry);

  const DriveLetterTable letters = BuildDriveLetterTable();
  unsigned found = 0;
  for (unsigned i = 2; i < kSPTIDriveCount; ++i) {
    const auto& backend = letters[i];
    if (backend && backend->IsOpticalDrive()) {
      if (Probe(state, i, backend)) ++found;
    } else {
      state.drives[i].Target = kSPTINotOpticalTarget;
    }
  }
  state.hostAdapterCount.store(CountAdapters(state.drives));
  if (state.unaddressedCount != 0) {
    const uint8_t extra = state.hostAdapterCount.load();
    for (TSPTIDrive& entry : state.drives) {
      if (entry.Present && entry.Lun == kSPTIUnknownLun) {
        entry.Lun = 0;
        entry.HaId = extra;
      }
    }
    state.hostAdapterCount.store(CountAdapters(state.drives));
  }
  state.initialized.store(true);
  return static_cast<uint8_t>(found);
}

int SPTIDone() {
  SPTIState& state = State();
  if (!state.initialized.load()) return 0;
  for (TSPTIDrive& entry : state.drives) {
    const DriveHandle handle = entry.Handle.load();
    if (entry.Present && entry.Backend && handle != kInvalidDriveHandle) entry.Backend->Close(handle);
  }
  state.hostAdapterCount.store(CountAdapters(state.drives));
  for (TSPTIDrive& entry : state.drives) ClearEntry(entry);
  state.hostAdapterCount.store(0);
  state.unaddressedCount = 0;
  state.initialized.store(false);
  return -1;
}

uint32_t SPTISupportInfo() {
  const uint8_t count = State().hostAdapterCount.load();
  if (count == 0) return static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
  return 0x0100u + count;
}

uint32_t SPTISendCommand(SRB_Header* srb) {
  if (srb == nullptr) return SS_ERR;
  SPTIState& state = State();
  switch (srb->SRB_Cmd) {
    case SC_HA_INQUIRY:
      srb->SRB_Status = AnswerHaInquiry(state, *static_cast<SRB_HAInquiry*>(srb));
      break;
    case SC_GET_DEV_TYPE: {
      auto& block = *static_cast<SRB_GDEVBlock*>(srb);
      if (FindEntry(state, block.SRB_HaId, block.SRB_Target, block.SRB_Lun) != nullptr) {
        block.SRB_Status = SS_COMP;
        block.SRB_DeviceType = DTYPE_CDROM;
      } else {
        block.SRB_Status = SS_NO_DEVICE;
        block.SRB_DeviceType = DTYPE_UNKNOWN;
      }
      break;
    }
    case SC_EXEC_SCSI_CMD:
      srb->SRB_Status = Execute(state, *static_cast<SRB_ExecSCSICmd*>(srb));
      break;
    case SC_GET_DISK_INFO:
      srb->SRB_Status = SS_PENDING;
      return SS_ERR;
    default:
      srb->SRB_Status = SS_ERR;
      return SS_ERR;
  }
  return srb->SRB_Status;
}

char SPTIDriveLetter(uint8_t HaId, uint8_t Target, uint8_t Lun) {
  SPTIState& state = State();
  for (unsigned i = 2; i < kSPTIDriveCount; ++i) {
    const TSPTIDrive& entry = state.drives[i];
    // Entries of letters without a usable drive hold address 0:0:0 and must not answer for
    // a real drive at that address.
    if (entry.Present && entry.HaId == HaId && entry.Target == Target && entry.Lun == Lun)
      return static_cast<char>('A' + i);
  }
  return kSPTINoLetter;
}

}  // namespace brennix
