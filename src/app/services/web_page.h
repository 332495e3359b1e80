#pragma once

#include <QString>
#include <QStringList>

#include "brennix_version.h"

class QWidget;

namespace brennix {

// The program's home page, written without a scheme as the menus and the About box use it.
inline constexpr const char* kHomePage = BRENNIX_HOME_PAGE;

// Hands the address, unchanged, to the desktop's default handler; the outcome is ignored.
// An address without a scheme is read as the desktop reads a typed address (a web address,
// or a local file when one of that name exists).
void OpenWebPage(const QString& address);

// Where the manual may lie for a program in programDir: installed beside it (../share/doc),
// or made by the build (the build folder's data/). In the order looked at.
QStringList HelpFileCandidates(const QString& programDir);

// Opens the first of the candidates that exists in the desktop's browser. When none exists,
// or no browser takes it, a message says where the help is: nothing happens silently.
void OpenHelp(QWidget* owner, const QStringList& candidates);

}  // namespace brennix
