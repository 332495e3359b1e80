#include "app/services/web_page.h"

#include "app/windows/message_box.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace brennix {

void OpenWebPage(const QString& address) {
  const QUrl url = QUrl::fromUserInput(address);
  if (url.isValid()) QDesktopServices::openUrl(url);
}

QStringList HelpFileCandidates(const QString& programDir) {
  const QDir dir(programDir);
  return {QDir::cleanPath(dir.filePath("../share/doc/brennix/brennix.html")),
          QDir::cleanPath(dir.filePath("../../data/brennix.html"))};
}

void OpenHelp(QWidget* owner, const QStringList& candidates) {
  const auto found = std::find_if(candidates.cbegin(), candidates.cend(),
                                  [](const QString& file) { return QFileInfo(file).isFile(); });
  const QString terminal = "In a terminal, 'man brennix' shows the same manual.";
  if (found == candidates.cend()) {
    ShowMessageBox(owner, QMessageBox::Information, "Help",
                   "The manual was not found beside the program (looked for " +
                       candidates.value(0) + ").\n" + terminal);
    return;
  }
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(*found))) return;
  ShowMessageBox(
      owner, QMessageBox::Information, "Help",
      "No browser could be started to show the manual. It is the file " + *found + "\n" + terminal);
}

}  // namespace brennix
