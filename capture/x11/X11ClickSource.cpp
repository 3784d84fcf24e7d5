// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/x11/X11ClickSource.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QRect>
#include <QWindow>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xrandr.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

namespace zwirl {
namespace {

// Xlib ends the process on an X error. Ours ignores those of this file's requests (a window closed
// while we look at it), which fail by their results anyway, and hands on the others.
thread_local bool t_ignoreXErrors = false;
XErrorHandler g_replacedHandler = nullptr;

int handleXError(Display* display, XErrorEvent* error) {
    return t_ignoreXErrors || !g_replacedHandler ? 0 : g_replacedHandler(display, error);
}

// A broken connection ends the process, but on ours it only fails the call and stops the reader.
std::atomic<Display*> g_ownDisplay = nullptr;
XIOErrorHandler g_replacedIOHandler = nullptr;

int handleXIOError(Display* display) {
    return display == g_ownDisplay || !g_replacedIOHandler ? 0 : g_replacedIOHandler(display);
}

struct IgnoredXErrors {
    const bool m_before = t_ignoreXErrors;
    IgnoredXErrors() { t_ignoreXErrors = true; }
    ~IgnoredXErrors() { t_ignoreXErrors = m_before; }
};

// CLOCK_MONOTONIC in milliseconds, wrapping at 32 bits: the X server's clock on Linux.
std::uint32_t monotonicMilliseconds() {
    return std::uint32_t(QDeadlineTimer::current().deadline());
}

// A channel of a TrueColor pixel, all ones being 1.0.
double channel(unsigned long pixel, unsigned long mask) {
    return mask ? double(pixel & mask) / double(mask) : 0.0;
}

std::optional<ClickSample> readColour(Display* display, QPoint position) {
    XImage* image = XGetImage(display, DefaultRootWindow(display), position.x(), position.y(), 1, 1,
                              AllPlanes, ZPixmap);
    if (!image)
        return std::nullopt;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    const Visual* visual = DefaultVisual(display, DefaultScreen(display));
    return ClickSample{channel(pixel, visual->red_mask), channel(pixel, visual->green_mask),
                       channel(pixel, visual->blue_mask)};
}

// Whether a monitor (RandR 1.5), or the root window without them, shows the point.
bool onScreen(Display* display, QPoint position) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    const bool shown =
        std::any_of(monitors, monitors + std::max(count, 0), [&](const XRRMonitorInfo& monitor) {
            return QRect(monitor.x, monitor.y, monitor.width, monitor.height).contains(position);
        });
    XRRFreeMonitors(monitors);
    const int screen = DefaultScreen(display);
    return count > 0 ? shown
                     : QRect(0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen))
                           .contains(position);
}

std::vector<unsigned char> buttonMapping(Display* display) {
    unsigned char map[256];
    const int count = XGetPointerMapping(display, map, int(sizeof map));
    return {map, map + std::max(count, 0)};
}

void closeDisplay(Display* display) {
    IgnoredXErrors ignored;
    XCloseDisplay(display);
}

} // namespace

X11ClickSource::X11ClickSource(QObject* parent)
    : ClickSource(parent), m_display(XOpenDisplay(nullptr), closeDisplay),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    static std::once_flag installHandler;
    std::call_once(installHandler, [] {
        g_replacedHandler = XSetErrorHandler(&handleXError);
        g_replacedIOHandler = XSetIOErrorHandler(&handleXIOError);
    });
    if (!m_display) {
        qCWarning(lcCapture) << "Cannot connect to the X server" << qgetenv("DISPLAY")
                             << "- clicks in other applications cannot be recorded";
        return;
    }
    // At the session's end Xlib would end the process from the reader, while the run is open.
    g_ownDisplay = m_display.get();
    XSetIOErrorExitHandler(
        m_display.get(),
        [](Display*, void* self) { static_cast<X11ClickSource*>(self)->m_displayLost = true; },
        this);
}

X11ClickSource::~X11ClickSource() {
    stop();
    close(m_wakeFd);
    // Closing a broken connection would wait for ever for the reader Xlib may still count.
    if (m_displayLost)
        (void)m_display.release();
}

bool X11ClickSource::start() {
    if (m_reader.joinable())
        return true;
    if (!m_display || m_displayLost)
        return false;
    {
        std::lock_guard lock(m_xMutex);
        IgnoredXErrors ignored;
        Display* display = m_display.get();
        int event = 0, error = 0, major = 2, minor = 2;
        if (!XQueryExtension(display, "XInputExtension", &m_xiOpcode, &event, &error) ||
            XIQueryVersion(display, &major, &minor) != Success || major * 100 + minor < 202) {
            qCWarning(lcCapture) << "The X server lacks XInput 2.2: clicks cannot be recorded";
            return false;
        }
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawButtonPress);
        XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
        XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
        m_buttonMap = buttonMapping(display);
        XSync(display, False);
    }
    noteOwnWindows(nullptr, false);
    QCoreApplication::instance()->installEventFilter(this);
    m_reader = std::thread(&X11ClickSource::readPresses, this, ++m_run);
    return true;
}

