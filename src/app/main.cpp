#include "app/application.h"
#include "app/startup.h"

int main(int argc, char** argv) {
  brennix::TBrennixApplication app(argc, argv);
  QApplication::setApplicationName(brennix::kAppTitle);
  return brennix::RunBrennix(app, brennix::ReadStartupSettings(QApplication::arguments()));
}
