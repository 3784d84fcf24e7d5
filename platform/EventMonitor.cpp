#include "platform/EventMonitor.h"

#include "platform/PlatformLog.h"
#include "platform/XConnection.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QInputEvent>
#include <QPointer>
#include <QRect>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <deque>
#include <vector>

namespace {

// How long a press that may have gone to one of our windows waits for Qt to deliver it to us.
// Qt reads the same press from its own connection at about the time it reaches ours; this is
// ample for an event loop that is not blocked, and short enough not to be noticed.
constexpr qint64 kHoldMs = 25;
// A press is judged at once only while it is this fresh, so that the pointer position read
// then is still where the press happened.
constexpr int32_t kFreshPressMs = 20;
// The X server's clock may lag ours by a tick (it may read a coarse clock).
constexpr int32_t kClockSlackMs = 5;
// Around our windows, presses are held: the pointer may have moved a little since the press.
constexpr int kWindowMarginPx = 32;
// After one of our windows was shown or hidden, the server may not yet agree on what is
// mapped; presses are held meanwhile.
constexpr qint64 kWindowChangeMs = 250;
// Timestamps of presses Qt delivered to us, kept to match raw presses read a little later.
constexpr size_t kOwnPressesKept = 64;

// The clock the X server stamps events with on Linux (milliseconds of CLOCK_MONOTONIC,
// wrapping at 32 bits); compared only to tell fresh presses from stale ones.
uint32_t monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1'000'000u);
}

bool isPressEvent(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        return true;
    default:
        return false;
    }
}

std::vector<std::unique_ptr<EventMonitor>>& allMonitors() {
    static std::vector<std::unique_ptr<EventMonitor>> monitors;
    return monitors;
}

} // namespace

// Reads raw button presses from an X connection of its own and decides, for each, whether it
// went to another application. Raw events carry no window; a press that went to one of our
// windows reaches Qt on Qt's connection with the same server timestamp. So each raw press is
// held until Qt had the chance to deliver it, unless none of our windows could have received
// it; the ones Qt delivered are dropped.
class EventMonitor::Listener : public QObject {
public:
    Listener(EventMonitor* owner, std::function<void()> handler);
    ~Listener() override;

    // No handler call after this returns.
    void stop();
    bool isDelivering() const { return m_delivering > 0; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Press {
        uint32_t time;    // X server timestamp
        qint64 releaseAt; // on m_clock
    };

    bool listenToServer();
    void loadButtonMapping();
    bool isLeftButton(int button) const;
    void readServerEvents();
    void handleRawPress(uint32_t time, int button);
    bool mayHaveReachedUs(uint32_t time);
    bool pointerNearOurWindows(const QList<QWindow*>& windows);
    void noteOwnPress(uint32_t time);
    bool isOwnPress(uint32_t time) const;
    void deliverReleasedPresses();

    EventMonitor* m_owner;
    std::function<void()> m_handler;
    std::unique_ptr<XConnection> m_x;
    int m_xiOpcode = 0;
    std::vector<unsigned char> m_buttonMap;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_holdTimer;
    QElapsedTimer m_clock;
    qint64 m_lastWindowChange = -kWindowChangeMs;
    std::deque<uint32_t> m_ownPresses;
    std::deque<Press> m_pending;
    int m_delivering = 0;
    bool m_stopped = false;
};

EventMonitor::Listener::Listener(EventMonitor* owner, std::function<void()> handler)
    : QObject(QCoreApplication::instance()), m_owner(owner), m_handler(std::move(handler)) {
    m_clock.start();
    m_holdTimer.setSingleShot(true);
    m_holdTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_holdTimer, &QTimer::timeout, this, [this] { deliverReleasedPresses(); });
    QCoreApplication::instance()->installEventFilter(this);
    m_x = XConnection::open();
    if (m_x && !listenToServer())
        m_x.reset();
}

EventMonitor::Listener::~Listener() {
    stop();
}

void EventMonitor::Listener::stop() {
    if (m_stopped)
        return;
    m_stopped = true;
    if (m_owner)
        m_owner->m_listener = nullptr;
    m_owner = nullptr;
    if (auto* app = QCoreApplication::instance())
        app->removeEventFilter(this);
    if (m_notifier)
        m_notifier->setEnabled(false);
    m_holdTimer.stop();
    m_pending.clear();
}

