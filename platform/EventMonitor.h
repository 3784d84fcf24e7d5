#pragma once

#include <QPoint>

#include <functional>

// Global monitors of the user's input in other applications, and the pointer position.
//
// A left-mouse-down monitor calls its handler on the main thread once for every press of the
// (logical) left button that goes to another application's window or the desktop. Presses on
// this application's own windows, its tray icon and its menus, including the press that closes
// an open menu, are not reported. Without an X server a monitor is created but never reports.
class EventMonitor {
public:
    // Starts a monitor; call on the main thread of a running QApplication. The event itself is
    // not passed: the handler reads what it needs (mouseLocation()) when it runs.
    static EventMonitor* addGlobalMonitorForLeftMouseDown(std::function<void()> handler);
    // Stops the monitor: once this returns its handler is never called again. Null and
    // already removed monitors are ignored, so a kept pointer may be removed again.
    static void removeMonitor(EventMonitor* monitor);
    // The pointer's position on the desktop in X11 root-window pixels, origin at the top left.
    // (0, 0) without an X server.
    static QPoint mouseLocation();

    class Listener;
    ~EventMonitor();

private:
    EventMonitor() = default;

    // The X connection, the event filter and the presses on hold; null once removed. The
    // EventMonitor itself stays allocated for the life of the process, so that a removed
    // monitor's address is never handed out again and removing it twice stays harmless.
    Listener* m_listener = nullptr;
};
