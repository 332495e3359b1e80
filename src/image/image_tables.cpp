#include "image/image_tables.h"

namespace brennix {

ImageTables& Tables() {
  static ImageTables tables;
  return tables;
}

}  // namespace brennix
