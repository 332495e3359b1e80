// A library that leaves a marker file when it is loaded. Planted in the working folder
// under the manager library's name, it must never be loaded.
#include <cstdio>
#include <cstdlib>

__attribute__((constructor)) static void LeaveMarker() {
  const char* marker = std::getenv("BRENNIX_PLANTED_MARKER");
  if (marker == nullptr) return;
  if (FILE* f = std::fopen(marker, "w")) std::fclose(f);
}
