// Garbage in: random command blocks with random data phases must get an answer, never a
// crash, and never a byte written outside the caller's buffer.
#include <gtest/gtest.h>

#include <random>

#include "recorder_harness.h"

namespace brennix::testing {
namespace {

TEST(RecorderRobustness, RandomCommandsStayInsideTheirBuffers) {
  TempFolder folder;
  std::mt19937 random(20261207);
  const MediaProfile profiles[] = {MediaProfile::CdR, MediaProfile::CdRw, MediaProfile::DvdR,
                                   MediaProfile::DvdPlusRw, MediaProfile::DvdRam,
                                   MediaProfile::DvdRwSequential, MediaProfile::DvdPlusRDl};
  // Operation codes the drive knows get most of the traffic; the rest are refused.
  const uint8_t known[] = {0x00, 0x01, 0x03, 0x04, 0x12, 0x1B, 0x1E, 0x23, 0x25, 0x28, 0x2A,
                           0x35, 0x43, 0x46, 0x51, 0x52, 0x53, 0x54, 0x55, 0x5A, 0x5B, 0x5C,
                           0xA1, 0xB6, 0xBB, 0xBF};
  int index = 0;
  for (MediaProfile profile : profiles) {
    Drive drive(folder.File("disc" + std::to_string(index++)), profile);
    ASSERT_TRUE(drive.ok()) << drive.error();
    VirtualDrive& backend = drive.drive();
    const DriveHandle handle = backend.Open();
    for (int i = 0; i < 1500; ++i) {
      PassThroughRequest request;
      request.CdbLength = static_cast<uint8_t>(1 + random() % 16);
      for (auto& byte : request.Cdb) byte = static_cast<uint8_t>(random());
      if (random() % 4 != 0) request.Cdb[0] = known[random() % std::size(known)];
      // Keep transfers small so the test stays fast: small LBAs and counts most of the time.
      if (random() % 2 == 0) {
        request.Cdb[2] = request.Cdb[3] = request.Cdb[4] = 0;
        request.Cdb[7] = 0;
        request.Cdb[8] = static_cast<uint8_t>(random() % 4);
      }
      const uint32_t length = random() % 3 == 0 ? 0 : static_cast<uint32_t>(random() % 9000);
      request.Direction = static_cast<DataDirection>(random() % 3);
      std::vector<uint8_t> buffer(length + 64);
      for (auto& byte : buffer) byte = static_cast<uint8_t>(random());
      const std::vector<uint8_t> guard(buffer.end() - 64, buffer.end());
      request.Data = length == 0 ? nullptr : buffer.data();
      request.DataLength = length;
      request.SenseLength = static_cast<uint8_t>(random() % 33);
      request.TimeoutSeconds = 3600;
      if (backend.PassThrough(handle, request)) {
        ASSERT_LE(request.DataTransferred, length);
        ASSERT_TRUE(request.ScsiStatus == 0 || request.ScsiStatus == 2 || request.ScsiStatus == 8);
        if (request.ScsiStatus == 2) {
          ASSERT_EQ(request.Sense[0] & 0x7F, request.SenseLength >= 1 ? 0x70 : 0x00);
        }
      }
      ASSERT_TRUE(std::equal(guard.begin(), guard.end(), buffer.end() - 64))
          << "command " << int(request.Cdb[0]) << " wrote past the buffer";
      // The drive must keep answering sensibly afterwards.
      if (i % 500 == 499) {
        drive.None({0x1B, 0, 0, 0, 0x03, 0});
        ASSERT_TRUE(drive.In({0x12, 0, 0, 0, 36, 0}, 36).Good());
      }
    }
    // Whatever the noise did, the disc state is still one the recorder accepts on reload.
    std::string error;
    ASSERT_TRUE(drive.recorder().Flush(error)) << error;
    const std::string path = drive.recorder().Path();
    drive.Release();
    Drive again(path, std::nullopt);
    EXPECT_TRUE(again.ok()) << again.error();
  }
}

}  // namespace
}  // namespace brennix::testing
