#include <cstdio>
#include <cstring>

#include "app/application.h"
#include "app/startup.h"

int main(int argc, char** argv) {
  // Answered before the toolkit starts, so it works without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("brennix " BRENNIX_VERSION);
      return 0;
    }
  }
  brennix::TBrennixApplication app(argc, argv);
  QApplication::setApplicationName(brennix::kAppTitle);
  return brennix::RunBrennix(app, brennix::ReadStartupSettings(QApplication::arguments()));
}
