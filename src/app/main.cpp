#include <cstdio>

#include "app/services/application.h"
#include "app/services/end_signals.h"
#include "app/services/startup.h"

int main(int argc, char** argv) {
  // Answered before the toolkit starts, so they work without a display.
  if (const int status = brennix::AnswerWithoutWindow(argc, argv); status >= 0) return status;
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
  // An option nobody knows is a mistake on the command line, not something to open a window for.
  if (settings.usageError) {
    std::fputs("see 'brennix --help'\n", stderr);
    return 2;
  }
  settings.problems = problems + settings.problems;
  return brennix::RunBrennix(app, settings);
}
