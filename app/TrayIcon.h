#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

namespace zwirl {

// The icon in the panel's tray and its menu. A left click opens the menu as a right click
// does: the icon has no action of its own. Its image and tooltip show whether a run is open
// and whether clicks are being saved.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    void setState(bool tracking, bool exporting);

Q_SIGNALS:
    void showWindowRequested();
    void liveToneRequested();
    void aboutRequested();
    void quitRequested();

private:
    // The icon goes before its menu.
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    // Made once: each new icon would add its own pixmaps to the pixmap cache at every change.
    const QIcon m_active{QStringLiteral(":/images/DROVStatus_active.png")};
    const QIcon m_inactive{QStringLiteral(":/images/DROVStatus_inactive.png")};
};

} // namespace zwirl
