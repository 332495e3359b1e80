#include "app/services/options.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace brennix {

namespace {

// "Software\Brennix CD & DVD" + "\Options\" as a QSettings group path.
QString OptionsGroup(const QString& key) {
  QString path = key + "\\Options\\";
  path.replace('\\', '/');
  QStringList parts = path.split('/', Qt::SkipEmptyParts);
  return parts.join('/');
}

// Opens the settings file, creating its folder when missing (the key is created on first
// use). Returns false when the file cannot be used at all.
bool OpenSettings(QSettings& settings) {
  const QString file = settings.fileName();
  if (!QDir().mkpath(QFileInfo(file).absolutePath())) return false;
  return settings.status() == QSettings::NoError;
}

}  // namespace

QString SettingsFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         "/brennix/settings.ini";
}

void TOptions::Load(const QString& key) {
  QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  if (!OpenSettings(settings)) return;
  const QString value = OptionsGroup(key) + "/FirstRun";
  FirstRun = true;
  if (settings.contains(value)) {
    // The value is a 4-byte integer; anything unreadable is treated as missing.
    bool ok = false;
    const int stored = settings.value(value).toInt(&ok);
    if (ok) FirstRun = stored != 0;
  }
}

void TOptions::Save(const QString& key) const {
  QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  if (!OpenSettings(settings) || !settings.isWritable()) return;
  settings.setValue(OptionsGroup(key) + "/FirstRun", FirstRun ? 1 : 0);
  settings.sync();
}

}  // namespace brennix