bool EventMonitor::Listener::listenToServer() {
    Display* display = m_x->display();
    int event = 0, error = 0;
    int major = 2, minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &m_xiOpcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success || major * 100 + minor < 202) {
        qCWarning(lcPlatform) << "The X server lacks XInput 2.2; global clicks cannot be read";
        return false;
    }
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawButtonPress);
    XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
    const bool selected = m_x->withErrorsTrapped([&] {
        XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
        XSync(display, False);
    });
    if (!selected) {
        qCWarning(lcPlatform) << "Cannot select raw button presses; global clicks cannot be read";
        return false;
    }
    loadButtonMapping();
    m_notifier = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { readServerEvents(); });
    // Round trips may already have queued events, which the socket will not announce again.
    QMetaObject::invokeMethod(
        this, [this] { readServerEvents(); }, Qt::QueuedConnection);
    return true;
}

// Raw events carry the physical button; the pointer mapping says which one acts as the left
// button (swapped for left-handed users).
void EventMonitor::Listener::loadButtonMapping() {
    unsigned char map[256];
    const int count = XGetPointerMapping(m_x->display(), map, int(sizeof map));
    m_buttonMap.assign(map, map + std::max(count, 0));
}

bool EventMonitor::Listener::isLeftButton(int button) const {
    if (button >= 1 && size_t(button) <= m_buttonMap.size())
        return m_buttonMap[size_t(button) - 1] == 1;
    return button == 1;
}

void EventMonitor::Listener::readServerEvents() {
    Display* display = m_x->display();
    while (!m_stopped && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify) {
            if (event.xmapping.request == MappingPointer)
                loadButtonMapping();
            continue;
        }
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != m_xiOpcode ||
            !XGetEventData(display, cookie))
            continue;
        uint32_t time = 0;
        int button = 0;
        const bool press = cookie->evtype == XI_RawButtonPress;
        if (press) {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            time = uint32_t(raw->time);
            button = raw->detail;
        }
        XFreeEventData(display, cookie);
        if (press)
            handleRawPress(time, button);
    }
    deliverReleasedPresses();
}

void EventMonitor::Listener::handleRawPress(uint32_t time, int button) {
    if (!isLeftButton(button) || isOwnPress(time))
        return;
    const qint64 now = m_clock.elapsed();
    m_pending.push_back({time, mayHaveReachedUs(time) ? now + kHoldMs : now});
}

// False only when none of our windows, popups or grabs could have taken the press; every
// doubt holds it.
bool EventMonitor::Listener::mayHaveReachedUs(uint32_t time) {
    const int32_t age = int32_t(monotonicMilliseconds() - time);
    if (age < -kClockSlackMs || age > kFreshPressMs)
        return true;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    if (QGuiApplication::mouseButtons() != Qt::NoButton || QApplication::activePopupWidget() ||
        QWidget::mouseGrabber())
        return true;
    if (m_clock.elapsed() - m_lastWindowChange < kWindowChangeMs)
        return true;
    QList<QWindow*> shown;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (!window->handle() || !window->isVisible())
            continue;
        if (window->type() == Qt::Popup)
            return true;
        shown.append(window);
    }
    return !shown.isEmpty() && pointerNearOurWindows(shown);
}

