#include "image/iso_image.h"

namespace brennix {

TIsoImage::TIsoImage() : DescriptorCopy(kDescriptorCopyBytes, 0xFF) { ClearAll(65535, 8191); }
TIsoImage::~TIsoImage() = default;
bool TIsoImage::ClearAll(int, int) { return true; }
int TIsoImage::AddFile(const std::string&, const std::string&, bool) { return 0; }
int TIsoImage::AddDir(TDEntry*, const std::string&, const std::string&, int, bool, bool, bool) {
  return 0;
}
bool TIsoImage::RemoveEmptyDirs() { return true; }
bool TIsoImage::RemoveDir(TDEntry*&) { return false; }
bool TIsoImage::RemoveFile(const std::string&, const std::string&) { return false; }
TDEntry* TIsoImage::FindDir(const std::string&) const { return nullptr; }
TFEntry* TIsoImage::FindFile(const TDEntry*, const std::string&) const { return nullptr; }
int TIsoImage::DirCount() const { return 0; }
int TIsoImage::FileCount() const { return 0; }
int64_t TIsoImage::DiskDirSize(const std::string&) { return 0; }
bool TIsoImage::PrepareImage() { return true; }
int64_t TIsoImage::SectorsToWrite() const { return 300; }
bool TIsoImage::BuildHeader() { return true; }
void TIsoImage::SetCacheSize(int32_t value) { cacheSize_ = value; }
void TIsoImage::DebugMessage(const std::string& text, uint8_t type) {
  if (OnDebugMessage) OnDebugMessage(text, type);
}

}  // namespace brennix
