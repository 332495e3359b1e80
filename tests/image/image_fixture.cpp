#include "image_fixture.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

#include "platform/date_time.h"

namespace brennix::test {

std::string ScratchDir::Folder(const std::string& relative) {
  const std::string full = path_ + "/" + relative;
  std::filesystem::create_directories(full);
  return full;
}

std::string ScratchDir::File(const std::string& relative, const std::string& content) {
  const std::string full = path_ + "/" + relative;
  std::filesystem::create_directories(std::filesystem::path(full).parent_path());
  std::ofstream out(full, std::ios::binary);
  out << content;
  return full;
}

void ScratchDir::Files(const std::vector<std::string>& relatives, const std::string& content) {
  for (const std::string& relative : relatives) File(relative, content);
}

std::string ScratchDir::SizedFile(const std::string& relative, int64_t size) {
  std::string content(static_cast<size_t>(size), '\0');
  for (int64_t i = 0; i < size; ++i) content[static_cast<size_t>(i)] = static_cast<char>('a' + (i * 7 + i / 2048) % 26);
  return File(relative, content);
}

bool WriteImageFile(const TIsoImage& image, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  const auto& head = image.HeaderStream.Bytes();
  out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  std::vector<char> buffer;
  for (const TFEntry* f : Tables().Files) {
    if (f->Dir != nullptr || f->FileSize <= 0) continue;
    std::ifstream in(f->FullPath, std::ios::binary);
    const int64_t padded = (f->FileSize + 2047) / 2048 * 2048;
    buffer.assign(static_cast<size_t>(padded), '\0');
    in.read(buffer.data(), f->FileSize);
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  }
  return static_cast<bool>(out);
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Hex(const uint8_t* p, size_t n) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", p[i]);
    out += b;
  }
  return out;
}

std::vector<uint8_t> HeaderSector(const TIsoImage& image, int64_t absoluteSector) {
  const auto& head = image.HeaderStream.Bytes();
  const size_t at = static_cast<size_t>(absoluteSector - image.StartSector) * 2048;
  if (at + 2048 > head.size()) return {};
  return std::vector<uint8_t>(head.begin() + static_cast<std::ptrdiff_t>(at),
                              head.begin() + static_cast<std::ptrdiff_t>(at + 2048));
}

double FixedNow() {
  DateTimeFields f;
  f.Year = 2007, f.Month = 3, f.Day = 2, f.Hour = 9, f.Minute = 5, f.Second = 7, f.Millisecond = 45;
  double v = 0;
  EncodeDateTime(f, v);
  return v;
}

}  // namespace brennix::test
