// The write parameters mode page (05h): finding it in a MODE SENSE answer and turning it into
// the MODE SELECT data for a given disc type and set of options.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace brennix {

constexpr size_t kWriteParametersPageCopy = 54;   // bytes of the page the device keeps
constexpr size_t kWriteParametersSelectLength = 60;  // 8-byte header + 52-byte page

struct WriteParameterOptions {
  bool TestWrite = false;
  bool UnderrunProtection = false;
  bool CloseFlag = false;       // only the DVD+R DL page uses it
  int DiscType = 0;
  bool FinalizeDisc = false;    // the component's property
  // The page goes out right before the close of a session that ends the disc: a DVD-R then
  // records no further border (multi-session 00b).
  bool LastSession = false;
  bool TestWriteCapable = false;
  bool UnderrunFree = false;
  bool BufferUnderrunCapable = false;  // capabilities page byte 4 bit 7
  bool LinkSizeQuirk = false;
};

// Offset of mode page `pageCode` in a MODE SENSE(10) answer of `answer.size()` valid bytes:
// after the 8-byte header and a block descriptor (16), after the header (8), or at 7 for
// drives that drop a byte. Nothing when the page is at none of them.
std::optional<size_t> LocateModePage(std::span<const uint8_t> answer, uint8_t pageCode);

struct WriteParametersResult {
  std::array<uint8_t, kWriteParametersPageCopy> Page{};
  std::array<uint8_t, kWriteParametersSelectLength> SelectData{};
};

// Builds the page from the drive's MODE SENSE answer (only the bytes it returned). Nothing
// when the answer holds no write parameters page.
std::optional<WriteParametersResult> BuildWriteParameters(std::span<const uint8_t> senseAnswer,
                                                          const WriteParameterOptions& options);

}  // namespace brennix
