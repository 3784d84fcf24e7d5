#include "platform/XConnection.h"

#include "platform/PlatformLog.h"

#include <X11/Xlib.h>

namespace {

// Xlib has one error handler per process. While a trap is open it counts the errors of the
// trapped connection and hands every other error to the handler it replaced.
std::mutex trapMutex;
Display* trappedDisplay = nullptr;
int trappedErrors = 0;
XErrorHandler replacedHandler = nullptr;

int countTrappedError(Display* display, XErrorEvent* error) {
    if (display == trappedDisplay) {
        ++trappedErrors;
        return 0;
    }
    return replacedHandler ? replacedHandler(display, error) : 0;
}

} // namespace

std::unique_ptr<XConnection> XConnection::open() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        qCWarning(lcPlatform) << "Cannot connect to the X server" << qgetenv("DISPLAY")
                              << "- global clicks and screen pixels cannot be read";
        return nullptr;
    }
    return std::unique_ptr<XConnection>(new XConnection(display));
}

XConnection* XConnection::shared() {
    // Opened once on first use; a missing X server is not retried on every query.
    static std::unique_ptr<XConnection> connection = open();
    return connection.get();
}

std::mutex& XConnection::sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

XConnection::~XConnection() {
    XCloseDisplay(m_display);
}

bool XConnection::withErrorsTrapped(const std::function<void()>& requests) {
    // Every request sent outside a trap has a reply or was followed by a round trip, so no
    // error of an earlier request can still be on its way to be counted here.
    std::lock_guard lock(trapMutex);
    trappedDisplay = m_display;
    trappedErrors = 0;
    replacedHandler = XSetErrorHandler(countTrappedError);
    requests();
    XSetErrorHandler(replacedHandler);
    trappedDisplay = nullptr;
    return trappedErrors == 0;
}
