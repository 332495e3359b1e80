#include "device/scsi_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/command_names.h"
#include "device/scsi_errors.h"
#include "platform/clock.h"
#include "transport/aspi.h"

namespace brennix {

std::atomic<bool> SlowReadyQuirk{false};
std::atomic<bool> CloseImmediate{true};

namespace {

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

bool OpcodeLogged(uint8_t opcode) {
  static constexpr uint8_t kQuiet[] = {0x00, 0x01, 0x04, 0x12, 0x1B, 0x1E, 0x23, 0x35, 0x43,
                                       0x46, 0x51, 0x52, 0x55, 0x5A, 0x5C, 0xB6, 0xBB};
  return std::find(std::begin(kQuiet), std::end(kQuiet), opcode) == std::end(kQuiet);
}

// The status of a request the layer may still be completing on another thread.
uint8_t CurrentStatus(SRB_ExecSCSICmd& srb) {
  return std::atomic_ref<uint8_t>(srb.SRB_Status).load();
}

}  // namespace

TSCSIDevice::TSCSIDevice() {
  if (ASPIInitialized()) {
    HostAdapterInquiry(0);
    RefreshDevices();
  }
}

TSCSIDevice::~TSCSIDevice() = default;

void TSCSIDevice::DebugMessage(const std::string& Message, uint8_t mType) {
  if (OnDebugMessage) OnDebugMessage(this, Message, mType);
}

int TSCSIDevice::ExecSCSICommand(SRB_ExecSCSICmd& srb, uint32_t Timeout) {
  LastErrorText.clear();
  TargetBusy.store(false);
  std::memset(LastSense, 0, sizeof LastSense);
  lastDataTransferred_ = 0;
  srb.DataTransferred = 0;
  if (!ASPIInitialized() || HaId == kNoDeviceAddress) return kExecNotSent;

  // There is no event object to hand to the layer here: completion is observed on the status
  // itself, within the same time-out.
  const bool notify = (srb.SRB_Flags & SRB_EVENT_NOTIFY) != 0;
  srb.SRB_PostProc = nullptr;
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = HaId;
  srb.SRB_Target = Target;
  srb.SRB_Lun = Lun;
  srb.SRB_SenseLen = kRequestedSenseLength;
  Timeout = std::max(Timeout, kMinimumCommandTimeoutMs);
  srb.TimeoutMs = Timeout;
  srb.CDBByte[1] = static_cast<uint8_t>((srb.CDBByte[1] & 0x1F) | ((Lun & 0x07) << 5));

  SendASPI32Command(&srb);

  if (notify && CurrentStatus(srb) == SS_PENDING) {
    const uint64_t start = TickCount();
    while (CurrentStatus(srb) == SS_PENDING && TickCount() - start < Timeout) SleepMs(10);
  }

  const uint8_t status = CurrentStatus(srb);
  if (status != SS_PENDING && status != SS_COMP) {
    const ErrorDescription error = DescribeError(srb);
    LastErrorText = error.Text;
    TargetBusy.store(error.TargetBusy);
    std::memcpy(LastSense, srb.SenseArea, sizeof LastSense);
  }

  LogFailedCommand(srb);

  if (CurrentStatus(srb) == SS_PENDING) {
    AbortRequest = SRB_Abort();
    AbortRequest.SRB_Cmd = SC_ABORT_SRB;
    AbortRequest.SRB_HaId = HaId;
    AbortRequest.SRB_ToAbort = &srb;
    SendASPI32Command(&AbortRequest);
    srb.SRB_Status = SS_ERR;
    srb.SRB_HaStat = HASTAT_TIMEOUT;
    // A command that never finished must not read as a failure without a reason.
    LastErrorText = DescribeError(srb).Text;
  }

  if (reinterpret_cast<uintptr_t>(srb.SRB_BufPointer) % 4 != 0)
    DebugMessage("aaaa" + std::to_string(reinterpret_cast<uintptr_t>(srb.SRB_BufPointer)), 0);

  srb.DataTransferred = std::min(srb.DataTransferred, srb.SRB_BufLen);
  lastDataTransferred_ = srb.SRB_Status == SS_COMP || srb.SRB_Status == SS_ERR ? srb.DataTransferred : 0;
  return 1;
}

void TSCSIDevice::LogFailedCommand(const SRB_ExecSCSICmd& srb) {
  if (ErrorLogDone.exchange(true)) return;
  const uint8_t status = srb.SRB_Status;
  if (status == SS_PENDING || status == SS_COMP) return;
  if (!OpcodeLogged(srb.CDBByte[0])) return;
  if (srb.SenseArea[12] == 0x04 && srb.SenseArea[13] == 0x08) return;

  const std::string a = std::to_string(srb.SRB_HaId) + ":" + Hex(srb.SRB_Target, 1) + ":" +
                        std::to_string(srb.SRB_Lun) + " <" + Hex(status, 2) + ">" + " [" +
                        Hex(srb.SRB_BufLen, 5) + "]";
  // (Appended, not '"(" + Hex(...)': g++ 12 at -O3 warns of an overlapping copy there.)
  std::string l = std::string("(").append(Hex(srb.CDBByte[0], 2)) + ") {" + Hex(srb.SRB_Flags, 2) + "|" +
                  Hex(srb.SRB_CDBLen, 2) + "} - " + a + " ";
  for (unsigned i = 1; i < 16; ++i) l += Hex(srb.CDBByte[i], 2) + " ";
  l = CommandName(srb.CDBByte[0]) + " " + l + " ";
  l += "|";
  if (srb.SRB_BufLen != 0 && srb.SRB_BufPointer != nullptr) {
    const uint32_t n = std::min<uint32_t>(srb.SRB_BufLen, 257);
    for (uint32_t i = 0; i < n; ++i) l += Hex(srb.SRB_BufPointer[i], 2) + " ";
  }
  const std::string line = "<<< " + l + "= " + Hex(srb.SRB_HaStat, 2) + " " +
                           Hex(srb.SRB_TargStat, 2) + " " + Hex(srb.SenseArea[0], 2) + " " +
                           Hex(srb.SenseArea[2], 2) + " " + "ASC:" + Hex(srb.SenseArea[12], 2) +
                           ",ASQ:" + Hex(srb.SenseArea[13], 2) + " " + LastErrorText;
  DebugMessage(line, 0);
}

bool TSCSIDevice::RunCommand(const Cdb& cdb, DataDirection direction, void* buffer,
                             uint32_t length, uint32_t timeoutMs) {
  SRB_ExecSCSICmd srb;
  if (buffer == nullptr) length = 0;
  if (length == 0) direction = DataDirection::None;
  switch (direction) {
    case DataDirection::In: srb.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN; break;
    case DataDirection::Out: srb.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_OUT; break;
    case DataDirection::None: srb.SRB_Flags = SRB_EVENT_NOTIFY; break;
  }
  srb.SRB_CDBLen = cdb.Length;
  srb.SRB_SenseLen = kRequestedSenseLength;
  srb.SRB_BufPointer = length != 0 ? static_cast<uint8_t*>(buffer) : nullptr;
  srb.SRB_BufLen = length;
  std::memcpy(srb.CDBByte, cdb.Bytes, sizeof srb.CDBByte);
  ExecSCSICommand(srb, timeoutMs);
  return srb.SRB_Status == SS_COMP;
}

}  // namespace brennix
