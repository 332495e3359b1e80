#pragma once

#include <QString>

namespace brennix {

// The program's home page, written without a scheme as the menus and the About box use it.
inline constexpr const char* kHomePage = "www.brennix.example/brennix/index.htm";

// Hands the address, unchanged, to the desktop's default handler; the outcome is ignored.
// An address without a scheme is read as the desktop reads a typed address (a web address,
// or a local file when one of that name exists).
void OpenWebPage(const QString& address);

}  // namespace brennix
