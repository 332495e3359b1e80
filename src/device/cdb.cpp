#include "device/cdb.h"

#include "device/byte_order.h"

namespace brennix {

Cdb TestUnitReadyCdb() { return Cdb::Zeroed(op::TEST_UNIT_READY, 6); }

Cdb InquiryCdb(uint8_t allocationLength) {
  Cdb cdb = Cdb::Zeroed(op::INQUIRY, 6);
  cdb[4] = allocationLength;
  return cdb;
}

Cdb RequestSenseCdb(uint8_t length) {
  Cdb cdb = Cdb::Zeroed(op::REQUEST_SENSE, 6);
  cdb[4] = length;
  return cdb;
}

Cdb RezeroUnitCdb() { return Cdb::Zeroed(op::REZERO_UNIT, 6); }

Cdb FormatUnitCdb(uint8_t byte1) {
  Cdb cdb = Cdb::Zeroed(op::FORMAT_UNIT, 6);
  cdb[1] = byte1;
  return cdb;
}

Cdb ModeSense10Cdb(uint8_t page, bool defaults, uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::MODE_SENSE_10, 10);
  cdb[2] = static_cast<uint8_t>((page & 0x3F) | (defaults ? 0x80 : 0x00));
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb ModeSelect10Cdb(uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::MODE_SELECT_10, 10);
  cdb[1] = 0x10;  // page format
  // The whole 16-bit parameter list length: a list above 255 bytes must not be cut short.
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb GetConfigurationCdb(uint8_t rt, uint16_t feature, uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::GET_CONFIGURATION, 10);
  cdb[1] = rt & 0x03;
  WriteBE16(&cdb.Bytes[2], feature);
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb PreventAllowRemovalCdb(bool allow) {
  Cdb cdb = Cdb::Zeroed(op::PREVENT_ALLOW_REMOVAL, 6);
  cdb[4] = allow ? 0 : 1;
  return cdb;
}

Cdb StartStopUnitCdb(bool eject) {
  Cdb cdb = Cdb::Zeroed(op::START_STOP_UNIT, 6);
  cdb[4] = eject ? 0x02 : 0x03;
  return cdb;
}

Cdb ReadDiscInformationCdb(uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::READ_DISC_INFORMATION, 10);
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb ReadTrackInformationCdb(uint32_t track, uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::READ_TRACK_INFORMATION, 10);
  cdb[1] = 0x01;  // address is a track number
  WriteBE32(&cdb.Bytes[2], track);
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb ReadTocCdb(uint8_t format, uint8_t track, bool msf, uint8_t control, uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::READ_TOC, 10);
  cdb[1] = msf ? 0x02 : 0x00;
  cdb[2] = format & 0x0F;
  cdb[6] = track;
  cdb[8] = static_cast<uint8_t>(length > 255 ? 255 : length);
  cdb[9] = control;
  return cdb;
}

Cdb Read10Cdb(uint32_t address, uint16_t blocks) {
  Cdb cdb = Cdb::Zeroed(op::READ_10, 10);
  WriteBE32(&cdb.Bytes[2], address);
  WriteBE16(&cdb.Bytes[7], blocks);
  return cdb;
}

Cdb ReadCapacityCdb() { return Cdb::Zeroed(op::READ_CAPACITY, 10); }

Cdb ReadFormatCapacitiesCdb(uint16_t length) {
  Cdb cdb = Cdb::Zeroed(op::READ_FORMAT_CAPACITIES, 10);
  WriteBE16(&cdb.Bytes[7], length);
  return cdb;
}

Cdb BlankCdb(uint8_t type) {
  Cdb cdb = Cdb::Zeroed(op::BLANK, 12);
  cdb[1] = type;
  return cdb;
}

}  // namespace brennix
