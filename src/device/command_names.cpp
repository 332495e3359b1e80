#include "device/command_names.h"

#include <cstdio>

#include "platform/disc_units.h"

namespace brennix {

namespace {

std::array<std::string, 255> BuildNames() {
  std::array<std::string, 255> names;
  for (unsigned i = 0; i < names.size(); ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", i);
    names[i] = hex;
  }
  static const struct {
    uint8_t Code;
    const char* Name;
  } kNamed[] = {
      {op::TEST_UNIT_READY, "TEST UNIT READY"}, {op::REZERO_UNIT, "REWIND UNIT"},
      {op::REQUEST_SENSE, "REQUEST SENSE"}, {op::FORMAT_UNIT, "FORMAT UNIT"},
      {op::INQUIRY, "INQUIRY"}, {op::START_STOP_UNIT, "START STOP UNIT"},
      {op::PREVENT_ALLOW_REMOVAL, "PREVENT/ALLOW REMOVAL"},
      {op::READ_FORMAT_CAPACITIES, "READ FORMAT CAPACITIES"},
      {op::READ_CAPACITY, "READ CAPACITY"}, {op::READ_10, "READ (10)"},
      {op::WRITE_10, "WRITE (10)"}, {op::SEEK_10, "SEEK (10)"},
      {op::WRITE_AND_VERIFY_10, "WRITE AND VERIFY (10)"}, {op::VERIFY_10, "VERIFY (10)"},
      {op::SYNCHRONIZE_CACHE, "SYNCHRONIZE CACHE"}, {op::READ_SUB_CHANNEL, "READ SUB-CHANNEL"},
      {op::READ_TOC, "READ TOC/PMA/ATIP"}, {op::PLAY_AUDIO_10, "PLAY AUDIO (10)"},
      {op::GET_CONFIGURATION, "GET CONFIGURATION"}, {op::PLAY_AUDIO_MSF, "PLAY AUDIO MSF"},
      {op::GET_EVENT_STATUS_NOTIFICATION, "GET EVENT/STATUS NOTIF"},
      {op::PAUSE_RESUME, "PAUSE/RESUME"}, {op::STOP_PLAY_SCAN, "STOP PLAY/SCAN"},
      {op::READ_DISC_INFORMATION, "READ DISC INFORMATION"},
      {op::READ_TRACK_INFORMATION, "READ TRACK INFORMATION"},
      {op::RESERVE_TRACK, "RESERVE TRACK"}, {op::SEND_OPC_INFORMATION, "SEND OPC INFORMATION"},
      {op::MODE_SELECT_10, "MODE SELECT (10)"}, {op::REPAIR_TRACK, "REPAIR TRACK"},
      {op::MODE_SENSE_10, "MODE SENSE (10)"}, {op::CLOSE_TRACK_SESSION, "CLOSE TRACK/SESSION"},
      {op::READ_BUFFER_CAPACITY, "READ BUFFER CAPACITY"}, {op::SEND_CUE_SHEET, "SEND CUE SHEET"},
      {op::BLANK, "BLANK"}, {op::SEND_EVENT, "SEND EVENT"}, {op::SEND_KEY, "SEND KEY"},
      {op::REPORT_KEY, "REPORT KEY"}, {op::PLAY_AUDIO_12, "PLAY AUDIO (12)"},
      {op::LOAD_UNLOAD_MEDIUM, "LOAD/UNLOAD CD/DVD"}, {op::SET_READ_AHEAD, "SET READ AHEAD"},
      {op::READ_12, "READ (12)"}, {op::WRITE_12, "WRITE (12)"},
      {op::GET_PERFORMANCE, "GET PERFORMANCE"}, {op::READ_DVD_STRUCTURE, "READ DVD STRUCTURE"},
      {op::SET_STREAMING, "SET STREAMING"}, {op::READ_CD_MSF, "READ CD MSF"},
      {op::SCAN, "SCAN"}, {op::SET_CD_SPEED, "SET CD SPEED"},
      {op::MECHANISM_STATUS, "MECHANISM STATUS"}, {op::READ_CD, "READ CD"},
      {op::SEND_DVD_STRUCTURE, "SEND DVD STRUCTURE"},
  };
  for (const auto& named : kNamed) {
    std::string name = named.Name;
    name.resize(22, ' ');
    names[named.Code] = name;
  }
  return names;
}

}  // namespace

const std::array<std::string, 255>& CommandNames() {
  static const std::array<std::string, 255> names = BuildNames();
  return names;
}

std::string CommandName(uint8_t opcode) {
  if (opcode == 255) return std::string();
  return CommandNames()[opcode];
}

}  // namespace brennix
