// The program's settings. They live in an INI file under the user's configuration folder,
// in a group named by the settings key path ("Software\Brennix CD & DVD\Options\"): every
// Load and Save names the same path, so one file holds every window's options.
#pragma once

#include <QString>

namespace brennix {

// The key that Load and Save are given throughout the program.
inline constexpr const char* kSettingsKey = "Software\\Brennix CD & DVD";

// Where the settings are kept: <config folder>/brennix/settings.ini (XDG_CONFIG_HOME honoured).
QString SettingsFilePath();

class TOptions {
 public:
  bool FirstRun = false;

  // Reads the values below key + "\Options\". A missing value takes its default; a file
  // that cannot be read leaves the fields as they are.
  void Load(const QString& key);
  // Writes the values; a file that cannot be written is skipped silently.
  void Save(const QString& key) const;
};

}  // namespace brennix
