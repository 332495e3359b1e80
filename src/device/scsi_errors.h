// Turning a failed request block into the readable texts of the device layer.
#pragma once

#include <cstdint>
#include <string>

#include "transport/srb.h"

namespace brennix {

// Status row text for SRB_Status / SRB_HaStat / SRB_TargStat ("CHECK CONDITION", "TARGET
// BUSY", "COMMAND TIMEOUT", ...). busy is set for target status BUSY.
std::string StatusText(uint8_t status, uint8_t hostStatus, uint8_t targetStatus, bool& busy);

// Sense key text of fixed-format sense ("NOT READY", ...). sense holds at least 14 bytes.
// Keys 9 and 12 give "CHECK CONDITION".
std::string SenseKeyText(const uint8_t* sense);

// The additional sense description of an ASC/ASCQ pair, or "ASC,ASCQ" in decimal when the
// pair is not in the table.
std::string AscAscqText(uint8_t asc, uint8_t ascq);
// The other way: the pair whose description (or "ASC,ASCQ" in decimal) is text. False when
// none is.
bool AscAscqFromText(const std::string& text, uint8_t& asc, uint8_t& ascq);
// The sense key whose SenseKeyText is text (2 for "NOT READY"); -1 when none is.
int SenseKeyFromText(const std::string& text);

struct ErrorDescription {
  std::string Text;
  bool TargetBusy = false;
};

// The whole error text of a finished request: status row, sense key, then the ASC/ASCQ
// description in parentheses when the sense has additional bytes.
ErrorDescription DescribeError(const SRB_ExecSCSICmd& srb);

}  // namespace brennix
