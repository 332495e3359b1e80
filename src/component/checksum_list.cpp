#include "component/checksum_list.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "image/iso_image.h"
#include "platform/sha256.h"

namespace brennix {

std::string HashFile(const std::string& path, const std::atomic<bool>* cancel, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "CANNOT READ \"" + path + "\": " + std::strerror(errno);
    return std::string();
  }
  TSha256 sum;
  std::vector<uint8_t> buffer(1 << 20);
  for (;;) {
    if (cancel != nullptr && cancel->load()) {
      ::close(fd);
      error = "STOPPED";
      return std::string();
    }
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "CANNOT READ \"" + path + "\": " + std::strerror(errno);
      ::close(fd);
      return std::string();
    }
    if (n == 0) break;
    sum.Update(buffer.data(), static_cast<size_t>(n));
  }
  ::close(fd);
  return sum.HexDigest();
}

void RemoveChecksumFolder(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

std::string ChecksumLine(const std::string& hex, const std::string& path) {
  if (path.find_first_of("\\\n\r") == std::string::npos) return hex + "  " + path + "\n";
  std::string escaped;
  for (const char c : path) {
    if (c == '\\') escaped += "\\\\";
    else if (c == '\n') escaped += "\\n";
    else if (c == '\r') escaped += "\\r";
    else escaped += c;
  }
  return "\\" + hex + "  " + escaped + "\n";
}

std::map<std::string, std::string> ParseChecksumList(const std::string& text) {
  std::map<std::string, std::string> sums;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const bool escaped = !line.empty() && line[0] == '\\';
    if (escaped) line.erase(0, 1);
    if (line.size() < 67 || line.compare(64, 2, "  ") != 0) continue;
    const std::string hex = line.substr(0, 64);
    if (hex.find_first_not_of("0123456789abcdef") != std::string::npos) continue;
    std::string path = line.substr(66);
    if (escaped) {
      std::string plain;
      for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' && i + 1 < path.size()) {
          const char next = path[++i];
          plain += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
          plain += path[i];
        }
      }
      path = plain;
    }
    sums[path] = hex;
  }
  return sums;
}

std::string WriteChecksumList(const TIsoImage& tree, const std::atomic<bool>* cancel,
                              std::string& folder) {
  std::string base = std::filesystem::temp_directory_path().string() + "/brennix-sums-XXXXXX";
  if (::mkdtemp(base.data()) == nullptr)
    return std::string("CANNOT MAKE A TEMPORARY FOLDER: ") + std::strerror(errno);
  folder = base;
  std::string list;
  for (const auto& [onDisc, source] : tree.SourceFilesOnDisc()) {
    std::string error;
    const std::string hex = HashFile(source, cancel, error);
    if (hex.empty()) return error;
    list += ChecksumLine(hex, onDisc);
  }
  std::ofstream out(folder + "/" + kChecksumListName, std::ios::binary | std::ios::trunc);
  out << list;
  out.close();
  if (!out) return "CANNOT WRITE THE CHECKSUM LIST";
  return std::string();
}

}  // namespace brennix
