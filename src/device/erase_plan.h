// The pure parts of an erase: how long it is expected to take, how far it has come, and the
// speed text of its start line.
#pragma once

#include <cstdint>
#include <string>

namespace brennix {

constexpr uint8_t kBlankFull = 0;
constexpr uint8_t kBlankQuick = 1;

// Expected length of an erase in passes of the erase thread's loops.
uint16_t EraseEstimate(int discType, uint8_t blankType);

// round(elapsed / estimate x 100), never below `previous` and never 100: only the end of the
// erase may show 100.
int EraseProgressStep(double elapsed, uint16_t estimate, int previous);

// The progress a drive reports in the sense-key specific bytes of a NOT READY answer
// (bytes 15-17), in percent; -1 when the sense holds none.
int DriveReportedProgress(const uint8_t* sense, size_t length);

// "2.4X (3,324 KB/s)" for the overwritable DVDs (6 to 10), "40X (7,056 KB/s)" otherwise.
std::string EraseSpeedText(int discType, uint32_t speedKBs);

// The zero-fill plan: WRITE(10) of 32 blocks at 0, 32, ... up to and including `lastAddress`.
constexpr uint32_t kZeroFillBlocks = 32;
constexpr uint32_t kQuickZeroFillLast = 2048;       // 65 writes
constexpr uint32_t kFullZeroFillLast = 2272000;     // 71,001 writes
constexpr uint32_t kDvdRamStartZeroFillLast = 320;  // 11 writes

}  // namespace brennix
