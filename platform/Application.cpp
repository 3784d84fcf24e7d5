#include "platform/Application.h"

namespace {
ApplicationDelegate* g_delegate = nullptr;
} // namespace

void Application::setDelegate(ApplicationDelegate* delegate) {
    g_delegate = delegate;
}

ApplicationDelegate* Application::delegate() {
    return g_delegate;
}
