#include "image/session_reader.h"

namespace brennix {

bool ReadEarlierSession(const TSectorReader& read, uint32_t sessionStart, uint32_t discSectors,
                        TImportedSession& out, std::string& error) {
  (void)read;
  (void)sessionStart;
  (void)discSectors;
  out = TImportedSession{};
  error = std::string(kEarlierSessionErrorPrefix) + "NOT IMPLEMENTED YET";
  return false;
}

}  // namespace brennix
