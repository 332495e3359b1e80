// Shared by the image tests: a scratch folder on disk, a writer that turns a prepared tree
// into an image file (header, then each file padded to whole zero-filled sectors), and small
// readers for the bytes of that image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/iso_image.h"
#include "support/iso_reader.h"
#include "support/shell.h"
#include "support/temp_folder.h"

namespace brennix::test {

class ScratchDir {
 public:
  const std::string& Path() const { return path_; }
  // Creates parent folders as needed; returns the full path.
  std::string File(const std::string& relative, const std::string& content = "");
  std::string SizedFile(const std::string& relative, int64_t size);  // patterned bytes
  // Files of the same content at each path.
  void Files(const std::vector<std::string>& relatives, const std::string& content = "x");
  std::string Folder(const std::string& relative);

 private:
  TempFolder folder_{"img"};
  std::string path_ = folder_.path();
};

// Header, then the data of every file in Files order, each padded with zeros.
bool WriteImageFile(const TIsoImage& image, const std::string& path);

std::vector<uint8_t> ReadAll(const std::string& path);
std::string Hex(const uint8_t* p, size_t n);

// The bytes of a header sector.
std::vector<uint8_t> HeaderSector(const TIsoImage& image, int64_t absoluteSector);

// Fixed "now" for byte-exact dates: 2007-03-02 09:05:07.045.
double FixedNow();

}  // namespace brennix::test
