#include "app/TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QSystemTrayIcon>

namespace zwirl {

namespace {

QIcon statusImage(bool active) {
    return QIcon(active ? QStringLiteral(":/images/DROVStatus_active.png")
                        : QStringLiteral(":/images/DROVStatus_inactive.png"));
}

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
      m_icon(new QSystemTrayIcon(statusImage(false), this)) {
    connect(m_menu->addAction(QStringLiteral("Show or Hide Window")), &QAction::triggered, this,
            &TrayIcon::showWindowRequested);
    connect(m_menu->addAction(QStringLiteral("Live Tone")), &QAction::triggered, this,
            &TrayIcon::liveToneRequested);
    m_menu->addSeparator();
    connect(m_menu->addAction(QStringLiteral("About zwirl")), &QAction::triggered, this,
            &TrayIcon::aboutRequested);
    connect(m_menu->addAction(QStringLiteral("Quit zwirl")), &QAction::triggered, this,
            &TrayIcon::quitRequested);
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    m_menu->popup(menuPosition(m_icon->geometry(), m_menu.get()));
            });
    setState(false, false);
    m_icon->show();
}

// The icon goes before its menu.
TrayIcon::~TrayIcon() {
    delete m_icon;
}

void TrayIcon::setActive(bool active) {
    m_icon->setIcon(statusImage(active));
}

void TrayIcon::setState(bool tracking, bool exporting) {
    const QString name = QApplication::applicationDisplayName();
    m_icon->setToolTip(exporting  ? name + QStringLiteral(": saving your clicks...")
                       : tracking ? name + QStringLiteral(": tracking clicks")
                                  : name);
}

} // namespace zwirl
