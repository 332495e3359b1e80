#include "component/progress_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "component/job.h"
#include "platform/disc_units.h"
#include "recording/write_preparation.h"

namespace brennix {

namespace {

// "#,##0.00"
std::string Grouped2(double value) {
  if (!std::isfinite(value) || value < 0) value = 0;
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.2f", value);
  const std::string text = digits;
  const size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  std::string out;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += ',';
    out += whole[i];
  }
  return out + text.substr(dot);
}

}  // namespace

SizeUnit SizeUnitOf(double bytes, double step) {
  if (!(bytes >= 1024.0)) return {"bytes", 1.0};
  double unit = 1024.0;
  for (const char* name : {"KB", "MB"}) {
    if (bytes < unit * step) return {name, unit};
    unit *= step;
  }
  return {"GB", unit};
}

std::string QueueSizeText(double bytes) {
  char text[64];
  const SizeUnit unit = SizeUnitOf(bytes, 1024.0);
  if (unit.Bytes == 1.0) {
    std::snprintf(text, sizeof text, "%.15g bytes", bytes >= 0 ? bytes : 0.0);
  } else {
    std::snprintf(text, sizeof text, "%.2f %s", bytes / unit.Bytes, unit.Name);
  }
  return text;
}

std::string MBWrittenText(int64_t bytesWritten, int64_t sectorsToWrite) {
  return "MB Written: " + Grouped2(static_cast<double>(bytesWritten) / 1048576.0) + "/" +
         Grouped2(static_cast<double>(sectorsToWrite) * kSectorSize / 1048576.0);
}

int64_t ProgressPosition(int64_t bytesWritten, int64_t sectorsToWrite) {
  const int64_t position = bytesWritten / kSectorSize;
  const double cap = static_cast<double>(sectorsToWrite) * 0.9;
  return static_cast<double>(position) > cap ? static_cast<int64_t>(cap) : position;
}

int BufferFillPercent(uint32_t bufferSize, uint32_t freeSize) {
  if (bufferSize == 0) return -1;
  if (freeSize > bufferSize) freeSize = bufferSize;
  return static_cast<int>((uint64_t{bufferSize} - freeSize) * 100 / bufferSize);
}

std::string XSpeedText(int16_t discType, double bytesPerSecond) {
  if (!std::isfinite(bytesPerSecond) || bytesPerSecond < 0) bytesPerSecond = 0;
  const double kbs = bytesPerSecond / 1024.0;
  char text[32];
  if (IsDVDSpeedType(discType)) {
    std::snprintf(text, sizeof text, "%.1fx", kbs / 1385.0);
  } else {
    std::snprintf(text, sizeof text, "%.0fx", kbs / 176.4);
  }
  return text;
}

std::string MegabytesText(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1048576.0);
  return text;
}

std::string SpeedText(int16_t discType, double bytesPerSecond) {
  if (!std::isfinite(bytesPerSecond) || bytesPerSecond < 0) bytesPerSecond = 0;
  char text[32];
  std::snprintf(text, sizeof text, ", %.1f MB/s", bytesPerSecond / 1048576.0);
  return XSpeedText(discType, bytesPerSecond) + text;
}

std::string DurationText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  return text;
}

int64_t SecondsLeft(int64_t bytesDone, int64_t bytesTotal, double bytesPerSecond) {
  if (!std::isfinite(bytesPerSecond) || bytesPerSecond <= 0 || bytesTotal <= 0) return -1;
  const int64_t left = std::max<int64_t>(bytesTotal - bytesDone, 0);
  return static_cast<int64_t>(std::ceil(static_cast<double>(left) / bytesPerSecond));
}

std::string ProgressFiguresText(int16_t discType, double bytesPerSecond, int64_t elapsedSeconds,
                                int64_t bytesDone, int64_t bytesTotal) {
  std::string text;
  const bool moving = std::isfinite(bytesPerSecond) && bytesPerSecond > 0;
  if (moving) text = SpeedText(discType, bytesPerSecond) + ", ";
  text += DurationText(elapsedSeconds) + " elapsed";
  const int64_t left = SecondsLeft(bytesDone, bytesTotal, bytesPerSecond);
  if (moving && left >= 0) text += ", " + DurationText(left) + " left";
  return text;
}

std::string RecorderProgressText(const TRecorderProgress& recorder, int64_t bytesTotal) {
  const std::string name = recorder.Name + " ";
  if (!recorder.Error.empty()) return name + "FAILED";
  if (recorder.Ended) return name + "done";
  switch (recorder.Phase) {
    case TJobPhase::Finalizing:
      return name + "Finalizing...";
    case TJobPhase::Verifying:
      return name + "Verifying " + std::to_string(std::max(recorder.Percent, 0)) + "%";
    default:
      break;
  }
  const int64_t percent = bytesTotal > 0 ? recorder.BytesDone * 100 / bytesTotal : 0;
  return name + std::to_string(percent) + "%";
}

}  // namespace brennix
