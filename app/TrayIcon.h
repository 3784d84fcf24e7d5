// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenu>
#include <QSystemTrayIcon>

#include <memory>

namespace zwirl {

class DROVAppDelegate;

// The icon in the panel's tray and its menu, whose items call the delegate. A left click opens
// the menu as a right click does: the icon has no action of its own.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(DROVAppDelegate& delegate);
    // The image, the tooltip and the menu's items, from the delegate's state.
    void update(bool tracking);
    // The debug window's item, hidden until zwirl --debug asks for it.
    void showDebugItem() { m_debug->setVisible(true); }

private:
    static QIcon image(const char* name);

    DROVAppDelegate& m_delegate;
    // The icon goes before its menu.
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    QAction* m_tracking;
    QAction* m_liveTone;
    QAction* m_startAtLogin;
    QAction* m_debug;
    // Made once: each new icon would add its own pixmaps to the pixmap cache at every change.
    const QIcon m_active = image("DROVStatus_active");
    const QIcon m_inactive = image("DROVStatus_inactive");
};

} // namespace zwirl
