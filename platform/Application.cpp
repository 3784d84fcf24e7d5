#include "platform/Application.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace {
ApplicationDelegate* g_delegate = nullptr;
QList<QPointer<QWidget>> g_hiddenWindows;
} // namespace

void Application::setDelegate(ApplicationDelegate* delegate) {
    g_delegate = delegate;
}

ApplicationDelegate* Application::delegate() {
    return g_delegate;
}

void Application::hide() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->isWindow()) {
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
