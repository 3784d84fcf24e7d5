#pragma once

#include <functional>
#include <memory>
#include <mutex>

typedef struct _XDisplay Display;

// An Xlib connection of our own to the X server named by DISPLAY, closed with the object.
// Xlib's default error handler ends the process; requests that may fail (a window that went
// away, a point off the screen) run inside `withErrorsTrapped` instead.
class XConnection {
public:
    // Nothing (after a warning) when no X server can be reached.
    static std::unique_ptr<XConnection> open();
    // One connection for short queries from any thread; use it only while holding
    // `sharedMutex()`. Null when no X server can be reached.
    static XConnection* shared();
    static std::mutex& sharedMutex();

    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    Display* display() const { return m_display; }
    // Runs `requests` with the errors they cause on this connection counted instead of fatal;
    // true when none was reported. Errors of requests that have a reply arrive with it; for
    // requests without one, end `requests` with a round trip (XSync).
    bool withErrorsTrapped(const std::function<void()>& requests);

private:
    explicit XConnection(Display* display) : m_display(display) {}

    Display* m_display;
};