// Asks the server where the pointer and our windows are now. A window embedded elsewhere (the
// tray icon) is found as well, since the server knows its real place.
bool EventMonitor::Listener::pointerNearOurWindows(const QList<QWindow*>& windows) {
    Display* display = m_x->display();
    const Window root = DefaultRootWindow(display);
    bool near = true;
    const bool ok = m_x->withErrorsTrapped([&] {
        Window rootReturn = 0, child = 0;
        int x = 0, y = 0, windowX = 0, windowY = 0;
        unsigned int buttons = 0;
        if (!XQueryPointer(display, root, &rootReturn, &child, &x, &y, &windowX, &windowY,
                           &buttons))
            return; // on another screen of the server
        // Another button held down may be an implicit grab of one of our windows.
        if (buttons & (Button2Mask | Button3Mask | Button4Mask | Button5Mask))
            return;
        const QPoint pointer(x, y);
        for (QWindow* window : windows) {
            const auto id = Window(window->winId());
            int left = 0, top = 0, relativeX = 0, relativeY = 0;
            unsigned int width = 0, height = 0, border = 0, depth = 0;
            Window parentChild = 0, geometryRoot = 0;
            if (!XTranslateCoordinates(display, id, root, 0, 0, &left, &top, &parentChild) ||
                !XGetGeometry(display, id, &geometryRoot, &relativeX, &relativeY, &width, &height,
                              &border, &depth))
                return;
            const QRect area =
                QRect(left, top, int(width), int(height))
                    .adjusted(-kWindowMarginPx, -kWindowMarginPx, kWindowMarginPx, kWindowMarginPx);
            if (area.contains(pointer))
                return;
        }
        near = false;
    });
    return !ok || near;
}

bool EventMonitor::Listener::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (isPressEvent(type) && event->spontaneous()) {
        noteOwnPress(uint32_t(static_cast<QInputEvent*>(event)->timestamp()));
    } else if ((type == QEvent::Show || type == QEvent::Hide) && watched->isWindowType()) {
        m_lastWindowChange = m_clock.elapsed();
    }
    return false;
}

void EventMonitor::Listener::noteOwnPress(uint32_t time) {
    // Qt passes one press through several receivers (window, widget, parents).
    if (isOwnPress(time))
        return;
    m_ownPresses.push_back(time);
    if (m_ownPresses.size() > kOwnPressesKept)
        m_ownPresses.pop_front();
    const bool held = std::any_of(m_pending.begin(), m_pending.end(),
                                  [time](const Press& press) { return press.time == time; });
    // Not from inside Qt's delivery of the press: the handler may do anything.
    if (held)
        m_holdTimer.start(0);
}

bool EventMonitor::Listener::isOwnPress(uint32_t time) const {
    return std::find(m_ownPresses.begin(), m_ownPresses.end(), time) != m_ownPresses.end();
}

// Reports the pending presses in order, up to the first one still on hold.
void EventMonitor::Listener::deliverReleasedPresses() {
    QPointer<Listener> self(this);
    while (!m_stopped && !m_pending.empty()) {
        const Press press = m_pending.front();
        if (isOwnPress(press.time)) {
            m_pending.pop_front();
            continue;
        }
        const qint64 wait = press.releaseAt - m_clock.elapsed();
        if (wait > 0) {
            m_holdTimer.start(int(wait));
            return;
        }
        m_pending.pop_front();
        // The handler may remove this monitor, even run a nested event loop that deletes it.
        const std::function<void()> handler = m_handler;
        ++m_delivering;
        handler();
        if (!self)
            return;
        --m_delivering;
    }
}

EventMonitor::~EventMonitor() {
    delete m_listener;
}

EventMonitor* EventMonitor::addGlobalMonitorForLeftMouseDown(std::function<void()> handler) {
    auto* app = QCoreApplication::instance();
    auto& monitors = allMonitors();
    monitors.push_back(std::unique_ptr<EventMonitor>(new EventMonitor));
    EventMonitor* monitor = monitors.back().get();
    if (!app || QThread::currentThread() != app->thread()) {
        qCWarning(lcPlatform) << "A global click monitor needs the application's main thread";
        return monitor;
    }
    monitor->m_listener = new Listener(monitor, std::move(handler));
    return monitor;
}

void EventMonitor::removeMonitor(EventMonitor* monitor) {
    if (!monitor || !monitor->m_listener)
        return;
    Listener* listener = monitor->m_listener;
    listener->stop();
    // Removed from inside its own handler: the handler is still running.
    if (listener->isDelivering())
        listener->deleteLater();
    else
        delete listener;
}

QPoint EventMonitor::mouseLocation() {
    std::lock_guard lock(XConnection::sharedMutex());
    XConnection* connection = XConnection::shared();
    if (!connection)
        return {};
    Display* display = connection->display();
    Window root = 0, child = 0;
    int x = 0, y = 0, windowX = 0, windowY = 0;
    unsigned int buttons = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY,
                  &buttons);
    return QPoint(x, y);
}
