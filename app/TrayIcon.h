// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenu>
#include <QSystemTrayIcon>

namespace zwirl {

class DROVAppDelegate;

// The tray icon and its menu, whose items call the delegate. A left click opens the menu too.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(DROVAppDelegate& delegate);
    void showDebugItem() { m_debug->setVisible(true); }

private:
    void update(bool tracking);

    DROVAppDelegate& m_delegate;
    // The icon goes before its menu.
    QMenu m_menu;
    QSystemTrayIcon m_icon;
    QAction* m_tracking;
    QAction* m_liveTone;
    QAction* m_startAtLogin;
    QAction* m_debug;
    // Made once: each new icon would add its own pixmaps to the pixmap cache at every change.
    const QIcon m_active, m_inactive;
};

} // namespace zwirl
