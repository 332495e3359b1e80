#include "app/windows/message_box.h"

namespace brennix {

namespace {

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}

}  // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, QMessageBox::Icon icon,
                                           const QString& caption, const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton) {
  if (Handler()) return Handler()(owner, icon, caption, text, buttons, defaultButton);
  QMessageBox box(icon, caption, text, buttons, owner);
  if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void SetMessageBoxHandler(MessageBoxHandler handler) { Handler() = std::move(handler); }

}  // namespace brennix
