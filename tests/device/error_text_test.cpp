#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>

#include "device/command_names.h"
#include "device/scsi_errors.h"

namespace brennix {
namespace {

SRB_ExecSCSICmd Failed(uint8_t key, uint8_t asc, uint8_t ascq, uint8_t additional = 10) {
  SRB_ExecSCSICmd srb;
  srb.SRB_Status = SS_ERR;
  srb.SRB_TargStat = 2;
  srb.SenseArea[0] = 0x70;
  srb.SenseArea[2] = key;
  srb.SenseArea[7] = additional;
  srb.SenseArea[12] = asc;
  srb.SenseArea[13] = ascq;
  return srb;
}

TEST(ErrorText, SenseKeyWithDescriptionInParentheses) {
  EXPECT_EQ(DescribeError(Failed(2, 0x3A, 0x00)).Text, "NOT READY (MEDIUM NOT PRESENT)");
  EXPECT_EQ(DescribeError(Failed(5, 0x21, 0x02)).Text, "ILLEGAL REQUEST (INVALID ADDRESS FOR WRITE)");
  EXPECT_EQ(DescribeError(Failed(5, 0x80, 0x01)).Text, "ILLEGAL REQUEST (128,1)");
  EXPECT_EQ(DescribeError(Failed(3, 0x36, 0x00)).Text, "MEDIUM ERROR (54,0)");
  EXPECT_EQ(DescribeError(Failed(2, 0x04, 0x08, 0)).Text, "NOT READY")
      << "no additional sense bytes, no parentheses";
}

TEST(ErrorText, SenseFormatAndKeyZeroFlags) {
  SRB_ExecSCSICmd srb = Failed(0, 0, 0, 0);
  srb.SenseArea[0] = 0;
  EXPECT_EQ(DescribeError(srb).Text, "");
  srb.SenseArea[0] = 0x72;  // descriptor format
  EXPECT_EQ(DescribeError(srb).Text, "UNKNOWN");
  srb.SenseArea[0] = 0xF1;  // valid bit and deferred error: still fixed format
  EXPECT_EQ(DescribeError(srb).Text, "NO ADDITIONAL SENSE INFORMATION");
  srb.SenseArea[2] = 0x80;
  EXPECT_EQ(DescribeError(srb).Text, "FILEMARK");
  srb.SenseArea[2] = 0x40;
  EXPECT_EQ(DescribeError(srb).Text, "END OF MEDIA");
  srb.SenseArea[2] = 0x20;
  EXPECT_EQ(DescribeError(srb).Text, "ILLEGAL LENGTH");
  const char* keys[] = {nullptr, "RECOVERED ERROR", "NOT READY", "MEDIUM ERROR", "HARDWARE ERROR",
                        "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT", "ERASE CHECK",
                        "CHECK CONDITION", "COPYABORTED", "ABORTED COMMAND", "CHECK CONDITION",
                        "VOLUME OVERFLOW", "MISCOMPARE", "RESERVED"};
  for (uint8_t key = 1; key < 16; ++key)
    EXPECT_EQ(DescribeError(Failed(key, 0, 0, 0)).Text, keys[key]) << int(key);
}

TEST(ErrorText, StatusRows) {
  bool busy = false;
  EXPECT_EQ(StatusText(SS_COMP, 0, 0, busy), "");
  EXPECT_EQ(StatusText(SS_PENDING, 0, 0, busy), "");
  EXPECT_EQ(StatusText(SS_ABORTED, 0, 0, busy), "OPERATION ABORTED BY USER");
  EXPECT_EQ(StatusText(SS_ABORT_FAIL, 0, 0, busy), "OPERATION ABORTED BY USER");
  EXPECT_EQ(StatusText(SS_ERR, 0, 8, busy), "TARGET BUSY");
  EXPECT_TRUE(busy);
  EXPECT_EQ(StatusText(SS_ERR, 0, 0x18, busy), "TARGET RESERVATION CONFLICT");
  EXPECT_FALSE(busy);
  EXPECT_EQ(StatusText(SS_ERR, 0, 0x28, busy), "TARGET QUEUE FULL");
  EXPECT_EQ(StatusText(SS_ERR, 0, 0x30, busy), "UNKNOWN");
  const std::pair<uint8_t, const char*> hosts[] = {
      {0x09, "COMMAND TIMEOUT"}, {0x0B, "SRB TIMEOUT"}, {0x0D, "MESSAGE REJECT"},
      {0x0E, "BUS RESET"}, {0x0F, "PARITY ERROR"}, {0x10, "REQUEST SENSE FAILED"},
      {0x11, "SELECTION TIMEOUT"}, {0x12, "DATA OVERRUN"}, {0x13, "UNEXPECTED BUS FREE"},
      {0x14, "UNKNOWN"}};
  for (const auto& [host, text] : hosts) EXPECT_EQ(StatusText(SS_ERR, host, 2, busy), text);
  const std::pair<uint8_t, const char*> statuses[] = {
      {SS_INVALID_CMD, "INVALID REQUEST"}, {SS_INVALID_HA, "INVALID HOST ADAPTER"},
      {SS_NO_DEVICE, "NO DEVICE"},         {SS_INVALID_SRB, "INVALID SRB"},
      {SS_BUFFER_ALIGN, "BUFFER ALIGNMENT"}, {SS_ASPI_IS_BUSY, "ASPI IS BUSY"},
      {SS_BUFFER_TO_BIG, "BUFFER TOO BIG"}, {0x55, "UNKNOWN"}};
  for (const auto& [status, text] : statuses) EXPECT_EQ(StatusText(status, 0, 0, busy), text);
  // A busy target has no sense to describe.
  SRB_ExecSCSICmd srb;
  srb.SRB_Status = SS_ERR;
  srb.SRB_TargStat = 8;
  const ErrorDescription d = DescribeError(srb);
  EXPECT_EQ(d.Text, "TARGET BUSY");
  EXPECT_TRUE(d.TargetBusy);
}

TEST(ErrorText, AscTableHas256SortedUpperCasePairs) {
  EXPECT_EQ(AscAscqText(0x04, 0x08), "LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS");
  EXPECT_EQ(AscAscqText(0x24, 0x00), "INVALID FIELD IN CDB");
  EXPECT_EQ(AscAscqText(0x30, 0x10), "MEDIUM NOT FORMATTED");
  EXPECT_EQ(AscAscqText(0x3F, 0x0E), "REPORTED LUNS DATA HAS CHANGED");
  EXPECT_EQ(AscAscqText(0x5D, 0xFF), "FAILURE PREDICTION THRESHOLD EXCEEDED (FALSE)");
  EXPECT_EQ(AscAscqText(0x73, 0x03), "POWER CALIBRATION AREA ERROR");
  // The listed ranges: every pair found, neighbours outside the ranges not.
  const std::pair<int, int> present[] = {{0x00, 0x17}, {0x0C, 0x0A}, {0x11, 0x11}, {0x26, 0x0D},
                                         {0x30, 0x09}, {0x3B, 0x16}, {0x3F, 0x11}, {0x55, 0x04},
                                         {0x5E, 0x04}, {0x6F, 0x05}, {0x72, 0x05}, {0x73, 0x06}};
  for (const auto& [asc, ascq] : present)
    EXPECT_EQ(AscAscqText(asc, ascq).find(','), AscAscqText(asc, ascq).find(", ")) << asc << "/" << ascq;
  const std::pair<int, int> absent[] = {{0x00, 0x18}, {0x04, 0x05}, {0x11, 0x03}, {0x30, 0x0A},
                                        {0x3B, 0x10}, {0x55, 0x00}, {0x5D, 0x04}, {0x73, 0x07}};
  for (const auto& [asc, ascq] : absent)
    EXPECT_EQ(AscAscqText(asc, ascq), std::to_string(asc) + "," + std::to_string(ascq));
  int named = 0;
  for (int asc = 0; asc < 256; ++asc) {
    for (int ascq = 0; ascq < 256; ++ascq) {
      const std::string text = AscAscqText(asc, ascq);
      for (char c : text) ASSERT_FALSE(std::islower(static_cast<unsigned char>(c))) << text;
      if (text != std::to_string(asc) + "," + std::to_string(ascq)) ++named;
    }
  }
  EXPECT_EQ(named, 256);
}

TEST(CommandNames, PaddedNamesAndHexFallbacks) {
  const auto& names = CommandNames();
  EXPECT_EQ(names[0x12], "INQUIRY" + std::string(15, ' '));
  EXPECT_EQ(names[0x99], "99");
  EXPECT_EQ(names[0x0A], "0A");
  EXPECT_EQ(names[0x23], "READ FORMAT CAPACITIES");
  EXPECT_EQ(CommandName(255), "");
  int named = 0;
  for (const std::string& name : names) {
    if (name.size() == 22) ++named;
    else EXPECT_EQ(name.size(), 2u);
  }
  EXPECT_EQ(named, 51);
}

}  // namespace
}  // namespace brennix
