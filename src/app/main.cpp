#include <cstdio>
#include <cstring>

#include "app/application.h"
#include "app/end_signals.h"
#include "app/startup.h"

#include <cstdio>

int main(int argc, char** argv) {
  // Answered before the toolkit starts, so it works without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("brennix " BRENNIX_VERSION);
      return 0;
    }
  }
  brennix::TBrennixApplication app(argc, argv);
  brennix::InstallEndSignals(app);
  QApplication::setApplicationName(brennix::kAppTitle);
  QStringList problems;
  const QStringList arguments = brennix::AttachVirtualRecorders(QApplication::arguments(), problems);
  brennix::StartupSettings settings = brennix::ReadStartupSettings(arguments);
  if (settings.help) {
    std::fputs(brennix::kUsage, stdout);
    return 0;
  }
  for (const QString& problem : problems + settings.problems)
    std::fprintf(stderr, "brennix: %s\n", qPrintable(problem));
  settings.problems = problems + settings.problems;
  return brennix::RunBrennix(app, settings);
}
