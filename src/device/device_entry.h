// The device-list entry: "H:T:L,X: " followed by the 28 identification characters of the
// INQUIRY data, and " (not supported)" for a write-once device.
#pragma once

#include <cstdint>
#include <string>

namespace brennix {

// inquiry holds at least 36 bytes. letter 0 gives "?:".
std::string DeviceListEntry(uint8_t haId, uint8_t target, uint8_t lun, char letter,
                            const uint8_t* inquiry);

// Reads the address at the start of an entry. Fields may have several digits; each must fit
// an address byte below 254. False when the text does not start with "H:T:L" followed by the
// end or a comma.
bool ParseDeviceEntry(const std::string& entry, uint8_t& haId, uint8_t& target, uint8_t& lun);

// The drive letter of an entry (the character after the comma), 0 when there is none.
char DeviceEntryLetter(const std::string& entry);

// Vendor (8), space, product (16), space, revision (4), with control characters as spaces.
std::string InquiryDeviceName(const uint8_t* inquiry);

}  // namespace brennix
