// Starting the transport for a device, listing the recorders and selecting one.
#include <algorithm>
#include <cstring>

#include "device/device_entry.h"
#include "device/scsi_device.h"
#include "transport/aspi.h"
#include "transport/drive_letters.h"
#include "transport/spti.h"

namespace brennix {

namespace {
constexpr const char* kInvalidDeviceLine = "INVALID DEVICE ID / NOT A CD OR DVD DRIVE";
}

bool TSCSIDevice::InitializeASPI(bool UseSPTI, const std::string& LibraryPath) {
  bool loaded = false;
  try {
    loaded = ASPILoad(UseSPTI, LibraryPath);
  } catch (...) {
    loaded = false;
  }
  if (loaded) {
    HostAdapterInquiry(0);
    RefreshDevices();
  }
  return loaded;
}

void TSCSIDevice::HostAdapterInquiry(uint8_t adapter) {
  HAInquiry = SRB_HAInquiry();
  HAInquiry.SRB_Cmd = SC_HA_INQUIRY;
  HAInquiry.SRB_HaId = adapter;
  // Without a transport the request stays pending.
  if (ASPIInitialized()) SendASPI32Command(&HAInquiry);
  if (HAInquiry.SRB_Status != SS_COMP) {
    HostAdapterCount = -1;
    return;
  }
  const unsigned count = HAInquiry.HA_Count == 0 ? 7 : HAInquiry.HA_Count;
  HostAdapterCount = static_cast<int8_t>(std::min(count, 127u));
}

void TSCSIDevice::RefreshDevices() {
  Devices.clear();
  const uint8_t savedHa = HaId, savedTarget = Target, savedLun = Lun;
  if (DoDebug) DebugMessage(">>> " + ASPILayerName(), 1);

  const int adapters = HostAdapterCount;
  for (int adapter = 0; adapter < adapters; ++adapter) {
    HostAdapterInquiry(static_cast<uint8_t>(adapter));
    if (DoDebug) {
      std::string manager(reinterpret_cast<const char*>(HAInquiry.HA_ManagerId), 16);
      std::string identifier(reinterpret_cast<const char*>(HAInquiry.HA_Identifier), 16);
      identifier = identifier.c_str();  // the rest of the field is zero
      const size_t first = identifier.find_first_not_of(' ');
      const size_t last = identifier.find_last_not_of(' ');
      identifier = first == std::string::npos ? std::string() : identifier.substr(first, last - first + 1);
      DebugMessage(">>> " + manager + " (" + identifier + ")", 1);
    }
    for (uint8_t target = 0; target < 8; ++target) {
      for (uint8_t lun = 0; lun < 8; ++lun) {
        HaId = static_cast<uint8_t>(adapter);
        Target = target;
        Lun = lun;
        std::memset(InquiryBuffer, 0, sizeof InquiryBuffer);
        if (!Inquiry()) continue;
        if (InquiryBuffer[0] != DTYPE_CDROM && InquiryBuffer[0] != DTYPE_WORM) continue;
        Devices.push_back(DeviceListEntry(HaId, Target, Lun, DriveLetter(), InquiryBuffer));
      }
    }
  }

  HaId = savedHa;
  Target = savedTarget;
  Lun = savedLun;
  LastErrorText.clear();
}

std::shared_ptr<DriveBackend> TSCSIDevice::SelectedBackend() const {
  if (!ASPIUsesEmulation()) return nullptr;
  return SPTIBackend(HaId, Target, Lun);
}

std::string TSCSIDevice::EntryServing(
    const std::function<bool(const std::string& path)>& matches) const {
  if (!ASPIUsesEmulation()) return std::string();
  for (const std::string& entry : Devices) {
    const char letter = DeviceEntryLetter(entry);
    if (letter < 'A' || letter > 'Z') continue;
    const TSPTIDrive& drive = SPTIDrive(static_cast<unsigned>(letter - 'A'));
    if (drive.Present && drive.Backend && matches(drive.Backend->DevicePath())) return entry;
  }
  return std::string();
}

char TSCSIDevice::DriveLetter() {
  if (ASPIUsesEmulation()) return SPTIDriveLetter(HaId, Target, Lun);
  if (!ASPIInitialized()) return 0;

  // The manager library knows nothing of letters: ask each drive of the letter table.
  const DriveLetterTable letters = BuildDriveLetterTable();
  for (unsigned i = 1; i < kDriveLetterSlots - 1; ++i) {
    const auto& drive = letters[i];
    if (!drive) continue;
    const DriveHandle handle = drive->Open();
    if (handle == kInvalidDriveHandle) continue;
    ScsiAddress address;
    const bool known = drive->QueryAddress(handle, address);
    drive->Close(handle);
    if (known && address.PortNumber == HaId && address.TargetId == Target)
      return static_cast<char>('A' + i);
  }
  SRB_GetDiskInfo info;
  info.SRB_Cmd = SC_GET_DISK_INFO;
  info.SRB_HaId = HaId;
  info.SRB_Target = Target;
  info.SRB_Lun = Lun;
  SendASPI32Command(&info);
  if (info.SRB_Status == SS_COMP && info.SRB_Int13HDriveInfo != 0x80 && info.SRB_Int13HDriveInfo < 26)
    return static_cast<char>('A' + info.SRB_Int13HDriveInfo);
  return 0;
}

void TSCSIDevice::Deselect() {
  device_.clear();
  DeviceName.clear();
  DeviceType = kNoDeviceType;
  HaId = Target = Lun = kNoDeviceAddress;
}

void TSCSIDevice::SetDevice(const std::string& E) {
  uint8_t ha = 0, target = 0, lun = 0;
  if (E.size() < 5 || !ParseDeviceEntry(E, ha, target, lun)) {
    if (!E.empty()) DebugMessage(kInvalidDeviceLine, 0);
    Deselect();
    return;
  }
  HaId = ha;
  Target = target;
  Lun = lun;
  device_ = E;

  std::memset(InquiryBuffer, 0, sizeof InquiryBuffer);
  if (!Inquiry()) {
    DeviceName = LastErrorText;
  } else {
    DeviceType = InquiryBuffer[0];
    for (unsigned i = 8; i <= 55; ++i)
      if (InquiryBuffer[i] < 0x20) InquiryBuffer[i] = ' ';
    DeviceName = InquiryDeviceName(InquiryBuffer);
  }
  // The model's quirks first: the capabilities depend on them, and must not be read with
  // those of the device selected before.
  const bool recorder = InquiryBuffer[0] == DTYPE_CDROM || InquiryBuffer[0] == DTYPE_WORM;
  if (recorder) SetQuirks();
  ReadCapabilities();

  if (recorder) {
    if (OnDeviceChange) OnDeviceChange(this);
    ProbeWriteModes();
    return;
  }
  DebugMessage(kInvalidDeviceLine, 0);
  Deselect();
}

}  // namespace brennix
