#include "component/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/disc_units.h"
#include "platform/file_io.h"

namespace brennix {

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::string SystemText() { return std::strerror(errno); }

}  // namespace

std::string InspectImageFile(const std::string& path, TImageFile& out) {
  out = TImageFile{};
  out.Path = path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "CANNOT OPEN THE IMAGE FILE: " + SystemText();
  struct stat st {};
  std::string why;
  if (::fstat(fd, &st) != 0) {
    why = "CANNOT READ THE IMAGE FILE: " + SystemText();
  } else if (!S_ISREG(st.st_mode)) {
    why = "THE IMAGE IS NOT A REGULAR FILE";
  } else if (st.st_size == 0) {
    why = "THE IMAGE FILE IS EMPTY";
  } else if (st.st_size % kSectorSize != 0) {
    why = "THE IMAGE FILE IS NOT MADE OF WHOLE 2048-BYTE SECTORS (" +
          std::to_string(st.st_size) + " BYTES)";
  }
  if (why.empty()) {
    out.Sectors = st.st_size / kSectorSize;
    out.Head.resize(static_cast<size_t>(std::min(out.Sectors, kImageHeadSectors) * kSectorSize));
    const ssize_t got = ReadAll(fd, out.Head.data(), out.Head.size(), 0);
    if (got < 0 || static_cast<size_t>(got) < out.Head.size())
      why = "CANNOT READ THE IMAGE FILE: " + SystemText();
  }
  ::close(fd);
  if (!why.empty()) return why;
  return InspectImageHead(out);
}

std::string InspectImageHead(TImageFile& out) {
  // The volume descriptors from sector 16 on.
  for (int64_t s = 16; (s + 1) * kSectorSize <= static_cast<int64_t>(out.Head.size()); ++s) {
    const uint8_t* d = out.Head.data() + s * kSectorSize;
    if (std::memcmp(d + 1, "CD001", 5) == 0) {
      if (d[0] == 1 && out.Kind.empty()) {
        out.Kind = "ISO 9660";
        std::string label(reinterpret_cast<const char*>(d + 40), 32);
        while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
        out.Label = label;
        out.VolumeSectors = Le32(d + 80);
      }
      if (d[0] == 255) {
        out.TerminatorSector = static_cast<int32_t>(s);
        break;
      }
      continue;
    }
    if (std::memcmp(d + 1, "BEA01", 5) == 0 || std::memcmp(d + 1, "NSR02", 5) == 0 ||
        std::memcmp(d + 1, "NSR03", 5) == 0 || std::memcmp(d + 1, "TEA01", 5) == 0) {
      if (out.Kind.empty() && d[1] == 'N') out.Kind = "UDF";
      continue;
    }
    break;
  }
  if (out.Kind.empty()) return "THE FILE HOLDS NO ISO 9660 OR UDF VOLUME";
  if (out.Kind == "ISO 9660" && out.VolumeSectors > out.Sectors)
    return "THE IMAGE FILE IS SHORTER THAN ITS VOLUME (" + std::to_string(out.VolumeSectors) +
           " SECTORS, THE FILE HOLDS " + std::to_string(out.Sectors) + ")";
  if (out.Kind != "ISO 9660") out.TerminatorSector = 0;
  return std::string();
}

}  // namespace brennix
