// Command descriptor blocks of the device layer, built as plain values.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "platform/disc_units.h"

namespace brennix {

struct Cdb {
  uint8_t Bytes[16] = {};
  uint8_t Length = 0;

  Cdb() = default;
  // Cdb{0x12, 0, 0, 0, 0x80, 0}: the length is the number of bytes given.
  Cdb(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) {
      if (Length < 16) Bytes[Length++] = b;
    }
  }
  // A zeroed CDB of the given length with its operation code.
  static Cdb Zeroed(uint8_t opcode, uint8_t length) {
    Cdb cdb;
    cdb.Length = length > 16 ? 16 : length;
    cdb.Bytes[0] = opcode;
    return cdb;
  }
  uint8_t& operator[](unsigned i) { return Bytes[i & 15]; }
  uint8_t operator[](unsigned i) const { return Bytes[i & 15]; }
};


// Builders of the CDBs of the command wrappers (multi-byte fields big-endian).
Cdb TestUnitReadyCdb();
Cdb InquiryCdb(uint8_t allocationLength);
Cdb RequestSenseCdb(uint8_t length);
Cdb RezeroUnitCdb();
Cdb FormatUnitCdb(uint8_t byte1);
Cdb ModeSense10Cdb(uint8_t page, bool defaults, uint16_t length);
Cdb ModeSelect10Cdb(uint16_t length);
Cdb GetConfigurationCdb(uint8_t rt, uint16_t feature, uint16_t length);
Cdb PreventAllowRemovalCdb(bool allow);
Cdb StartStopUnitCdb(bool eject);
Cdb ReadDiscInformationCdb(uint16_t length);
Cdb ReadTrackInformationCdb(uint32_t track, uint16_t length);
Cdb ReadTocCdb(uint8_t format, uint8_t track, bool msf, uint8_t control, uint16_t length);
Cdb Read10Cdb(uint32_t address, uint16_t blocks);
Cdb ReadCapacityCdb();
Cdb ReadFormatCapacitiesCdb(uint16_t length);
Cdb BlankCdb(uint8_t type);

}  // namespace brennix
