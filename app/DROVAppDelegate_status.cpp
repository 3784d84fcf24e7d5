// The tray icon and its menu, the main window, About, clicked notifications, the login item.
#include "app/AppLog.h"
#include "app/DROVAppDelegate.h"
#include "platform/Application.h"
#include "platform/UserDefaults.h"
#include "services/TVKLoginItem.h"
#include "ui/DROVMainWindowController.h"

#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>

namespace {

QIcon statusImage(bool active) {
    const QImage image(active ? QStringLiteral(":/images/DROVStatus_active.png")
                              : QStringLiteral(":/images/DROVStatus_inactive.png"));
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

// The window's new top-left corner: centred on the screen that holds it, the screen's own
// position included so that a second screen is centred too.
QPoint centredOrigin(const QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect();
    const QSize size = window->frameGeometry().size();
    return {area.x() + int(area.width() * 0.5 - size.width() * 0.5),
            area.y() + int(area.height() * 0.5 - size.height() * 0.5)};
}

// Where the tray menu opens: beside the icon, towards the middle of the screen, as a panel's
// menus do, so that it does not cover the icon; at the pointer when the icon's place is unknown.
QPoint menuPosition(const QRect& icon, const QMenu* menu) {
    if (!icon.isValid())
        return QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(icon.center());
    const bool below = !screen || icon.center().y() < screen->geometry().center().y();
    return below ? icon.bottomLeft() + QPoint(0, 1)
                 : icon.topLeft() - QPoint(0, menu->sizeHint().height());
}

} // namespace

QMenu* DROVAppDelegate::statusMenu() const {
    return _statusMenu;
}

void DROVAppDelegate::setStatusMenu(QMenu* menu) {
    _statusMenu = menu;
}

void DROVAppDelegate::setupStatusItem() {
    _statusItem = new QSystemTrayIcon(this);
    _statusItem->setIcon(statusImage(false));
    _statusItem->setToolTip(QApplication::applicationDisplayName());
    if (QMenu* menu = statusMenu()) {
        _statusItem->setContextMenu(menu);
        // A left click opens the menu as a right click does: the icon has no action of its own.
        connect(_statusItem, &QSystemTrayIcon::activated, menu,
                [item = _statusItem, menu](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger)
                        menu->popup(menuPosition(item->geometry(), menu));
                });
    }
    _statusItem->show();
    updateStatusToolTip();
}

void DROVAppDelegate::changedStatusActive(bool active) {
    if (_statusItem)
        _statusItem->setIcon(statusImage(active));
}

void DROVAppDelegate::updateStatusToolTip() {
    if (!_statusItem)
        return;
    const QString name = QApplication::applicationDisplayName();
    _statusItem->setToolTip(isExporting() ? name + QStringLiteral(": saving your clicks...")
                            : _isTracking ? name + QStringLiteral(": tracking clicks")
                                          : name);
}

void DROVAppDelegate::showWindow() {
    if (_controllerWindow) {
        _controllerWindow->close();
        _controllerWindow.reset();
        return;
    }
    _controllerWindow = std::make_unique<DROVMainWindowController>();
    _controllerWindow->setDelegate(this);
    QWidget* window = _controllerWindow->window();
    if (!window)
        return;
    // Title without its buttons; the window stays above others and does not take the focus
    // away from the application the user works in.
    window->setWindowFlags(
        (window->windowFlags() & ~(Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                                   Qt::WindowMaximizeButtonHint)) |
        Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->move(centredOrigin(window));
    window->show();
    window->raise();
}

void DROVAppDelegate::controllerCloseAction() {
    if (!_controllerWindow)
        return;
    _controllerWindow->close();
    // The request comes from the controller itself: let it go once its action has returned.
    _controllerWindow.release()->deleteLater();
}

void DROVAppDelegate::showAbout() {
    Application::unhide();
    // Not modal: the application (and its control interface) keeps answering meanwhile.
    auto* about = new QMessageBox;
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowTitle(QStringLiteral("About zwirl"));
    about->setIconPixmap(QApplication::windowIcon().pixmap(96, 96));
    about->setText(QStringLiteral("<b>zwirl</b> %1").arg(QApplication::applicationVersion()));
    about->setInformativeText(
        QStringLiteral("Turns your mouse clicks into a sound and a picture, saved in the zwirl "
                       "folder on your desktop.\n\n© Tolvarek"));
    // Room for the text beside the icon instead of a narrow column.
    about->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 280px; }"));
    about->setStandardButtons(QMessageBox::Ok);
    about->setWindowFlag(Qt::WindowStaysOnTopHint);
    about->show();
    about->raise();
}

void DROVAppDelegate::terminate() {
    // Leave the event loop directly: quit() first asks every window to close, and the tray
    // icon's embedded window refuses, which cancels the quit.
    QCoreApplication::exit(0);
}

void DROVAppDelegate::checkLoginItem() {
    auto& defaults = UserDefaults::standardUserDefaults();
    if (!defaults.objectForKey(kStartupKey).isValid()) {
        defaults.setObject(true, kStartupKey);
        defaults.synchronize();
    }
    const bool startAtLogin = defaults.boolForKey(kStartupKey);
    const QString path = QCoreApplication::applicationFilePath();
    if (startAtLogin)
        TVKLoginItem::addAppAsLoginItem(path);
    else
        TVKLoginItem::deleteAppFromLoginItem(path);
}
