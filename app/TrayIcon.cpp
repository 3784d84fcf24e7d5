#include "app/TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>

namespace zwirl {

namespace {

// Where the menu opens: beside the icon, towards the middle of the screen, as a panel's menus
// do, so that it does not cover the icon; at the pointer when the icon's place is unknown.
QPoint menuPosition(const QRect& icon, const QMenu* menu) {
    if (!icon.isValid())
        return QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(icon.center());
    const bool below = !screen || icon.center().y() < screen->geometry().center().y();
    return below ? icon.bottomLeft() + QPoint(0, 1)
                 : icon.topLeft() - QPoint(0, menu->sizeHint().height());
}

} // namespace

TrayIcon::TrayIcon(QObject* parent)
    : QObject(parent), m_menu(std::make_unique<QMenu>(QStringLiteral("zwirl"))),
      m_icon(std::make_unique<QSystemTrayIcon>()) {
    const auto add = [this](const char* text, void (TrayIcon::*requested)()) {
        connect(m_menu->addAction(QString::fromLatin1(text)), &QAction::triggered, this, requested);
    };
    add("Show or Hide Window", &TrayIcon::showWindowRequested);
    add("Live Tone", &TrayIcon::liveToneRequested);
    m_menu->addSeparator();
    add("About zwirl", &TrayIcon::aboutRequested);
    add("Quit zwirl", &TrayIcon::quitRequested);
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    m_menu->popup(menuPosition(m_icon->geometry(), m_menu.get()));
            });
    setState(false, false);
    m_icon->show();
}

void TrayIcon::setState(bool tracking, bool exporting) {
    m_icon->setIcon(tracking ? m_active : m_inactive);
    const QString name = QApplication::applicationDisplayName();
    m_icon->setToolTip(exporting  ? name + QStringLiteral(": saving your clicks...")
                       : tracking ? name + QStringLiteral(": tracking clicks")
                                  : name);
}

} // namespace zwirl
