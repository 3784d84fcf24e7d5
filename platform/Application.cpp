#include "platform/Application.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace {
ApplicationDelegate* g_delegate = nullptr;
QList<QPointer<QWidget>> g_hiddenWindows;
// The tray icon's window belongs to the panel, not to the windows a hidden application takes off
// the screen; a panel does not take an icon back once its window was unmapped.
bool isTrayIconWindow(const QWidget* window) {
    return window->objectName() == QLatin1String("QSystemTrayIconSys");
}
} // namespace

void Application::setDelegate(ApplicationDelegate* delegate) {
    g_delegate = delegate;
}

ApplicationDelegate* Application::delegate() {
    return g_delegate;
}

void Application::hide() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->isWindow() && !isTrayIconWindow(window)) {
            g_hiddenWindows.append(window);
            window->hide();
        }
    }
}

void Application::unhide() {
    for (const auto& window : std::exchange(g_hiddenWindows, {}))
        if (window)
            window->show();
}
