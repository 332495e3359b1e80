// Runs the application tests inside one QApplication on the offscreen platform, with the
// configuration and runtime folders pointed at a private temporary folder so that no test
// ever touches the real user's settings or lock files.
#include "app/services/application.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Fetch tests talk to 127.0.0.1 directly; a proxy from the environment must not interfere.
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  QTemporaryDir home;
  if (!home.isValid()) return 2;
  const QString config = home.path() + "/config";
  const QString runtime = home.path() + "/runtime";
  QDir().mkpath(config);
  QDir().mkpath(runtime);
  QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("XDG_CONFIG_HOME", config.toUtf8());
  qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());

  testing::InitGoogleTest(&argc, argv);
  brennix::TBrennixApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
