#include "app/services/desktop_notice.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QWidget>

#ifdef BRENNIX_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#endif

namespace brennix {

namespace {

std::function<void(const QString&, const QString&)>& Hook() {
  static std::function<void(const QString&, const QString&)> hook;
  return hook;
}

#ifdef BRENNIX_HAVE_DBUS
constexpr const char* kService = "org.freedesktop.Notifications";

bool SendOverDBus(const QString& title, const QString& line) {
  // No session bus named: none is started for a notice.
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || bus.interface() == nullptr) return false;
  if (!bus.interface()->isServiceRegistered(kService).value()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, "/org/freedesktop/Notifications",
                                                     kService, "Notify");
  call << QString("Brennix") << uint(0) << QString("media-optical") << title << line
       << QStringList() << QVariantMap() << int(-1);
  return bus.send(call);  // no wait for the answer
}
#endif

bool ShowTrayMessage(const QString& title, const QString& line) {
  if (!QSystemTrayIcon::isSystemTrayAvailable() || !QSystemTrayIcon::supportsMessages())
    return false;
  static QSystemTrayIcon* tray = nullptr;
  if (tray == nullptr) {
    tray = new QSystemTrayIcon(qApp->style()->standardIcon(QStyle::SP_DriveCDIcon), qApp);
    tray->setToolTip("Brennix");
  }
  tray->show();
  tray->showMessage(title, line, QSystemTrayIcon::Information, 10000);
  return true;
}

}  // namespace

bool NotifyDesktop(QWidget* window, const QString& title, const QString& line) {
  if (window != nullptr && window->isActiveWindow()) return false;
  if (Hook()) {
    Hook()(title, line);
    return true;
  }
#ifdef BRENNIX_HAVE_DBUS
  if (SendOverDBus(title, line)) return true;
#endif
  return ShowTrayMessage(title, line);
}

void SetDesktopNoticeHook(std::function<void(const QString& title, const QString& line)> hook) {
  Hook() = std::move(hook);
}

}  // namespace brennix
