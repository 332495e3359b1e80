#include "app/windows/message_box.h"

namespace brennix {

namespace {

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}

QMessageBox::StandardButton Exec(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                                 const QString& text, QMessageBox::StandardButtons buttons,
                                 QMessageBox::StandardButton defaultButton,
                                 const QString& informative = QString(),
                                 const QString& details = QString()) {
  QMessageBox box(icon, caption, text, buttons, owner);
  if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
  if (!informative.isEmpty()) box.setInformativeText(informative);
  if (!details.isEmpty()) box.setDetailedText(details);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, QMessageBox::Icon icon,
                                           const QString& caption, const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton) {
  if (Handler()) return Handler()(owner, icon, caption, text, buttons, defaultButton);
  return Exec(owner, icon, caption, text, buttons, defaultButton);
}

void ShowMessage(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                 const QString& text, const QString& details, const QString& informative) {
  Exec(owner, icon, caption, text, QMessageBox::Ok, QMessageBox::NoButton, informative, details);
}

bool AskYesNo(QWidget* owner, QMessageBox::Icon icon, const QString& text,
              QMessageBox::StandardButton defaultButton, const QString& informative,
              const QString& details) {
  return Exec(owner, icon, "Confirm Action", text, QMessageBox::Yes | QMessageBox::No,
              defaultButton, informative, details) == QMessageBox::Yes;
}

void SetMessageBoxHandler(MessageBoxHandler handler) { Handler() = std::move(handler); }

}  // namespace brennix
