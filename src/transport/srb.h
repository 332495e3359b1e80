// The request blocks exchanged through the two ASPI entry points, with their field names and
// meanings. They are ordinary C++ records, never sent as bytes: only their fields matter, so
// a data pointer takes whatever size and place the compiler gives it.
// Every block starts with the common header; the entry point dispatches on SRB_Cmd and views
// the block as the record of that command.
#pragma once

#include <cstdint>

namespace brennix {

enum SrbCommand : uint8_t {
  SC_HA_INQUIRY = 0x00, SC_GET_DEV_TYPE = 0x01, SC_EXEC_SCSI_CMD = 0x02, SC_ABORT_SRB = 0x03,
  SC_RESET_DEV = 0x04, SC_GET_DISK_INFO = 0x06,
};

enum SrbFlag : uint8_t { SRB_DIR_IN = 0x08, SRB_DIR_OUT = 0x10, SRB_EVENT_NOTIFY = 0x40 };

enum SrbStatus : uint8_t {
  SS_PENDING = 0x00, SS_COMP = 0x01, SS_ABORTED = 0x02, SS_ABORT_FAIL = 0x03, SS_ERR = 0x04,
  // The request itself could not be taken.
  SS_INVALID_CMD = 0x80, SS_INVALID_HA = 0x81, SS_NO_DEVICE = 0x82, SS_INVALID_SRB = 0xE0,
  SS_BUFFER_ALIGN = 0xE1, SS_ASPI_IS_BUSY = 0xE5, SS_BUFFER_TO_BIG = 0xE6, SS_NO_ADAPTERS = 0xE8,
};

// SRB_HaStat: the host adapter's status.
enum HostAdapterStatus : uint8_t {
  HASTAT_OK = 0x00, HASTAT_TIMEOUT = 0x09, HASTAT_COMMAND_TIMEOUT = 0x0B,
  HASTAT_MESSAGE_REJECT = 0x0D, HASTAT_BUS_RESET = 0x0E, HASTAT_PARITY_ERROR = 0x0F,
  HASTAT_REQUEST_SENSE_FAILED = 0x10, HASTAT_SEL_TO = 0x11, HASTAT_DO_DU = 0x12,
  HASTAT_BUS_FREE = 0x13,
};

// SRB_TargStat: the SCSI status byte.
enum TargetStatus : uint8_t {
  STATUS_GOOD = 0x00, STATUS_CHKCOND = 0x02, STATUS_BUSY = 0x08, STATUS_RESCONF = 0x18,
  STATUS_QUEUE_FULL = 0x28,
};

enum PeripheralType : uint8_t { DTYPE_WORM = 0x04, DTYPE_CDROM = 0x05, DTYPE_UNKNOWN = 0x1F };

struct SRB_Header {
  uint8_t SRB_Cmd = 0;
  uint8_t SRB_Status = SS_PENDING;
  uint8_t SRB_HaId = 0;
  uint8_t SRB_Flags = 0;
  uint32_t SRB_Hdr_Rsvd = 0;
};

struct SRB_HAInquiry : SRB_Header {
  uint8_t HA_Count = 0;
  uint8_t HA_SCSI_ID = 0;
  uint8_t HA_ManagerId[16] = {};
  uint8_t HA_Identifier[16] = {};
  uint8_t HA_Unique[16] = {};
  uint16_t HA_Rsvd1 = 0;
};

struct SRB_GDEVBlock : SRB_Header {
  uint8_t SRB_Target = 0;
  uint8_t SRB_Lun = 0;
  uint8_t SRB_DeviceType = 0;
  uint8_t SRB_Rsvd1 = 0;
};

// The sense area holds the 24 bytes the commands ask for plus room to spare.
constexpr unsigned kSenseAreaSize = 33;
constexpr uint8_t kRequestedSenseLength = 24;

struct SRB_ExecSCSICmd : SRB_Header {
  uint8_t SRB_Target = 0;
  uint8_t SRB_Lun = 0;
  uint16_t SRB_Rsvd1 = 0;
  uint32_t SRB_BufLen = 0;
  uint8_t* SRB_BufPointer = nullptr;
  uint8_t SRB_SenseLen = 0;
  uint8_t SRB_CDBLen = 0;
  uint8_t SRB_HaStat = 0;
  uint8_t SRB_TargStat = 0;
  void* SRB_PostProc = nullptr;
  uint8_t CDBByte[16] = {};
  uint8_t SenseArea[kSenseAreaSize] = {};
  // Bytes the drive actually moved (at most SRB_BufLen). Readers of an answer never look
  // past this; the rest of the buffer is left as it was.
  uint32_t DataTransferred = 0;
  // How long the caller is prepared to wait. The pass-through waits at least 120 s, and
  // longer when the caller allows it: a drive flushing its cache or blanking without the
  // immediate bit must not be aborted (and the bus reset) while the caller still waits.
  uint32_t TimeoutMs = 0;
};

struct SRB_Abort : SRB_Header {
  void* SRB_ToAbort = nullptr;
};

struct SRB_GetDiskInfo : SRB_Header {
  uint8_t SRB_Target = 0;
  uint8_t SRB_Lun = 0;
  uint8_t SRB_DriveFlags = 0;
  uint8_t SRB_Int13HDriveInfo = 0;
  uint8_t SRB_Heads = 0;
  uint8_t SRB_Sectors = 0;
};

}  // namespace brennix
