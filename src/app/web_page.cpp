#include "app/web_page.h"

#include <QDesktopServices>
#include <QUrl>

namespace brennix {

void OpenWebPage(const QString& address) {
  const QUrl url = QUrl::fromUserInput(address);
  if (url.isValid()) QDesktopServices::openUrl(url);
}

}  // namespace brennix
