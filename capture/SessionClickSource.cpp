// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/SessionClickSource.h"

#include "capture/gnome/GnomeClickSource.h"
#include "capture/kde/KdeClickSource.h"
#include "capture/x11/X11ClickSource.h"

namespace zwirl {
namespace {

bool waylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

bool waylandDesktop(QLatin1String desktop) {
    return waylandSession() && qEnvironmentVariable("XDG_CURRENT_DESKTOP")
                                   .split(u':')
                                   .contains(desktop, Qt::CaseInsensitive);
}

template <class Source> std::unique_ptr<ClickSource> make() {
    return std::make_unique<Source>();
}

// One way of getting clicks: a new desktop is one entry here and one folder under capture/.
struct Kind {
    bool (*availableHere)();
    std::unique_ptr<ClickSource> (*create)();
    // Whether presses on this process's windows are known only if they are X11 windows.
    bool needsX11Windows = false;
};

// The preferred first.
const Kind kKinds[] = {
    {[] { return waylandDesktop(QLatin1String("GNOME")); }, make<GnomeClickSource>},
    {[] { return waylandDesktop(QLatin1String("KDE")); }, make<KdeClickSource>},
    // Any X server: the session's own, or XWayland, which shows only X11 applications' clicks.
    {[] { return true; }, make<X11ClickSource>, true},
};

} // namespace

std::unique_ptr<ClickSource> createClickSource(QObject* parent) {
    return std::make_unique<SessionClickSource>(parent);
}

bool clicksNeedX11Windows() {
    if (!waylandSession())
        return false;
    for (const Kind& kind : kKinds)
        if (kind.availableHere())
            return kind.needsX11Windows;
    return true;
}

SessionClickSource::SessionClickSource(QObject* parent)
    : ClickSource(parent), m_backends(std::size(kKinds)) {}

SessionClickSource::~SessionClickSource() {
    stop();
}

ClickSource& SessionClickSource::backend(std::size_t kind) {
    std::unique_ptr<ClickSource>& slot = m_backends[kind];
    if (slot)
        return *slot;
    slot = kKinds[kind].create();
    ClickSource* source = slot.get();
    connect(source, &ClickSource::clicked, this, &ClickSource::clicked);
    connect(source, &ClickSource::notice, this, &ClickSource::notice);
    connect(source, &ClickSource::setUpOffered, this, [this, source](auto&&... offer) {
        m_offering = source;
        Q_EMIT setUpOffered(offer...);
    });
    // A compositor that turns a run down after all: the next kind takes the run over.
    connect(source, &ClickSource::failed, this, [this, source, kind] {
        if (m_active == source && !startFrom(kind + 1))
            Q_EMIT failed();
    });
    // And one that can now, once set up, takes it back from a later kind.
    connect(source, &ClickSource::becameAvailable, this, [this, source, kind] {
        if (!m_running || m_active == source)
            return;
        if (m_active)
            m_active->stop();
        if (!startFrom(kind))
            Q_EMIT failed();
    });
    return *slot;
}

bool SessionClickSource::start() {
    m_running = true;
    return m_active || startFrom(0);
}

bool SessionClickSource::startFrom(std::size_t firstKind) {
    m_active = nullptr;
    for (std::size_t k = firstKind; k < std::size(kKinds); ++k) {
        // Opened only now: on GNOME, a connection to the X server would start XWayland.
        if (!kKinds[k].availableHere() || !backend(k).start())
            continue;
        // A compositor's source, where there is one, has told the user itself.
        if (kKinds[k].needsX11Windows && clicksNeedX11Windows())
            Q_EMIT notice(QStringLiteral(
                "This desktop runs Wayland: only clicks in X11 applications can be recorded."));
        m_active = m_backends[k].get();
        return true;
    }
    return false;
}

void SessionClickSource::stop() {
    m_running = false;
    if (m_active)
        m_active->stop();
    m_active = nullptr;
}

void SessionClickSource::setUp() {
    if (m_offering)
        m_offering->setUp();
}

void SessionClickSource::checkSetUp() {
    forEachCompositorSource(&ClickSource::checkSetUp);
}

void SessionClickSource::clearLeftovers() {
    forEachCompositorSource(&ClickSource::clearLeftovers);
}

void SessionClickSource::forEachCompositorSource(void (ClickSource::*call)()) {
    for (std::size_t k = 0; k < std::size(kKinds); ++k)
        if (!kKinds[k].needsX11Windows && kKinds[k].availableHere())
            (backend(k).*call)();
}

} // namespace zwirl
