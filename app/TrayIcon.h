// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

namespace zwirl {

// The icon in the panel's tray and its menu. A left click opens the menu as a right click
// does: the icon has no action of its own. Its image and tooltip show whether a run is open,
// how many clicks it holds and how far the saving of clicks has come; the menu's items follow
// the run and the settings they switch.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    struct State {
        bool tracking = false;
        bool exporting = false;
        // Clicks of the open run.
        qsizetype clicks = 0;
        // Of the export being written.
        int exportPercent = 0;
        bool liveTone = false;
        bool startAtLogin = false;
    };

    explicit TrayIcon(QObject* parent = nullptr);
    void setState(const State& state);
    // The debug window's item, hidden until zwirl --debug asks for it.
    void showDebugItem();

Q_SIGNALS:
    // Start a run when none is open, stop the open one otherwise.
    void trackingRequested();
    void openFolderRequested();
    void showWindowRequested();
    void liveToneRequested();
    void startAtLoginRequested(bool start);
    void debugWindowRequested();
    void aboutRequested();
    void quitRequested();

private:
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

    static QIcon image(const char* name);
};

} // namespace zwirl