void X11ClickSource::stop() {
    if (!m_reader.joinable())
        return;
    ++m_run;
    eventfd_write(m_wakeFd, 1);
    m_reader.join();
    QCoreApplication::instance()->removeEventFilter(this);
    if (m_displayLost)
        return;
    std::lock_guard lock(m_xMutex);
    IgnoredXErrors ignored;
    Display* display = m_display.get();
    XIEventMask none{XIAllMasterDevices, 0, nullptr};
    XISelectEvents(display, DefaultRootWindow(display), &none, 1);
    XSync(display, True); // drops the presses not yet read
}

std::optional<ClickSample> X11ClickSource::colourAt(QPoint position) {
    if (m_displayLost)
        return std::nullopt;
    std::lock_guard lock(m_xMutex);
    IgnoredXErrors ignored;
    if (!m_display || !onScreen(m_display.get(), position)) {
        qCDebug(lcCapture) << "Oops.";
        return std::nullopt;
    }
    const std::optional<ClickSample> colour = readColour(m_display.get(), position);
    // Waiting for the replies may have queued events that the reader's poll() will not see.
    if (XQLength(m_display.get()) > 0)
        eventfd_write(m_wakeFd, 1);
    return colour;
}

void X11ClickSource::readPresses(quint64 run) {
    t_ignoreXErrors = true;
    Display* display = m_display.get();
    pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    const auto reading = [&] { return run == m_run && !m_displayLost; };
    while (reading()) {
        {
            std::lock_guard lock(m_xMutex);
            while (reading() && XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == MappingNotify && event.xmapping.request == MappingPointer)
                    m_buttonMap = buttonMapping(display);
                XGenericEventCookie* cookie = &event.xcookie;
                if (cookie->type != GenericEvent || cookie->extension != m_xiOpcode ||
                    cookie->evtype != XI_RawButtonPress || !XGetEventData(display, cookie))
                    continue;
                const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
                const auto [button, time] = std::pair(raw->detail, std::uint32_t(raw->time));
                XFreeEventData(display, cookie);
                handlePress(run, button, time);
            }
        }
        if (eventfd_t count; poll(fds, 2, -1) > 0 && (fds[1].revents & POLLIN))
            eventfd_read(m_wakeFd, &count);
    }
}

// On the reader thread, as soon as the press is read.
void X11ClickSource::handlePress(quint64 run, int button, std::uint32_t time) {
    // Raw events carry the physical button, which the mapping may have swapped.
    const bool left = button >= 1 && size_t(button) <= m_buttonMap.size()
                          ? m_buttonMap[size_t(button) - 1] == 1
                          : button == 1;
    if (!left)
        return;
    Display* display = m_display.get();
    Window root = 0, child = 0;
    int x = 0, y = 0, windowX = 0, windowY = 0;
    unsigned int buttons = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX,
                       &windowY, &buttons))
        return; // the pointer is on another screen of the server
    const QPoint position(x, y);
    // From the top-level down to the deepest child.
    std::vector<unsigned long> underPointer;
    for (Window parent = child; parent != None && underPointer.size() < 64; parent = child) {
        underPointer.push_back(parent);
        if (!XQueryPointer(display, parent, &root, &child, &x, &y, &windowX, &windowY, &buttons))
            break;
    }
    if (wentToOwnWindow(underPointer, time))
        return;
    QMetaObject::invokeMethod(
        this,
        [this, run, position, colour = readColour(display, position)] {
            if (run == m_run)
                Q_EMIT clicked(position, colour);
        },
        Qt::QueuedConnection);
}

bool X11ClickSource::wentToOwnWindow(const std::vector<unsigned long>& windowsUnderPointer,
                                     std::uint32_t time) {
    std::lock_guard lock(m_windowsMutex);
    // An open menu of ours takes a press anywhere, also one read after it closed at or after the
    // press's time (when the server's clock is ours).
    if (m_popupShown)
        return true;
    const auto age = std::int32_t(monotonicMilliseconds() - time);
    if (m_popupClosedAt && age > -1000 && age < 60000 && std::int32_t(*m_popupClosedAt - time) >= 0)
        return true;
    return std::ranges::any_of(windowsUnderPointer, [&](auto window) {
        return std::ranges::find(m_ownWindows, window) != m_ownWindows.end();
    });
}

bool X11ClickSource::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::PlatformSurface || type == QEvent::Show || type == QEvent::Hide) &&
        watched->isWindowType())
        noteOwnWindows(type == QEvent::PlatformSurface ? nullptr : watched, type == QEvent::Show);
    return false;
}

// The X windows of this process (also the tray icon inside its host) and whether a menu is open.
// An id is known here before its window is mapped, so no press misses it.
void X11ClickSource::noteOwnWindows(QObject* changed, bool changedIsShown) {
    std::vector<unsigned long> windows;
    bool popupShown = false;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (!window->handle())
            continue;
        windows.push_back(window->winId());
        // Show and Hide arrive around the change of the window's visibility.
        const bool visible = window == changed ? changedIsShown : window->isVisible();
        popupShown = popupShown || (window->type() == Qt::Popup && visible);
    }
    std::lock_guard lock(m_windowsMutex);
    m_ownWindows = std::move(windows);
    if (m_popupShown && !popupShown)
        m_popupClosedAt = monotonicMilliseconds();
    m_popupShown = popupShown;
}

} // namespace zwirl
