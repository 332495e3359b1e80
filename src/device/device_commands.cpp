// The command wrappers of the device layer: one CDB and one RunCommand each.
#include <algorithm>
#include <cstring>

#include "device/scsi_device.h"
#include "transport/spti.h"

namespace brennix {

bool TSCSIDevice::TestUnitReady(uint32_t Timeout) {
  return RunCommand(TestUnitReadyCdb(), DataDirection::None, nullptr, 0, Timeout);
}

// The answers land in aligned buffers first: the fields of the device need not be aligned,
// and a drive may send less than asked (the rest stays as cleared).
bool TSCSIDevice::Inquiry() {
  alignas(8) uint8_t answer[128] = {};
  const bool ok = RunCommand(InquiryCdb(0x80), DataDirection::In, answer, sizeof answer, 10000);
  std::memcpy(InquiryBuffer, answer, std::min<size_t>(LastDataTransferred(), sizeof answer));
  return ok;
}

bool TSCSIDevice::RequestSense(void* Buffer, uint8_t Length) {
  return RunCommand(RequestSenseCdb(Length), DataDirection::In, Buffer, Length, 10000);
}

bool TSCSIDevice::RezeroUnit() {
  return RunCommand(RezeroUnitCdb(), DataDirection::None, nullptr, 0, 10000);
}

bool TSCSIDevice::FormatUnit(uint8_t Byte1, const void* ParamList, uint32_t Length) {
  // The parameter list is only read by the drive.
  return RunCommand(FormatUnitCdb(Byte1), DataDirection::Out, const_cast<void*>(ParamList),
                    Length, 10000);
}

bool TSCSIDevice::ModeSense10(uint8_t Page, bool Defaults, void* Buffer, uint16_t Length) {
  const uint32_t length = std::min<uint32_t>(Length, TransferBuffer.size());
  std::memset(TransferBuffer.data(), 0, length);
  if (!RunCommand(ModeSense10Cdb(Page, Defaults, static_cast<uint16_t>(length)),
                  DataDirection::In, TransferBuffer.data(), length, 20000))
    return false;
  if (Buffer != nullptr) {
    // What the drive did not send reads as zero, never as an older answer.
    const uint32_t got = std::min(LastDataTransferred(), length);
    std::memcpy(Buffer, TransferBuffer.data(), got);
    std::memset(static_cast<uint8_t*>(Buffer) + got, 0, Length - got);
  }
  return true;
}

bool TSCSIDevice::ModeSelect10(const void* ParamList, uint16_t Length) {
  const uint32_t length = std::min<uint32_t>(Length, TransferBuffer.size());
  if (ParamList == nullptr) return false;
  std::memcpy(TransferBuffer.data(), ParamList, length);
  return RunCommand(ModeSelect10Cdb(static_cast<uint16_t>(length)), DataDirection::Out,
                    TransferBuffer.data(), length, 10000);
}

bool TSCSIDevice::GetConfiguration(uint8_t RT, uint16_t Feature, uint16_t Length, void* Buffer) {
  return RunCommand(GetConfigurationCdb(RT, Feature, Length), DataDirection::In, Buffer, Length,
                    30000);
}

bool TSCSIDevice::PreventAllowRemoval(bool Allow) {
  // Unlocking releases the handle after the command; from then on the handles stay open.
  if (Allow) SetSPTICloseAfterCommand(true);
  const bool ok = RunCommand(PreventAllowRemovalCdb(Allow), DataDirection::None, nullptr, 0, 10000);
  SetSPTICloseAfterCommand(false);
  return ok;
}

bool TSCSIDevice::StartStopUnit(bool Eject) {
  SetSPTICloseAfterCommand(true);
  const bool ok = RunCommand(StartStopUnitCdb(Eject), DataDirection::None, nullptr, 0, 20000);
  SetSPTICloseAfterCommand(false);
  return ok;
}

bool TSCSIDevice::ReadDiscInformation(void* Buffer, uint16_t Length) {
  return RunCommand(ReadDiscInformationCdb(Length), DataDirection::In, Buffer, Length, 10000);
}

bool TSCSIDevice::ReadTrackInformation(uint32_t Track) {
  alignas(8) uint8_t answer[sizeof TrackInfo] = {};
  const bool ok = RunCommand(ReadTrackInformationCdb(Track, sizeof answer), DataDirection::In,
                             answer, sizeof answer, 60000);
  std::memcpy(TrackInfo, answer, sizeof TrackInfo);
  return ok;
}

bool TSCSIDevice::ReadTOC(uint8_t Format, void* Buffer, uint8_t Track, bool MSF, uint8_t Control,
                          uint16_t Length) {
  const uint16_t length = std::min<uint16_t>(Length, 255);
  return RunCommand(ReadTocCdb(Format, Track, MSF, Control, length), DataDirection::In, Buffer,
                    length, 10000);
}

bool TSCSIDevice::Read10(uint32_t Address, uint16_t Blocks, void* Buffer, uint32_t Length) {
  return RunCommand(Read10Cdb(Address, Blocks), DataDirection::In, Buffer, Length, 10000);
}

bool TSCSIDevice::ReadCapacity() {
  alignas(8) uint8_t answer[8] = {};
  const bool ok = RunCommand(ReadCapacityCdb(), DataDirection::In, answer, sizeof answer, 10000);
  std::memcpy(ParameterBuffer, answer, sizeof answer);
  return ok;
}

bool TSCSIDevice::ReadFormatCapacities() {
  alignas(8) uint8_t answer[sizeof FormatCapacities] = {};
  const bool ok = RunCommand(ReadFormatCapacitiesCdb(sizeof answer), DataDirection::In, answer,
                             sizeof answer, 10000);
  std::memcpy(FormatCapacities, answer, sizeof answer);
  return ok;
}

bool TSCSIDevice::Blank(uint8_t Type) {
  return RunCommand(BlankCdb(Type), DataDirection::None, nullptr, 0, 4800000);
}

}  // namespace brennix
