#include "device/write_parameters.h"

#include <algorithm>

#include "device/disc_types.h"
#include "platform/disc_units.h"

namespace brennix {

namespace {

// The page-saveable bit shares the code byte; it must not hide the page nor go back out.
constexpr uint8_t kPageCodeMask = 0x3F;

void SetPacketSize(std::array<uint8_t, kWriteParametersPageCopy>& p, uint32_t size) {
  WriteBE32(&p[10], size);
}

}  // namespace

std::optional<size_t> LocateModePage(std::span<const uint8_t> answer, uint8_t pageCode) {
  for (size_t offset : {size_t{16}, size_t{8}, size_t{7}}) {
    // The code and the length byte must both have come back.
    if (offset + 2 <= answer.size() && (answer[offset] & kPageCodeMask) == pageCode) return offset;
  }
  return std::nullopt;
}

std::optional<WriteParametersResult> BuildWriteParameters(std::span<const uint8_t> senseAnswer,
                                                          const WriteParameterOptions& o) {
  const auto offset = LocateModePage(senseAnswer, 0x05);
  if (!offset) return std::nullopt;

  WriteParametersResult r;
  auto& p = r.Page;
  const size_t available = std::min(kWriteParametersPageCopy, senseAnswer.size() - *offset);
  std::copy_n(senseAnswer.begin() + static_cast<std::ptrdiff_t>(*offset), available, p.begin());
  p[0] &= kPageCodeMask;
  p[1] = 0x32;

  const int t = o.DiscType;
  const bool dvdRw = t == kDiscDvdRwRestricted || t == kDiscDvdRwSequential;

  if (t == kDiscDvdR) {
    p[2] = 0x60;
    p[3] = 0xE5;
    p[5] = 16;
    SetPacketSize(p, 16);
  } else {
    p[2] = 0x01;  // track at once
    p[3] = 0x04;
    p[5] = 0;
    SetPacketSize(p, 0);
  }
  p[4] = 8;  // Mode 1, 2048-byte blocks

  if (t == kDiscDvdPlusRw || t == kDiscDvdPlusR) {
    p[2] = 0x22;
    p[3] |= 0xC0;
  }
  if (o.LinkSizeQuirk) p[2] |= 0x20;

  if (t == kDiscDvdR && o.LastSession) {
    p[3] = static_cast<uint8_t>((p[3] & 0x3F) | 0x20);
  } else if (t == kDiscDvdR || dvdRw || t == kDiscDvdPlusR) {
    p[3] |= 0xE0;
  } else if (!o.TestWrite && !o.FinalizeDisc) {
    p[3] |= 0xC0;  // next session allowed
  } else if ((p[3] & 0xC0) == 0xC0) {
    p[3] &= static_cast<uint8_t>(~0xC0);
  }

  if (o.UnderrunFree && o.UnderrunProtection) {
    p[2] |= 0x40;
  } else {
    p[2] &= static_cast<uint8_t>(~0x40);
  }
  if (o.TestWriteCapable && o.TestWrite) {
    p[2] |= 0x10;
  } else {
    p[2] &= static_cast<uint8_t>(~0x10);
  }

  p[6] = p[7] = p[8] = p[9] = 0;
  if (t == kDiscDvdPlusR) SetPacketSize(p, 16);

  if (dvdRw) {
    // The drive decides these itself: no test write and no underrun flag on DVD-RW.
    p[2] = 0x20;
    p[3] = 0xC5;
    p[5] = 16;
  }
  if (t == kDiscDvdPlusR) p[3] = 0xC4;

  if (t == kDiscDvdPlusRDl) {
    p[2] = static_cast<uint8_t>((p[2] & 0xF0) | 0x22);
    p[3] = static_cast<uint8_t>(((p[3] & 0xF0) | 0x04) & ~0x20);
    p[5] = 0;
    SetPacketSize(p, 0);
    p[3] = static_cast<uint8_t>((p[3] & 0x3F) | (o.CloseFlag ? 0xC0 : 0x00));
  } else if (!dvdRw && o.UnderrunProtection && o.BufferUnderrunCapable) {
    p[2] |= 0x40;
  }

  if (t == kDiscDvdPlusRw) {
    p[3] = 0x04;
    p[5] = 16;
  }
  p[14] = 0x00;
  p[15] = 0x96;

  // 8-byte zero header, then the page as long as its length byte says (2 + 50 bytes).
  std::copy_n(p.begin(), kWriteParametersSelectLength - 8, r.SelectData.begin() + 8);
  return r;
}

}  // namespace brennix
